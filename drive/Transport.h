// Transport selection and life cycle (Windows only): which door reaches the drives, the
// ASPI library binding, and the release at the end.
#pragma once

#include <windows.h>

#include <cstdint>

#include "drive/DriveHold.h"
#include "drive/DriveRecord.h"

namespace telvio {

// Set on the window thread at start-up, read-only afterwards. Held by the main window.
struct TransportState {
    uint8_t UsePassThrough = 0;   // 1 NT pass-through, 0 ASPI
    uint8_t isNT4OrOlder = 0;     // NT major version <= 4; picks the discovery method
    HMODULE aspiModule = nullptr;
    HANDLE currentHandle = INVALID_HANDLE_VALUE;  // the device handle discovery opened last
};

// Reads the real platform, whatever a compatibility mode reports: NT family ->
// pass-through (and whether it is NT 4 or older), anything else -> ASPI.
void SelectPlatform(TransportState& state);

// Binds WNASPI32 when the ASPI transport is in use. 1 = a transport is ready. Its two
// failure message boxes are owned by `owner`.
uint8_t BindAspi(TransportState& state, HWND owner);

// Closes the device handles discovery left open (each exactly once) and frees the ASPI
// library if it was loaded. Always 1.
uint8_t ReleaseTransport(TransportState& state, DriveTable& table);

// How a run on this transport holds its drive: on Windows 2000 and later the system stops
// polling the drive and its eject button is locked until the run ends; elsewhere nothing.
DriveHold DriveHoldFor(const TransportState& state);

}  // namespace telvio
