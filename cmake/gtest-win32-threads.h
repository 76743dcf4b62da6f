// Forced into GoogleTest and the Windows tests. MinGW's win32 thread model, which the
// Windows trees are built with, has no std::mutex or std::condition_variable; the one
// GoogleTest class that wants them (used only by GoogleTest's own thread tests) is given
// here without them, and the rest of its Windows threading already uses Win32 locks.
// It includes no system header, so no Windows macro renames anything in the tests.
#pragma once

namespace testing {
namespace internal {

class Notification {
  public:
    Notification() = default;
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { __atomic_store_n(&notified_, true, __ATOMIC_RELEASE); }
    void WaitForNotification() {
        while (!__atomic_load_n(&notified_, __ATOMIC_ACQUIRE)) __builtin_ia32_pause();
    }

  private:
    bool notified_ = false;
};

}  // namespace internal
}  // namespace testing

#define GTEST_HAS_NOTIFICATION_ 1
