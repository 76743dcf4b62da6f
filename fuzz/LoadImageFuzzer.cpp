// Feeds arbitrary files to the image loader, and to the whole download that follows it,
// with the image buffer on the heap so the sanitizer sees any step outside it.
//
// Input: one control byte, then the file's bytes.
//   bit 0      1: Intel-HEX (.hex), 0: raw (.bin)
//   bit 1      1: the whole run (load, checksum, blocks, save); 0: the load alone
//   bits 2-7   n > 0: the stop flag rises at the (n * 37)th question
#include <sanitizer/asan_interface.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "drive/Scsi.h"
#include "engine/FlashEngine.h"
#include "engine/Platform.h"
#include "engine/UpdateJob.h"

namespace {

uint64_t stopCalls = 0;
uint64_t stopFrom = 0;
uint32_t waits = 0;
uint32_t saves = 0;
uint32_t blocks = 0;
uint32_t readBacks = 0;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void OnText(const char* text) {
    if (std::strlen(text) > 80) Fail("a line longer than any the engine writes");
}
void OnProgress(int value) {
    if (value < 0 || value > 100) Fail("progress outside 0..100");
}
uint8_t OnStop() {
    return stopFrom != 0 && ++stopCalls >= stopFrom ? 1 : 0;
}
void OnSleep(uint32_t) {
    ++waits;
}

// One heap block serves every run: a fresh megabyte per input would spend the time in
// page faults. Between runs it is poisoned, so a use after the release is still caught.
uint8_t* heapBlock = nullptr;
bool heapBlockInUse = false;

void* HeapAllocate(size_t size) {
    if (size != telvio::kImageBufferSize || heapBlockInUse) Fail("second image buffer");
    if (heapBlock == nullptr) heapBlock = static_cast<uint8_t*>(std::malloc(size));
    ASAN_UNPOISON_MEMORY_REGION(heapBlock, size);
    heapBlockInUse = true;
    return heapBlock;
}
bool HeapLock(void*, size_t) {
    return true;
}
void HeapUnlock(void*, size_t) {}
void HeapRelease(void* base, size_t size) {
    if (base != heapBlock || !heapBlockInUse) Fail("release of a buffer not handed out");
    heapBlockInUse = false;
    ASAN_POISON_MEMORY_REGION(heapBlock, size);
}
const telvio::platform::ImageMemory heapMemory = {HeapAllocate, HeapLock, HeapUnlock, HeapRelease};

std::string FilePath() {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/telvio-fuzz-" + std::to_string(getpid()) +
           ".img";
}

uint32_t readerLines = 0;
void OnReaderLine(const char*) {
    ++readerLines;
}

// Whether HEX text, if the file is that, begins where the raw path looks for it: at a
// record mark after an optional UTF-8 byte-order mark and blanks. The reader skips any
// text before its first mark, but a binary's header may hold a colon and digits, so a
// text that opens with a comment line is left to the name question.
bool OpensWithAMark(const uint8_t* file, size_t size) {
    size_t at = size >= 3 && std::memcmp(file, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    while (at < size && file[at] != 0 && std::strchr(" \t\r\n", file[at]) != nullptr) ++at;
    return at < size && (file[at] & 0x7F) == ':';
}

// The project's own HEX reader as the judge: a file it loads as a whole image with
// firmware in it, without a word about a character that is no digit, is HEX text.
bool ReaderLoadsAsHex(const std::string& path) {
    telvio::UpdateJob job{};
    std::snprintf(job.imagePath, sizeof job.imagePath, "%s", path.c_str());
    job.isHexFile = 1;
    job.AppendLog = OnReaderLine;
    readerLines = 0;
    telvio::FlashEngine engine(job);
    // A complete load is not an erased one: the loader refuses those.
    return engine.LoadImage() == telvio::LoadOutcome::Complete && readerLines == 0;
}

// What a raw file the loader accepted must be, judged from the file itself: firmware
// within the first megabyte, only erased flash after it, and not the text of a HEX file.
void CheckRawFile(const uint8_t* file, size_t size, const std::string& path) {
    const size_t inBuffer = size < telvio::kImageBufferSize ? size : telvio::kImageBufferSize;
    if (std::count(file, file + inBuffer, uint8_t{0xFF}) == std::ptrdiff_t(inBuffer))
        Fail("an erased image was accepted");
    if (std::count(file + inBuffer, file + size, uint8_t{0xFF}) != std::ptrdiff_t(size - inBuffer))
        Fail("firmware past the buffer was cut off");
    if (OpensWithAMark(file, size) && ReaderLoadsAsHex(path))
        Fail("HEX text was accepted as raw bytes");
}

}  // namespace

// The drive, as far as the engine can reach it: checks every command the download
// builds and reads every byte it hands over.
int telvio::ScsiExecute(const DriveRecord&, uint8_t flags, uint32_t length, void* data,
                        uint8_t cdbLength, const uint8_t* cdb, uint8_t, SenseData& sense,
                        uint32_t timeoutSeconds, uint32_t*, telvio::CommandEnd* end) {
    if (end != nullptr) *end = telvio::CommandEnd::Good;
    std::memset(sense.bytes, 0, 16);
    if (saves != 0) {
        // After the save only the revision is read back, once when the drive answers.
        static const uint8_t kInquiry[6] = {0x12, 0, 0, 0, 36, 0};
        if (cdbLength != 6 || std::memcmp(cdb, kInquiry, 6) != 0 || flags != 0x08 || length != 36 ||
            timeoutSeconds >= telvio::kAmpleTimeoutSeconds)
            Fail("a command after the save that is not the short INQUIRY");
        if (++readBacks > 1) Fail("the revision read back again after an answer");
        std::memset(data, 0, length);
        std::memcpy(static_cast<uint8_t*>(data) + 32, "FUZZ", 4);
        return 1;
    }
    if (cdbLength != 12 || cdb[0] != 0x3B) Fail("not a 12-byte WRITE BUFFER");
    const uint32_t offset = uint32_t{cdb[3]} << 16 | uint32_t{cdb[4]} << 8 | cdb[5];
    // Only a data block may be given up; the drive may start programming on the others.
    if (timeoutSeconds != (cdb[1] == 6 && offset >= 32 ? telvio::kDataBlockTimeoutSeconds
                                                       : telvio::kAmpleTimeoutSeconds))
        Fail("a WRITE BUFFER with the wrong time-out");
    const uint32_t paramLength = uint32_t{cdb[6]} << 16 | uint32_t{cdb[7]} << 8 | cdb[8];
    if (cdb[1] == 7) {
        if (flags != 0x08 || length != 4096 || paramLength != 0) Fail("save command shape");
        ++saves;
        return 1;
    }
    if (cdb[1] != 6 || flags != 0x10 || paramLength != length) Fail("download command shape");
    if (offset == 0) {
        if (length != 32) Fail("checksum block length");
    } else {
        if (length != 4096 || offset < 32 || (offset - 32) % 4096 != 0) Fail("data block shape");
        if (offset - 32 + length > telvio::kImageBufferSize) Fail("block beyond the image buffer");
        ++blocks;
    }
    volatile uint8_t sink = 0;
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (uint32_t i = 0; i < length; ++i) sink = static_cast<uint8_t>(sink + bytes[i]);
    (void)sink;
    return 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    if (size == 0) return 0;
    static const std::string path = FilePath();
    const uint8_t control = input[0];
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(input + 1, 1, size - 1, f);
        std::fclose(f);
    } else {
        return 0;
    }

    telvio::platform::SetImageMemory(&heapMemory);
    telvio::platform::SetSleeper(OnSleep);
    stopCalls = 0;
    stopFrom = (control >> 2) * 37u;
    waits = saves = blocks = readBacks = 0;

    telvio::UpdateJob job{};
    std::snprintf(job.imagePath, sizeof job.imagePath, "%s", path.c_str());
    job.isHexFile = control & 1;
    job.AppendLog = OnText;
    job.SetStatusText = OnText;
    job.SetDriveText = OnText;
    job.SetRevisionText = OnText;
    job.SetProgress = OnProgress;
    job.IsStopRequested = OnStop;
    job.UsePassThrough = 1;

    if (control & 2) {
        telvio::FlashEngine engine(job);
        engine.Run();
        if (engine.View().imageChunks[0] != nullptr || heapBlockInUse)
            Fail("the run kept its buffer");
        if (waits > 17) Fail("more waits than banks in the buffer");
        if (saves != 0 && blocks == 0) Fail("saved without a single block");
        if (readBacks != saves) Fail("a save without its read-back");
    } else {
        bool accepted;
        {
            telvio::FlashEngine engine(job);
            const telvio::LoadOutcome outcome = engine.LoadImage();
            const telvio::EngineView view = engine.View();
            if (view.imageFileOpen) Fail("the file stays open");
            if (view.imageEnd > telvio::kImageBufferSize) Fail("imageEnd beyond the buffer");
            if (view.bankCount > telvio::kMaxBankCount) Fail("more banks than the buffer holds");
            accepted = outcome == telvio::LoadOutcome::Complete ||
                       outcome == telvio::LoadOutcome::BufferFull;
            if (accepted && (control & 1)) engine.HexImageChecksum();
        }
        // The engine has given its buffer back, which the reader's load takes next.
        if (accepted && !(control & 1)) CheckRawFile(input + 1, size - 1, path);
    }
    return 0;
}
