// The one exception the program raises: a window resource (so far only the tip's
// window class) could not be made. Everything else reports through results.
#pragma once

#include <exception>

namespace telvio {

class ResourceException : public std::exception {
  public:
    explicit ResourceException(unsigned long lastError = 0) : lastError_(lastError) {}
    const char* what() const noexcept override { return "a window resource could not be created"; }
    // The system's last-error value at the failure, for a log or a debugger.
    unsigned long LastError() const noexcept { return lastError_; }

  private:
    unsigned long lastError_;
};

}  // namespace telvio
