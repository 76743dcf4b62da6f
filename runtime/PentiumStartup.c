/* The i686 program's start-up object, linked in place of MinGW's crt2.o (see
 * PentiumRuntime.cmake). MinGW's copy comes built for the Pentium Pro: the loop that skips
 * the program's name in the command line uses CMOV, so on the Pentium, Pentium MMX or
 * K6-2 of a Windows 98 machine the program died before WinMain. This one does what the
 * toolchain's (MinGW-w64 10) does for a program with WinMain, in the same order, and is
 * compiled with the program's -march=i586. */
#include <windows.h>

#include <float.h>
#include <stdlib.h>
#include <string.h>

/* What the rest of MinGW's runtime (libmingw32) provides or expects from crt2.o. */
typedef void(__cdecl* VoidCall)(void);
typedef int(__cdecl* IntCall)(void);
typedef struct {
    int newmode;
} StartupInfo;

extern char _image_base__[]; /* the image's first byte, its DOS header */
extern IntCall __xi_a[], __xi_z[];
extern VoidCall __xc_a[], __xc_z[];
extern const PIMAGE_TLS_CALLBACK __dyn_tls_init_callback;
extern volatile void* __native_startup_lock;
extern volatile unsigned int __native_startup_state;
extern int __mingw_app_type;
extern int __mingw_initltsdrot_force, __mingw_initltsdyn_force, __mingw_initltssuo_force;
extern int _MINGW_INSTALL_DEBUG_MATHERR;
#undef _fmode
#undef _commode
extern int _dowildcard, _newmode, _fmode, _commode;
extern LPTOP_LEVEL_EXCEPTION_FILTER __mingw_oldexcpt_handler;
extern char*** __MINGW_IMP_SYMBOL(__initenv);

long CALLBACK _gnu_exception_handler(EXCEPTION_POINTERS*);
struct _exception;
int __cdecl _matherr(struct _exception*); /* MinGW's own, not msvcrt's */
void __mingw_setusermatherr(int(__cdecl*)(struct _exception*));
int* __cdecl __p__commode(void);
char** __cdecl __p__acmdln(void);
void __cdecl __set_app_type(int);
int __cdecl __getmainargs(int*, char***, char***, int, StartupInfo*);
int __cdecl _setargv(void);
void __cdecl _amsg_exit(int);
void __cdecl _initterm(VoidCall*, VoidCall*);
void __cdecl _cexit(void);
void __main(void);
int main(int, char**, char**);
void _pei386_runtime_relocator(void);

enum { kUninitialized, kInitializing, kInitialized };
enum { kConsoleApp = 1, kGuiApp = 2 };

HINSTANCE __mingw_winmain_hInstance;
char* __mingw_winmain_lpCmdLine;
DWORD __mingw_winmain_nShowCmd = SW_SHOWDEFAULT;
char __mingw_module_is_dll = 0;

static int argc;
static char** argv;
static char** envp;
static int managedApp;
static int hasCctor;
static StartupInfo startInfo;

/* A managed (.NET) image leaves the process to its runtime, which calls exit itself. */
static int IsManagedApp(void) {
    const IMAGE_DOS_HEADER* dos = (const IMAGE_DOS_HEADER*)_image_base__;
    const IMAGE_NT_HEADERS32* nt;

    /* Pulls in the runtime's TLS directory and its thread-exit callbacks. */
    __mingw_initltsdrot_force = 1;
    __mingw_initltsdyn_force = 1;
    __mingw_initltssuo_force = 1;
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return 0;
    nt = (const IMAGE_NT_HEADERS32*)((const char*)dos + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return 0;
    if (nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC) return 0;
    if (nt->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_COM_DESCRIPTOR) return 0;
    return nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_COM_DESCRIPTOR].VirtualAddress != 0;
}

static int __cdecl PreCInit(void) {
    managedApp = IsManagedApp();
    __set_app_type(__mingw_app_type ? kGuiApp : kConsoleApp);
    *__p__fmode() = _fmode;
    *__p__commode() = _commode;
    _setargv();
    if (_MINGW_INSTALL_DEBUG_MATHERR == 1) __mingw_setusermatherr(_matherr);
    return 0;
}

static void __cdecl PreCppInit(void) {
    startInfo.newmode = _newmode;
    __getmainargs(&argc, &argv, &envp, _dowildcard, &startInfo);
}

/* Run by _initterm from the C and C++ initializer tables, ahead of everything else. */
__attribute__((section(".CRT$XIAA"), used)) IntCall __mingw_pcinit = PreCInit;
__attribute__((section(".CRT$XCAA"), used)) VoidCall __mingw_pcppinit = PreCppInit;

static void __cdecl IgnoreInvalidParameter(const wchar_t* expression, const wchar_t* function,
                                           const wchar_t* file, unsigned line, uintptr_t reserved) {
    (void)expression, (void)function, (void)file, (void)line, (void)reserved;
}

/* msvcrt keeps the arguments it parsed; the program gets copies of its own. */
static void DuplicateArguments(void) {
    char** copy = malloc(sizeof(char*) * (argc + 1));
    int i;
    for (i = 0; i < argc; i++) {
        size_t size = strlen(argv[i]) + 1;
        copy[i] = malloc(size);
        memcpy(copy[i], argv[i], size);
    }
    copy[i] = NULL;
    argv = copy;
}

/* The command line without the program's name, quoted or not, and the blanks after it. */
static char* CommandLineAfterName(char* line) {
    BOOL quoted = FALSE;
    while ((unsigned char)*line > ' ' || (*line != '\0' && quoted)) {
        if (*line == '"') quoted = !quoted;
        ++line;
    }
    while (*line != '\0' && (unsigned char)*line <= ' ') ++line;
    return line;
}

/* The running fiber's stack base (NT_TIB.StackBase), read as the runtime does; the
 * header's NtCurrentTeb trips GCC 12's bounds check. */
static void* FiberId(void) {
    void* stackBase;
    __asm__("movl %%fs:4, %0" : "=r"(stackBase));
    return stackBase;
}

static int Start(void) {
    STARTUPINFOA startup;
    void* fiber = FiberId();
    void* owner;
    BOOL nested = FALSE;
    char* commandLine;
    int result;

    memset(&startup, 0, sizeof startup);
    if (__mingw_app_type) GetStartupInfoA(&startup);
    while ((owner = InterlockedCompareExchangePointer((volatile PVOID*)&__native_startup_lock,
                                                      fiber, NULL)) != NULL) {
        if (owner == fiber) {
            nested = TRUE;
            break;
        }
        Sleep(1000);
    }
    if (__native_startup_state == kInitializing) {
        _amsg_exit(31);
    } else if (__native_startup_state == kUninitialized) {
        __native_startup_state = kInitializing;
        _initterm((VoidCall*)(void*)__xi_a, (VoidCall*)(void*)__xi_z);
    } else {
        hasCctor = 1;
    }
    if (__native_startup_state == kInitializing) {
        _initterm(__xc_a, __xc_z);
        __native_startup_state = kInitialized;
    }
    if (!nested) InterlockedExchangePointer((volatile PVOID*)&__native_startup_lock, NULL);
    if (__dyn_tls_init_callback != NULL) __dyn_tls_init_callback(NULL, DLL_THREAD_ATTACH, NULL);

    _pei386_runtime_relocator();
    __mingw_oldexcpt_handler = SetUnhandledExceptionFilter(_gnu_exception_handler);
    _set_invalid_parameter_handler(IgnoreInvalidParameter);
    _fpreset();

    __mingw_winmain_hInstance = (HINSTANCE)_image_base__;
    commandLine = *__p__acmdln();
    if (commandLine != NULL) __mingw_winmain_lpCmdLine = CommandLineAfterName(commandLine);
    if (__mingw_app_type) {
        __mingw_winmain_nShowCmd =
            (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
    }
    DuplicateArguments();
    __main();
    *__MINGW_IMP_SYMBOL(__initenv) = envp;
    result = main(argc, argv, envp);
    if (!managedApp) exit(result);
    if (!hasCctor) _cexit();
    return result;
}

int WinMainCRTStartup(void) {
    __mingw_app_type = 1;
    return Start();
}

int mainCRTStartup(void) {
    __mingw_app_type = 0;
    return Start();
}

int __cdecl atexit(VoidCall call) {
    return _onexit((_onexit_t)call) ? 0 : -1;
}

/* MinGW's relocator patches references to data imported from DLLs. The program imports
 * none, so the linker wrote no such reference; should one ever appear, end at once
 * rather than run with it unpatched (the runtime's relocator is built for the Pentium
 * Pro as well). */
extern char __RUNTIME_PSEUDO_RELOC_LIST__, __RUNTIME_PSEUDO_RELOC_LIST_END__;

void _pei386_runtime_relocator(void) {
    if (&__RUNTIME_PSEUDO_RELOC_LIST_END__ != &__RUNTIME_PSEUDO_RELOC_LIST__) abort();
}
