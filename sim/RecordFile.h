// The command record on disk: every command a door serves becomes one text line in the
// scenario's record file, so tests in another process (or on the other side of Wine)
// can read back exactly what reached the drive.
#pragma once

#include <string>
#include <vector>

#include "sim/SimDrive.h"

namespace sim {

struct RecordEntry {
    std::string door;   // "aspi", "sgio" or "host"
    std::string drive;  // the scenario's drive name
    uint32_t pid = 0;
    CommandRecord command;
};

std::string FormatRecordLine(const RecordEntry& entry);
// A drive's door locked (or unlocked) by the system, which is no command: a line of its
// own, "lock door=... drive=... pid=... prevent=1|0 fd=N", that the command readers pass
// over. `fd` is the descriptor it came on, which tells one handle of a drive from another.
std::string FormatDoorLockLine(const std::string& door, const std::string& drive, uint32_t pid,
                               bool prevent, int fd);
// A descriptor of a drive's letter closed, "close door=... drive=... pid=... fd=N": what a
// handle's close comes to on the door, passed over by the command readers too.
std::string FormatCloseLine(const std::string& door, const std::string& drive, uint32_t pid,
                            int fd);
// False for a line that is not a well-formed command line.
bool ParseRecordLine(const std::string& line, RecordEntry& entry);
// Every well-formed line of the file in order; false when the file cannot be read.
bool ReadRecordFile(const std::string& path, std::vector<RecordEntry>& entries);
std::vector<CommandRecord> Commands(const std::vector<RecordEntry>& entries);

}  // namespace sim
