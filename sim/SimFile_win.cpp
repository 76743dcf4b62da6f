#include "sim/SimFile.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace sim {

namespace {

// A unix path from the scenario is reached through Wine's Z: drive.
std::string NativePath(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    std::string out = "Z:" + path;
    for (char& c : out) {
        if (c == '/') c = '\\';
    }
    return out;
}

bool WriteAll(HANDLE file, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        DWORD written = 0;
        DWORD chunk = DWORD(std::min<size_t>(data.size() - done, 1u << 20));
        if (!WriteFile(file, data.data() + done, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& text) {
    HANDLE file = CreateFileA(NativePath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    text.clear();
    char chunk[4096];
    bool ok = true;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk, sizeof chunk, &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0) break;
        text.append(chunk, got);
    }
    CloseHandle(file);
    return ok;
}

bool AppendLine(const std::string& path, const std::string& line) {
    // Append-only access makes every write land at the end, as O_APPEND does.
    HANDLE file = CreateFileA(NativePath(path).c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = WriteAll(file, line + "\n");
    CloseHandle(file);
    return ok;
}

bool ReplaceWholeFile(const std::string& path, const std::string& contents) {
    const std::string target = NativePath(path);
    const std::string temp = target + ".tmp." + std::to_string(GetCurrentProcessId());
    HANDLE file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = WriteAll(file, contents);
    CloseHandle(file);
    if (ok) ok = MoveFileExA(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    if (!ok) DeleteFileA(temp.c_str());
    return ok;
}

// The process environment itself, not the C runtime's copy taken at its start, so a
// test can name a scenario with SetEnvironmentVariableA before it loads the library.
std::string GetEnv(const char* name) {
    char small[512];
    DWORD n = GetEnvironmentVariableA(name, small, sizeof small);
    if (n == 0) return "";
    if (n < sizeof small) return std::string(small, n);
    std::string big(n, '\0');
    DWORD m = GetEnvironmentVariableA(name, &big[0], n);
    big.resize(m < n ? m : 0);
    return big;
}

uint32_t ProcessId() {
    return uint32_t(GetCurrentProcessId());
}

static_assert(sizeof(CRITICAL_SECTION) <= 64, "SimLock's storage holds a critical section");

SimLock::SimLock() {
    InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}
SimLock::~SimLock() {
    DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}
void SimLock::Lock() {
    EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}
void SimLock::Unlock() {
    LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}

}  // namespace sim
