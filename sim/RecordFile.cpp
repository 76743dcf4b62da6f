#include "sim/RecordFile.h"

#include <cstdio>
#include <map>

#include "sim/Digits.h"
#include "sim/SimFile.h"

namespace sim {

namespace {

const char* DirName(Dir dir) {
    switch (dir) {
        case Dir::In:
            return "in";
        case Dir::Out:
            return "out";
        default:
            return "none";
    }
}

template <typename T>
bool Field(const std::map<std::string, std::string>& f, const char* key, int base, T& out) {
    auto it = f.find(key);
    uint64_t v;
    if (it == f.end() || !ParseUnsigned(it->second, base, T(~T(0)), v)) return false;
    out = T(v);
    return true;
}

bool ParseSenseText(const std::string& text, SenseCode& sense) {
    if (text.size() != 8 || text[2] != '/' || text[5] != '/') return false;
    uint64_t k, a, q;
    if (!ParseUnsigned(text.substr(0, 2), 16, 0xFF, k) ||
        !ParseUnsigned(text.substr(3, 2), 16, 0xFF, a) ||
        !ParseUnsigned(text.substr(6, 2), 16, 0xFF, q))
        return false;
    sense = SenseCode{uint8_t(k), uint8_t(a), uint8_t(q)};
    return true;
}

}  // namespace

std::string FormatRecordLine(const RecordEntry& e) {
    const CommandRecord& c = e.command;
    std::string cdb;
    char hex[3];
    for (size_t i = 0; i < c.cdbLength && i < c.cdb.size(); ++i) {
        std::snprintf(hex, sizeof hex, "%02x", c.cdb[i]);
        cdb += hex;
    }
    if (cdb.empty()) cdb = "-";
    char line[512];
    std::snprintf(line, sizeof line,
                  "cmd door=%s drive=%s pid=%u adapter=%u target=%u lun=%u dir=%s length=%u "
                  "timeout=%u cdb=%s digest=%08x status=%u sense=%02x/%02x/%02x transport=%s",
                  e.door.c_str(), e.drive.c_str(), unsigned(e.pid), unsigned(c.adapter),
                  unsigned(c.target), unsigned(c.lun), DirName(c.dir), unsigned(c.length),
                  unsigned(c.timeoutSeconds), cdb.c_str(), unsigned(c.dataDigest),
                  unsigned(c.status), unsigned(c.sense.key), unsigned(c.sense.asc),
                  unsigned(c.sense.ascq),
                  c.timedOut          ? "timeout"
                  : c.transportFailed ? "fail"
                                      : "ok");
    return line;
}

std::string FormatDoorLockLine(const std::string& door, const std::string& drive, uint32_t pid,
                               bool prevent, int fd) {
    return "lock door=" + door + " drive=" + drive + " pid=" + std::to_string(pid) +
           " prevent=" + (prevent ? "1" : "0") + " fd=" + std::to_string(fd);
}

std::string FormatCloseLine(const std::string& door, const std::string& drive, uint32_t pid,
                            int fd) {
    return "close door=" + door + " drive=" + drive + " pid=" + std::to_string(pid) +
           " fd=" + std::to_string(fd);
}

bool ParseRecordLine(const std::string& line, RecordEntry& entry) {
    if (line.compare(0, 4, "cmd ") != 0) return false;
    std::map<std::string, std::string> f;
    size_t pos = 4;
    while (pos < line.size()) {
        size_t end = line.find(' ', pos);
        if (end == std::string::npos) end = line.size();
        std::string word = line.substr(pos, end - pos);
        pos = end + 1;
        if (word.empty()) continue;
        size_t eq = word.find('=');
        if (eq == std::string::npos) return false;
        f[word.substr(0, eq)] = word.substr(eq + 1);
    }
    RecordEntry e;
    CommandRecord& c = e.command;
    if (f.count("door") == 0 || f.count("drive") == 0 || f.count("dir") == 0 ||
        f.count("cdb") == 0 || f.count("sense") == 0 || f.count("transport") == 0)
        return false;
    e.door = f["door"];
    e.drive = f["drive"];
    if (!Field(f, "pid", 10, e.pid) || !Field(f, "adapter", 10, c.adapter) ||
        !Field(f, "target", 10, c.target) || !Field(f, "lun", 10, c.lun) ||
        !Field(f, "length", 10, c.length) || !Field(f, "timeout", 10, c.timeoutSeconds) ||
        !Field(f, "digest", 16, c.dataDigest) || !Field(f, "status", 10, c.status) ||
        !ParseSenseText(f["sense"], c.sense))
        return false;
    const std::string& dir = f["dir"];
    if (dir == "in")
        c.dir = Dir::In;
    else if (dir == "out")
        c.dir = Dir::Out;
    else if (dir == "none")
        c.dir = Dir::None;
    else
        return false;
    const std::string& cdb = f["cdb"];
    if (cdb != "-") {
        if (cdb.size() % 2 != 0 || cdb.size() > 2 * c.cdb.size()) return false;
        for (size_t i = 0; i < cdb.size() / 2; ++i) {
            uint64_t b;
            if (!ParseUnsigned(cdb.substr(2 * i, 2), 16, 0xFF, b)) return false;
            c.cdb[i] = uint8_t(b);
        }
        c.cdbLength = uint8_t(cdb.size() / 2);
    }
    c.opcode = c.cdb[0];
    const std::string& transport = f["transport"];
    if (transport != "ok" && transport != "fail" && transport != "timeout") return false;
    c.transportFailed = transport != "ok";
    c.timedOut = transport == "timeout";
    entry = e;
    return true;
}

bool ReadRecordFile(const std::string& path, std::vector<RecordEntry>& entries) {
    std::string text;
    if (!ReadWholeFile(path, text)) return false;
    entries.clear();
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        // A line still being written by another process has no end yet: leave it.
        if (end == std::string::npos) break;
        RecordEntry e;
        if (ParseRecordLine(text.substr(pos, end - pos), e)) entries.push_back(e);
        pos = end + 1;
    }
    return true;
}

std::vector<CommandRecord> Commands(const std::vector<RecordEntry>& entries) {
    std::vector<CommandRecord> out;
    out.reserve(entries.size());
    for (const RecordEntry& e : entries) out.push_back(e.command);
    return out;
}

}  // namespace sim
