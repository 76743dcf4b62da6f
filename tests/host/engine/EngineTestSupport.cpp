#include "tests/host/engine/EngineTestSupport.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "engine/ErrorMessages.h"

namespace enginetest {

namespace {

void OnRevision(const char* text) {
    Seen().revisionText.emplace_back(text);
}
void OnDrive(const char* text) {
    Seen().driveText.emplace_back(text);
}
void OnLog(const char* text) {
    Seen().log.emplace_back(text);
}
void OnStatus(const char* text) {
    Seen().status.emplace_back(text);
}
void OnProgress(int value) {
    Seen().progress.push_back(value);
}
uint8_t OnStop() {
    Recorder& r = Seen();
    ++r.stopCalls;
    return r.stopFromCall != 0 && r.stopCalls >= r.stopFromCall ? 1 : 0;
}

void* HeapAllocate(size_t size) {
    ++CountingMemory::allocations;
    CountingMemory::lastSize = size;
    if (CountingMemory::failAllocate) return nullptr;
    ++CountingMemory::outstanding;
    return std::malloc(size);
}
bool HeapLock(void*, size_t) {
    ++CountingMemory::locks;
    return !CountingMemory::failLock;
}
void HeapUnlock(void*, size_t) {
    ++CountingMemory::unlocks;
}
void HeapRelease(void* base, size_t) {
    ++CountingMemory::releases;
    --CountingMemory::outstanding;
    std::free(base);
}
const telvio::platform::ImageMemory heapMemory = {HeapAllocate, HeapLock, HeapUnlock, HeapRelease};

void RecordWait(uint32_t ms) {
    RecordingSleeper::waits.push_back(ms);
}

std::string UniquePath(const char* extension) {
    static std::atomic<unsigned> counter{0};
    const auto dir = std::filesystem::temp_directory_path();
    const std::string name = "telvio-engine-" + std::to_string(std::random_device{}()) + "-" +
                             std::to_string(counter++) + extension;
    return (dir / name).string();
}

}  // namespace

Recorder& Seen() {
    static Recorder recorder;
    return recorder;
}

telvio::UpdateJob MakeJob(const std::string& path, bool isHex, uint8_t usePassThrough) {
    Seen() = Recorder{};
    telvio::UpdateJob job{};
    job.drive.adapter = 1;
    job.drive.target = 2;
    job.drive.alignMask = 0x7FF;
    // What discovery read from the simulated drive before the run.
    std::snprintf(job.drive.revision, sizeof job.drive.revision, "1.00");
    std::snprintf(job.imagePath, sizeof job.imagePath, "%s", path.c_str());
    job.isHexFile = isHex ? 1 : 0;
    job.SetRevisionText = OnRevision;
    job.SetDriveText = OnDrive;
    job.AppendLog = OnLog;
    job.SetStatusText = OnStatus;
    job.SetProgress = OnProgress;
    job.IsStopRequested = OnStop;
    job.UsePassThrough = usePassThrough;
    return job;
}

int CountingMemory::allocations = 0;
int CountingMemory::outstanding = 0;
int CountingMemory::releases = 0;
int CountingMemory::locks = 0;
int CountingMemory::unlocks = 0;
bool CountingMemory::failAllocate = false;
bool CountingMemory::failLock = false;
size_t CountingMemory::lastSize = 0;

CountingMemory::CountingMemory() {
    allocations = outstanding = releases = locks = unlocks = 0;
    failAllocate = failLock = false;
    lastSize = 0;
    previous_ = telvio::platform::SetImageMemory(&heapMemory);
}

CountingMemory::~CountingMemory() {
    telvio::platform::SetImageMemory(previous_);
}

std::vector<uint32_t> RecordingSleeper::waits;

RecordingSleeper::RecordingSleeper() {
    waits.clear();
    previous_ = telvio::platform::SetSleeper(RecordWait);
}

RecordingSleeper::~RecordingSleeper() {
    telvio::platform::SetSleeper(previous_);
}

TempFile::TempFile(const std::string& bytes, const char* extension) : path_(UniquePath(extension)) {
    std::ofstream out(path_, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TempFile::~TempFile() {
    std::remove(path_.c_str());
}

std::string MissingPath() {
    return UniquePath(".missing");
}

std::string HexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& data,
                      uint8_t count) {
    if (count == 0xFF) count = static_cast<uint8_t>(data.size());
    std::vector<uint8_t> bytes = {count, static_cast<uint8_t>(address >> 8),
                                  static_cast<uint8_t>(address), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
    bytes.push_back(static_cast<uint8_t>(0x100 - sum));
    std::string text = ":";
    char hex[3];
    for (uint8_t b : bytes) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        text += hex;
    }
    return text + "\n";
}

std::string DataRecord(uint16_t address, const std::vector<uint8_t>& data) {
    return HexRecord(0x00, address, data);
}
std::string NameRecord(uint16_t address) {
    return DataRecord(address,
                      std::vector<uint8_t>(kSimProduct, kSimProduct + sizeof kSimProduct - 1));
}
std::string EndRecord() {
    return HexRecord(0x01, 0);
}
std::string BankRecord() {
    return HexRecord(0x55, 0);
}
std::string ZeroSumHex() {
    // The drive's name, then zeros and one last byte that together take exactly 0x10000
    // from the fill's sum.
    std::vector<uint8_t> bytes(kSimProduct, kSimProduct + sizeof kSimProduct - 1);
    uint32_t below = 0;
    for (uint8_t b : bytes) below += 0xFFu - b;
    while (0x10000 - below >= 0xFF) {
        bytes.push_back(0x00);
        below += 0xFF;
    }
    bytes.push_back(static_cast<uint8_t>(0xFF - (0x10000 - below)));
    return HexOfImage(bytes, 128);
}

std::string HexOfImage(const std::vector<uint8_t>& image, size_t perRecord, bool skipFill) {
    std::string text;
    for (size_t at = 0; at < image.size(); at += perRecord) {
        if (at != 0 && at % telvio::kBankSize == 0) text += BankRecord();
        const size_t end = std::min(image.size(), at + perRecord);
        std::vector<uint8_t> data(image.begin() + static_cast<std::ptrdiff_t>(at),
                                  image.begin() + static_cast<std::ptrdiff_t>(end));
        bool allFill = true;
        for (uint8_t b : data) allFill = allFill && b == 0xFF;
        if (skipFill && allFill) continue;
        text += DataRecord(static_cast<uint16_t>(at % telvio::kBankSize), data);
    }
    return text + EndRecord();
}

std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed) {
    std::vector<uint8_t> out(size);
    uint32_t x = seed * 2654435761u + 12345u;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x >> 24);
    }
    if (size >= 64) std::memcpy(out.data() + 16, kSimProduct, sizeof kSimProduct - 1);
    return out;
}

std::vector<uint8_t> BufferOf(const telvio::FlashEngine& engine) {
    std::vector<uint8_t> out(telvio::kImageBufferSize);
    for (int i = 0; i < telvio::kImageChunkCount; ++i) {
        std::memcpy(out.data() + i * telvio::kImageChunkSize, engine.View().imageChunks[i],
                    telvio::kImageChunkSize);
    }
    return out;
}

uint16_t Sum16(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
    uint32_t sum = 0;
    for (size_t i = from; i < std::min(to, bytes.size()); ++i) sum += bytes[i];
    return static_cast<uint16_t>(sum);
}

std::string ErrLine(int code) {
    return std::string("ERR: ") + telvio::ErrorMessageTable[code];
}

}  // namespace enginetest
