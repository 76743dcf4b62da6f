// The few file operations the simulator's state and record need, with one twin per
// platform. Paths are always given as the scenario names them (absolute unix paths are
// fine on Windows too: under Wine they are reached through drive Z:).
#pragma once

#include <cstdint>
#include <string>

namespace sim {

// The whole file, or false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& text);
// Appends `line` with one write, so lines of several processes do not interleave.
bool AppendLine(const std::string& path, const std::string& line);
// Replaces the file's contents at once (write beside it, then rename over it).
bool ReplaceWholeFile(const std::string& path, const std::string& contents);
// An environment variable of the process as the platform keeps it now; empty if unset.
std::string GetEnv(const char* name);
// The calling process's id as its own platform numbers it.
uint32_t ProcessId();

// A plain lock with the platform's own primitive: MinGW's win32 thread model, which the
// Windows programs are built with, has no std::mutex.
class SimLock {
  public:
    SimLock();
    ~SimLock();
    SimLock(const SimLock&) = delete;
    SimLock& operator=(const SimLock&) = delete;
    void Lock();
    void Unlock();

  private:
    // Large enough for a CRITICAL_SECTION (40 bytes on x86-64) or a pthread mutex.
    alignas(8) unsigned char storage_[64];
};

class SimLockHold {
  public:
    explicit SimLockHold(SimLock& lock) : lock_(lock) { lock_.Lock(); }
    ~SimLockHold() { lock_.Unlock(); }
    SimLockHold(const SimLockHold&) = delete;
    SimLockHold& operator=(const SimLockHold&) = delete;

  private:
    SimLock& lock_;
};

}  // namespace sim
