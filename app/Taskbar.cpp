#include "app/Taskbar.h"

#include "app/MessageFilter.h"
#include "system/SystemEntry.h"

#include <objbase.h>

#include <new>

namespace telvio {

// The part of ITaskbarList3 used here, in its table order (ITaskbarList, ITaskbarList2,
// then the first two of ITaskbarList3). Declared here because the system headers show
// it only to programs built for Windows 7 and later, and this one loads on 98. Not in an
// unnamed namespace: there the compiler sees that nothing here implements it, and takes
// every call through it for one that cannot happen.
struct TaskbarList3 : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE HrInit() = 0;
    virtual HRESULT STDMETHODCALLTYPE AddTab(HWND window) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteTab(HWND window) = 0;
    virtual HRESULT STDMETHODCALLTYPE ActivateTab(HWND window) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND window) = 0;
    virtual HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND window, BOOL fullscreen) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProgressValue(HWND window, ULONGLONG completed,
                                                       ULONGLONG total) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProgressState(HWND window, int flags) = 0;
};

namespace {

const GUID kClsidTaskbarList = {
    0x56FDF344, 0xFD6D, 0x11D0, {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
const GUID kIidTaskbarList3 = {
    0xEA1AFB91, 0x9E28, 0x4B86, {0x90, 0xE9, 0x9E, 0x9F, 0x8A, 0x5E, 0xEF, 0xAF}};

using CoInitializeCall = HRESULT(WINAPI*)(void*);
using CoUninitializeCall = void(WINAPI*)();
using CoCreateInstanceCall = HRESULT(WINAPI*)(const GUID&, IUnknown*, DWORD, const GUID&, void**);

}  // namespace

// COM stays loaded with the object: ole32 is loaded only once a taskbar asks for it, so
// the systems and starts that have none never load it.
struct TaskbarList {
    TaskbarList3* object;
    CoUninitializeCall uninitialize;  // null when this thread's COM was not ours to start
};

UINT TaskbarButtonMessage(HWND window) {
    const UINT message = RegisterWindowMessageA("TaskbarButtonCreated");
    if (message == 0) return 0;
    // The program runs elevated, and the taskbar does not: without this, the system drops
    // the taskbar's message on its way in.
    LetMessageIn(window, message);
    return message;
}

TaskbarList* OpenTaskbarList() {
    HMODULE ole32 = LoadSystemLibrary("ole32.dll");
    auto initialize = SystemEntry<CoInitializeCall>(ole32, "CoInitialize");
    auto uninitialize = SystemEntry<CoUninitializeCall>(ole32, "CoUninitialize");
    auto create = SystemEntry<CoCreateInstanceCall>(ole32, "CoCreateInstance");
    if (initialize == nullptr || uninitialize == nullptr || create == nullptr) return nullptr;
    // S_FALSE: already started on this thread, and counted again all the same. Another
    // apartment (RPC_E_CHANGED_MODE) can still create the object, and is not ours to end.
    const HRESULT started = initialize(nullptr);
    CoUninitializeCall ours = SUCCEEDED(started) ? uninitialize : nullptr;
    void* object = nullptr;
    if (SUCCEEDED(
            create(kClsidTaskbarList, nullptr, CLSCTX_INPROC_SERVER, kIidTaskbarList3, &object)) &&
        object != nullptr) {
        auto* list = static_cast<TaskbarList3*>(object);
        if (SUCCEEDED(list->HrInit())) {
            if (auto* held = new (std::nothrow) TaskbarList{list, ours}) return held;
        }
        list->Release();
    }
    if (ours) ours();
    return nullptr;
}

void ShowTaskbarProgress(TaskbarList* list, HWND window, TaskbarState state, int percent) {
    if (list == nullptr) return;
    list->object->SetProgressState(window, static_cast<int>(state));
    if (state == TaskbarState::Normal || state == TaskbarState::Error) {
        list->object->SetProgressValue(window, ULONGLONG(percent < 0 ? 0 : percent), 100);
    }
}

void CloseTaskbarList(TaskbarList* list) {
    if (list == nullptr) return;
    list->object->Release();
    if (list->uninitialize) list->uninitialize();
    delete list;
}

void FlashTaskbarButton(HWND window) {
    // From 98 and 2000 on; older systems leave the button as it is.
    auto flash = SystemEntry<BOOL(WINAPI*)(FLASHWINFO*)>("user32.dll", "FlashWindowEx");
    if (flash == nullptr) return;
    FLASHWINFO info{};
    info.cbSize = sizeof info;
    info.hwnd = window;
    // The button only, until the user brings the window to the front.
    info.dwFlags = FLASHW_TRAY | FLASHW_TIMERNOFG;
    flash(&info);
}

}  // namespace telvio
