// Transport selection, ASPI binding and release.
#include <windows.h>

#include "drive/AspiEntries.h"
#include "drive/DeviceCalls.h"
#include "drive/Transport.h"
#include "system/PlatformCalls.h"

namespace telvio {

void SelectPlatform(TransportState& state) {
    // The real family, not what a compatibility mode makes GetVersionExA say: on NT in
    // "Windows 98" mode the ASPI door would load its library by bare name, elevated. The
    // drive hold follows from this state too.
    const WindowsVersion version = RealWindowsVersion();
    if (version.platformId == VER_PLATFORM_WIN32_NT) {
        state.UsePassThrough = 1;
        state.isNT4OrOlder = version.major <= 4 ? 1 : 0;
    } else {
        state.UsePassThrough = 0;
    }
}

uint8_t BindAspi(TransportState& state, HWND owner) {
    if (state.UsePassThrough == 1) return 1;
    state.aspiModule = LoadLibraryA("WNASPI32");
    if (state.aspiModule == nullptr) {
        MessageBoxA(owner, "No find the dynamic library!!", "Error!!", MB_ICONINFORMATION);
        return 0;
    }
    aspiSupportInfo = reinterpret_cast<ASPI_CALL_GetSupportInfo*>(
        reinterpret_cast<void*>(GetProcAddress(state.aspiModule, "GetASPI32SupportInfo")));
    aspiSendCommand = reinterpret_cast<ASPI_CALL_SendCommand*>(
        reinterpret_cast<void*>(GetProcAddress(state.aspiModule, "SendASPI32Command")));
    if (aspiSupportInfo == nullptr || aspiSendCommand == nullptr) {
        // Half a library is no transport: nothing may call the entry that was found.
        aspiSupportInfo = nullptr;
        aspiSendCommand = nullptr;
        MessageBoxA(owner, "Cannot Load Dynamic Library!!!", "Error!", MB_OKCANCEL);
        return 0;
    }
    return 1;
}

uint8_t ReleaseTransport(TransportState& state, DriveTable& table) {
    // The last letter discovery opened may be a record's own: close each handle once.
    HANDLE closed[kDriveTableSlots + 1];
    int closedCount = 0;
    auto closeOnce = [&](HANDLE h) {
        if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
        for (int i = 0; i < closedCount; ++i) {
            if (closed[i] == h) return;
        }
        closed[closedCount++] = h;
        Device().closeHandle(h);
    };
    closeOnce(state.currentHandle);
    state.currentHandle = INVALID_HANDLE_VALUE;
    for (int i = 0; i < table.driveCount && i < kDriveTableSlots; ++i) {
        if (table.records[i] == nullptr) continue;
        closeOnce(table.records[i]->handle);
        table.records[i]->handle = nullptr;
    }
    if (state.aspiModule != nullptr) {
        aspiSupportInfo = nullptr;
        aspiSendCommand = nullptr;
        FreeLibrary(state.aspiModule);
        state.aspiModule = nullptr;
    }
    return 1;
}

}  // namespace telvio
