// The one exception the program raises: a window resource (so far only the tip's
// window class) could not be made. Everything else reports through results.
#pragma once

#include <exception>

namespace telvio {

class ResourceException : public std::exception {
  public:
    // `what` names the resource for the user; it must outlive the exception (a literal).
    explicit ResourceException(unsigned long lastError = 0,
                               const char* what = "a window resource could not be created")
        : lastError_(lastError), what_(what) {}
    const char* what() const noexcept override { return what_; }
    // The system's last-error value at the failure, for a log or a debugger.
    unsigned long LastError() const noexcept { return lastError_; }

  private:
    unsigned long lastError_;
    const char* what_;
};

}  // namespace telvio
