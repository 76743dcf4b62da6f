// What start-up makes of each Windows: which calls narrow the DLL search, in which order,
// and which door, discovery and hold the transport takes, through the platform table with
// each system's answers. A compatibility mode shows as GetVersionExA's 9x answer beside
// RtlGetVersion's real one. Nothing here narrows this process's own search.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "drive/Transport.h"
#include "framework/PlatformCalls.h"
#include "framework/SystemEntry.h"

namespace telvio::test {
namespace {

// The answers of the system a row describes, and what start-up asked of it.
struct Answers {
    WindowsVersion reported;  // GetVersionExA's
    WindowsVersion real;      // RtlGetVersion's; platform 0 when ntdll lacks it
    bool hasSetDefault, setDefaultWorks, hasSetDirectory;
};
const Answers* answers = nullptr;
std::string seen;

void Saw(const std::string& call) {
    seen += (seen.empty() ? "" : " ") + call;
}

BOOL WINAPI ReportedVersion(OSVERSIONINFOA* info) {
    Saw("GetVersionExA");
    EXPECT_EQ(sizeof(OSVERSIONINFOA), info->dwOSVersionInfoSize);
    info->dwPlatformId = answers->reported.platformId;
    info->dwMajorVersion = answers->reported.major;
    info->dwMinorVersion = answers->reported.minor;
    return TRUE;
}

LONG WINAPI RealVersion(OSVERSIONINFOW* info) {
    Saw("RtlGetVersion");
    EXPECT_EQ(sizeof(OSVERSIONINFOW), info->dwOSVersionInfoSize);
    info->dwPlatformId = answers->real.platformId;
    info->dwMajorVersion = answers->real.major;
    info->dwMinorVersion = answers->real.minor;
    return 0;
}

BOOL WINAPI SetDefault(DWORD flags) {
    char call[48];
    std::snprintf(call, sizeof call, "SetDefaultDllDirectories(%lX)",
                  static_cast<unsigned long>(flags));
    Saw(call);
    return answers->setDefaultWorks ? TRUE : FALSE;
}

BOOL WINAPI SetDirectory(LPCSTR path) {
    Saw(std::string("SetDllDirectoryA(\"") + path + "\")");
    return TRUE;
}

HMODULE Preload(const char* name) {
    Saw(name);
    return nullptr;  // as where the system lacks it: start-up goes on all the same
}

constexpr WindowsVersion k98{VER_PLATFORM_WIN32_WINDOWS, 4, 10};
constexpr WindowsVersion k95{VER_PLATFORM_WIN32_WINDOWS, 4, 0};
constexpr WindowsVersion kNoNtdll{0, 0, 0};
constexpr WindowsVersion kNt4{VER_PLATFORM_WIN32_NT, 4, 0};
constexpr WindowsVersion kXp{VER_PLATFORM_WIN32_NT, 5, 1};
constexpr WindowsVersion kVista{VER_PLATFORM_WIN32_NT, 6, 0};
constexpr WindowsVersion k7{VER_PLATFORM_WIN32_NT, 6, 1};
constexpr WindowsVersion k10{VER_PLATFORM_WIN32_NT, 10, 0};

const char* const kPreloads =
    "uxtheme.dll userenv.dll setupapi.dll apphelp.dll propsys.dll dwmapi.dll cryptbase.dll "
    "oleacc.dll clbcatq.dll version.dll";

TEST(StartUp, TheRealWindowsDecidesTheDllSearchTheDoorAndTheHold) {
    const std::string preloads = kPreloads;
    const std::string setDefault = "SetDefaultDllDirectories(800)";
    const std::string setEmpty = "SetDllDirectoryA(\"\")";
    struct Case {
        const char* what;
        Answers system;
        std::string calls;  // what NarrowDllSearch asked, in order
        uint8_t passThrough, nt4;
        bool held;
    };
    const Case cases[] = {
        {"98", {k98, kNoNtdll, false, false, false}, "GetVersionExA", 0, 0, false},
        {"NT 4", {kNt4, kNoNtdll, false, false, false}, "GetVersionExA " + preloads, 1, 1, false},
        {"XP SP1 to 7 without the update",
         {kXp, kXp, false, false, true},
         "RtlGetVersion " + setEmpty + " " + preloads,
         1,
         0,
         true},
        {"Vista with the update",
         {kVista, kVista, true, true, true},
         "RtlGetVersion " + setEmpty + " " + preloads,
         1,
         0,
         true},
        {"7 with the update",
         {k7, k7, true, true, true},
         "RtlGetVersion " + setDefault,
         1,
         0,
         true},
        {"7 whose update refuses",
         {k7, k7, true, false, true},
         "RtlGetVersion " + setDefault + " " + setEmpty + " " + preloads,
         1,
         0,
         true},
        {"10", {k10, k10, true, true, true}, "RtlGetVersion " + setDefault, 1, 0, true},
        {"10 in Windows 98 / Me compatibility mode",
         {k98, k10, true, true, true},
         "RtlGetVersion " + setDefault,
         1,
         0,
         true},
        {"XP in Windows 95 compatibility mode",
         {k95, kXp, false, false, true},
         "RtlGetVersion " + setEmpty + " " + preloads,
         1,
         0,
         true},
    };
    const PlatformCalls saved = Platform();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        answers = &c.system;
        Platform() = PlatformCalls{
            ReportedVersion,
            c.system.real.platformId != 0 ? RealVersion : nullptr,
            c.system.hasSetDefault ? SetDefault : nullptr,
            c.system.hasSetDirectory ? SetDirectory : nullptr,
            Preload,
        };
        seen.clear();
        NarrowDllSearch();
        EXPECT_EQ(c.calls, seen);

        TransportState state;
        state.UsePassThrough = 7;
        state.isNT4OrOlder = 7;
        SelectPlatform(state);
        EXPECT_EQ(c.passThrough, state.UsePassThrough);
        if (c.passThrough) {
            EXPECT_EQ(c.nt4, state.isNT4OrOlder);
        }
        EXPECT_EQ(c.held, DriveHoldFor(state).Hold != nullptr);
    }
    Platform() = saved;
}

}  // namespace
}  // namespace telvio::test
