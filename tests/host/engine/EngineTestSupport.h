// What the engine's tests share: the window side of the callbacks as a recorder, a
// sleeper and an image memory that count instead of acting, temporary image files, and
// a writer of HEX records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/FlashEngine.h"
#include "engine/Platform.h"
#include "engine/UpdateJob.h"

namespace enginetest {

// Everything the engine showed, in order, as the window would have seen it.
struct Recorder {
    std::vector<std::string> log;
    std::vector<std::string> status;
    std::vector<std::string> driveText;
    std::vector<std::string> revisionText;
    std::vector<int> progress;
    // IsStopRequested answers 1 from this call on (1-based); 0 means never.
    uint64_t stopFromCall = 0;
    uint64_t stopCalls = 0;
};

Recorder& Seen();

// A job whose callbacks feed Seen().
telvio::UpdateJob MakeJob(const std::string& path, bool isHex, uint8_t usePassThrough = 1);

// Stands in for the system's image memory for the life of the object: a heap block
// (so the sanitizer guards its edges) and counters of what the engine asked for.
class CountingMemory {
  public:
    CountingMemory();
    ~CountingMemory();
    CountingMemory(const CountingMemory&) = delete;
    CountingMemory& operator=(const CountingMemory&) = delete;

    static int allocations;  // asked for, refused ones included
    static int outstanding;  // handed out and not yet released
    static int releases;
    static int locks;
    static int unlocks;
    static bool failAllocate;
    static bool failLock;
    static size_t lastSize;

  private:
    const telvio::platform::ImageMemory* previous_;
};

// Records the waits instead of sleeping, for the life of the object.
class RecordingSleeper {
  public:
    RecordingSleeper();
    ~RecordingSleeper();
    RecordingSleeper(const RecordingSleeper&) = delete;
    RecordingSleeper& operator=(const RecordingSleeper&) = delete;
    static std::vector<uint32_t> waits;

  private:
    telvio::platform::Sleeper previous_;
};

// A file with the given bytes, removed when the object goes.
class TempFile {
  public:
    explicit TempFile(const std::string& bytes, const char* extension = ".bin");
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// A name where no file is.
std::string MissingPath();

// One HEX record with its checksum, upper-case, ending in "\n".
std::string HexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& data = {},
                      uint8_t count = 0xFF /* 0xFF: the data's size */);
std::string DataRecord(uint16_t address, const std::vector<uint8_t>& data);
// The simulated drive's product identification, which real firmware carries as text.
constexpr char kSimProduct[] = "SIM DVD-RW";
// A data record with kSimProduct at `address`.
std::string NameRecord(uint16_t address = 0);
std::string EndRecord();
std::string BankRecord();
// A one-bank image that is not erased yet sums to 0 like a bank of fill, so a drive takes
// it even when the checksum block never arrived.
std::string ZeroSumHex();

// `image` (at most 1 MiB) as HEX: data records of `perRecord` bytes, a bank advance
// before each further 0x10000 bytes, and the end record. Runs of 0xFF are left out when
// `skipFill` is set.
std::string HexOfImage(const std::vector<uint8_t>& image, size_t perRecord = 16,
                       bool skipFill = false);

// Deterministic bytes, different for every seed; from 64 bytes on they carry kSimProduct
// at offset 16, as a drive's firmware does.
std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed);

// The engine's whole buffer, copied out.
std::vector<uint8_t> BufferOf(const telvio::FlashEngine& engine);

// The 16-bit sum of the bytes.
uint16_t Sum16(const std::vector<uint8_t>& bytes, size_t from = 0, size_t to = SIZE_MAX);

std::string ErrLine(int code);

}  // namespace enginetest
