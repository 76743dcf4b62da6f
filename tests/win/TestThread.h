// A thread for the Windows tests. The Windows trees are built with MinGW's win32 thread
// model, which has no std::thread; this is the little of it the tests use.
#pragma once

#include <windows.h>

#include <functional>
#include <utility>

namespace telvio::test {

class TestThread {
  public:
    TestThread() = default;
    explicit TestThread(std::function<void()> body)
        : body_(new std::function<void()>(std::move(body))) {
        DWORD id = 0;
        handle_ = CreateThread(nullptr, 0, &Run, body_, 0, &id);
        if (handle_ == nullptr) {
            // No thread: run it here rather than lose what the test waits for.
            (*body_)();
        }
    }
    TestThread(TestThread&& other) noexcept { *this = std::move(other); }
    TestThread& operator=(TestThread&& other) noexcept {
        join();
        std::swap(handle_, other.handle_);
        std::swap(body_, other.body_);
        return *this;
    }
    TestThread(const TestThread&) = delete;
    TestThread& operator=(const TestThread&) = delete;
    ~TestThread() { join(); }

    bool joinable() const { return handle_ != nullptr; }
    void join() {
        if (handle_ != nullptr) {
            WaitForSingleObject(handle_, INFINITE);
            CloseHandle(handle_);
            handle_ = nullptr;
        }
        delete body_;
        body_ = nullptr;
    }

  private:
    static DWORD WINAPI Run(void* body) {
        (*static_cast<std::function<void()>*>(body))();
        return 0;
    }

    HANDLE handle_ = nullptr;
    std::function<void()>* body_ = nullptr;
};

}  // namespace telvio::test
