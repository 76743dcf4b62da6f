// Binding the ASPI library as the program does at start-up, on each platform family and
// with the library missing or incomplete. Which case runs is chosen by the ctest entry
// (GTEST_FILTER), because each needs another Windows version or library setting.
#include <windows.h>

#include <gtest/gtest.h>

#include "drive/DriveRecord.h"
#include "drive/Transport.h"
#include "tests/win/drive/MessageBoxWatcher.h"

namespace telvio::test {
namespace {

HWND Owner() {
    return CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                           nullptr, GetModuleHandleA(nullptr), nullptr);
}

bool AnyBoxShown() {
    struct S {
        static BOOL CALLBACK Find(HWND hwnd, LPARAM p) {
            char cls[32] = {};
            GetClassNameA(hwnd, cls, sizeof cls);
            DWORD pid = 0;
            GetWindowThreadProcessId(hwnd, &pid);
            if (pid == GetCurrentProcessId() && lstrcmpA(cls, "#32770") == 0) {
                *reinterpret_cast<bool*>(p) = true;
                return FALSE;
            }
            return TRUE;
        }
    };
    bool found = false;
    EnumWindows(&S::Find, reinterpret_cast<LPARAM>(&found));
    return found;
}

TEST(BindAspiNt, LoadsNothingAndShowsNothing) {
    TransportState state;
    SelectPlatform(state);
    ASSERT_EQ(1, state.UsePassThrough) << "run with Wine reporting an NT version";
    HWND owner = Owner();
    EXPECT_EQ(1, BindAspi(state, owner));
    EXPECT_EQ(nullptr, state.aspiModule);
    EXPECT_EQ(nullptr, GetModuleHandleA("WNASPI32"));
    EXPECT_FALSE(AnyBoxShown());
    DestroyWindow(owner);
}

TEST(BindAspi9x, BindsThePresentLibrary) {
    TransportState state;
    SelectPlatform(state);
    ASSERT_EQ(0, state.UsePassThrough) << "run with Wine reporting Windows 98";
    HWND owner = Owner();
    EXPECT_EQ(1, BindAspi(state, owner));
    EXPECT_NE(nullptr, state.aspiModule);
    EXPECT_EQ(state.aspiModule, GetModuleHandleA("WNASPI32"));
    EXPECT_FALSE(AnyBoxShown());
    DriveTable table{};
    EXPECT_EQ(1, ReleaseTransport(state, table));
    EXPECT_EQ(nullptr, state.aspiModule);
    DestroyWindow(owner);
}

TEST(BindAspi9x, MissingLibraryShowsItsBox) {
    TransportState state;
    SelectPlatform(state);
    ASSERT_EQ(0, state.UsePassThrough);
    HWND owner = Owner();
    MessageBoxWatcher watcher(owner, IDOK);
    EXPECT_EQ(0, BindAspi(state, owner));
    const SeenBox& box = watcher.Join();
    ASSERT_TRUE(box.appeared);
    EXPECT_EQ("No find the dynamic library!!", box.text);
    EXPECT_EQ("Error!!", box.caption);
    EXPECT_TRUE(box.hasOk);
    EXPECT_FALSE(box.hasCancel) << "MB_ICONINFORMATION alone: one OK button";
    EXPECT_TRUE(box.hasIcon);
    EXPECT_EQ(nullptr, state.aspiModule);
    DestroyWindow(owner);
}

TEST(BindAspi9x, MissingEntryPointShowsItsBoxWhateverTheAnswer) {
    for (int answer : {IDOK, IDCANCEL}) {
        TransportState state;
        SelectPlatform(state);
        ASSERT_EQ(0, state.UsePassThrough);
        HWND owner = Owner();
        MessageBoxWatcher watcher(owner, answer);
        EXPECT_EQ(0, BindAspi(state, owner)) << "answer " << answer;
        const SeenBox& box = watcher.Join();
        ASSERT_TRUE(box.appeared);
        EXPECT_EQ("Cannot Load Dynamic Library!!!", box.text);
        EXPECT_EQ("Error!", box.caption);
        EXPECT_TRUE(box.hasOk);
        EXPECT_TRUE(box.hasCancel) << "MB_OKCANCEL";
        EXPECT_FALSE(box.hasIcon);
        EXPECT_NE(nullptr, state.aspiModule) << "the module stays loaded";
        DestroyWindow(owner);
    }
}

}  // namespace
}  // namespace telvio::test
