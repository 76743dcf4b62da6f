#include "sim/SimFile.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& text) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    text.clear();
    char chunk[4096];
    bool ok = true;
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        text.append(chunk, size_t(n));
    }
    close(fd);
    return ok;
}

bool AppendLine(const std::string& path, const std::string& line) {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::string whole = line + "\n";
    bool ok = WriteAll(fd, whole.data(), whole.size());
    return close(fd) == 0 && ok;
}

bool ReplaceWholeFile(const std::string& path, const std::string& contents) {
    std::string temp = path + ".tmp." + std::to_string(getpid());
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, contents.data(), contents.size());
    ok = close(fd) == 0 && ok;
    if (ok) ok = std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) unlink(temp.c_str());
    return ok;
}

std::string GetEnv(const char* name) {
    const char* value = getenv(name);
    return value != nullptr ? value : "";
}

uint32_t ProcessId() {
    return uint32_t(getpid());
}

static_assert(sizeof(pthread_mutex_t) <= 64, "SimLock's storage holds a mutex");

SimLock::SimLock() {
    pthread_mutex_init(reinterpret_cast<pthread_mutex_t*>(storage_), nullptr);
}
SimLock::~SimLock() {
    pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(storage_));
}
void SimLock::Lock() {
    pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(storage_));
}
void SimLock::Unlock() {
    pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(storage_));
}

}  // namespace sim
