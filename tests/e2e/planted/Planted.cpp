// A DLL that only tells that it was loaded: copied under the name of each DLL the program
// loads, beside the program, it stands for one an attacker left there. It exports nothing,
// so a program that took it in place of the system's finds none of its calls.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char marker[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("TELVIO_PLANTED_MARKER", marker, sizeof marker);
    if (length == 0 || length >= sizeof marker) return TRUE;
    char path[MAX_PATH];
    DWORD pathLength = GetModuleFileNameA(self, path, sizeof path - 2);
    path[pathLength++] = '\r';
    path[pathLength++] = '\n';
    // Appended, in one write, by every process and copy that loads one.
    HANDLE file = CreateFileA(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, path, pathLength, &written, nullptr);
        CloseHandle(file);
    }
    return TRUE;
}
