// What start-up makes of each Windows, through the platform table: the calls that narrow
// the DLL search, in order (recorded, never made), and the door and hold the transport
// takes. A compatibility mode is GetVersionExA's 9x answer beside RtlGetVersion's own.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "drive/Transport.h"
#include "system/PlatformCalls.h"
#include "system/SystemEntry.h"

namespace telvio::test {
namespace {

struct System {
    WindowsVersion reported;  // GetVersionExA's answer
    WindowsVersion real;      // RtlGetVersion's; platform 0: ntdll lacks it
    bool hasSetDefault, hasSetDirectory;
};
const System* answers = nullptr;
std::string seen;

void Saw(const std::string& call) {
    seen += (seen.empty() ? "" : " ") + call;
}

void Answer(const WindowsVersion& v, DWORD& platform, DWORD& major, DWORD& minor) {
    platform = v.platformId;
    major = v.major;
    minor = v.minor;
}

BOOL WINAPI Reported(OSVERSIONINFOA* i) {
    Saw("GetVersionExA");
    Answer(answers->reported, i->dwPlatformId, i->dwMajorVersion, i->dwMinorVersion);
    return TRUE;
}

LONG WINAPI Real(OSVERSIONINFOW* i) {
    Saw("RtlGetVersion");
    Answer(answers->real, i->dwPlatformId, i->dwMajorVersion, i->dwMinorVersion);
    return 0;
}

BOOL WINAPI SetDefault(DWORD flags) {
    Saw("SetDefaultDllDirectories(" + std::to_string(flags) + ")");
    return TRUE;
}

BOOL WINAPI SetDirectory(LPCSTR path) {
    Saw("SetDllDirectoryA(\"" + std::string(path) + "\")");
    return TRUE;
}

HMODULE Preload(const char* name) {
    Saw(name);
    return nullptr;  // as on a system that lacks it: start-up goes on
}

TEST(StartUp, TheRealWindowsDecidesTheDllSearchTheDoorAndTheHold) {
    constexpr WindowsVersion k98{VER_PLATFORM_WIN32_WINDOWS, 4, 10}, kNone{0, 0, 0},
        kNt4{VER_PLATFORM_WIN32_NT, 4, 0}, kXp{VER_PLATFORM_WIN32_NT, 5, 1},
        kVista{VER_PLATFORM_WIN32_NT, 6, 0}, k7{VER_PLATFORM_WIN32_NT, 6, 1},
        k10{VER_PLATFORM_WIN32_NT, 10, 0};
    const std::string preloads =
        " uxtheme.dll userenv.dll setupapi.dll apphelp.dll propsys.dll dwmapi.dll "
        "cryptbase.dll oleacc.dll clbcatq.dll version.dll";
    const std::string setDefault = " SetDefaultDllDirectories(2048)";  // 0x800: system32
    const std::string setEmpty = " SetDllDirectoryA(\"\")";
    const struct {
        const char* what;
        System system;
        std::string calls;
        uint8_t passThrough, nt4;
        bool held;
    } cases[] = {
        {"98", {k98, kNone, false, false}, "GetVersionExA", 0, 0, false},
        {"NT 4", {kNt4, kNone, false, false}, "GetVersionExA" + preloads, 1, 1, false},
        {"XP SP1 to 7 without the update",
         {kXp, kXp, false, true},
         "RtlGetVersion" + setEmpty + preloads,
         1,
         0,
         true},
        {"Vista with the update",
         {kVista, kVista, true, true},
         "RtlGetVersion" + setEmpty + preloads,
         1,
         0,
         true},
        {"7 with the update", {k7, k7, true, true}, "RtlGetVersion" + setDefault, 1, 0, true},
        {"10", {k10, k10, true, true}, "RtlGetVersion" + setDefault, 1, 0, true},
        {"10 in Windows 98 / Me compatibility mode",
         {k98, k10, true, true},
         "RtlGetVersion" + setDefault,
         1,
         0,
         true},
    };
    const PlatformCalls saved = Platform();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        answers = &c.system;
        Platform() = PlatformCalls{Reported, c.system.real.platformId ? Real : nullptr,
                                   c.system.hasSetDefault ? SetDefault : nullptr,
                                   c.system.hasSetDirectory ? SetDirectory : nullptr, Preload};
        seen.clear();
        NarrowDllSearch();
        EXPECT_EQ(c.calls, seen);

        TransportState state;
        state.isNT4OrOlder = 7;
        SelectPlatform(state);
        EXPECT_EQ(c.passThrough, state.UsePassThrough);
        EXPECT_EQ(c.passThrough ? c.nt4 : 7, state.isNT4OrOlder);
        EXPECT_EQ(c.held, DriveHoldFor(state).Hold != nullptr);
    }
    Platform() = saved;
}

}  // namespace
}  // namespace telvio::test
