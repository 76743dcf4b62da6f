// One firmware upgrade: loads the image file into a 1 MiB buffer and downloads it to
// the drive with WRITE BUFFER. Built from a copy of the window's UpdateJob on the worker
// thread, run once, destroyed; it reaches the window only through the job's callbacks
// and the drive only through ScsiExecute.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "drive/DriveRecord.h"
#include "drive/Scsi.h"
#include "engine/UpdateJob.h"

namespace telvio {

namespace platform {
struct ImageMemory;
}

constexpr uint32_t kImageBufferSize = 0x100000;
constexpr uint32_t kImageChunkSize = 0x8000;
constexpr int kImageChunkCount = 32;
constexpr uint32_t kBankSize = 0x10000;
// Sixteen banks fill the buffer; a 16th bank advance would address beyond it.
constexpr uint32_t kMaxBankCount = 15;
constexpr uint32_t kDataBlockSize = 4096;
constexpr int kBlockAttempts = 6;
constexpr uint32_t kChecksumBlockSize = 32;
constexpr uint32_t kBankWaitMs = 4000;
constexpr uint32_t kFinalWaitMs = 1000;
// Reading the revision back after the waits. The waits are an estimate: a drive may still
// be programming, holding BSY, and a request that times out makes the port driver reset
// the device (and its IDE channel). So one INQUIRY waits past ATA's 31 s busy allowance,
// and is asked again only after a drive that answered with a check condition (the unit
// attention of a reset, not ready).
constexpr int kReadBackTries = 3;
constexpr uint32_t kReadBackPauseMs = 1000;
constexpr uint32_t kReadBackTimeoutSeconds = 35;
constexpr uint8_t kInquiryLength = 36;
// In place of the revision line, on the pass-through, when the read-back got no answer.
constexpr char kNoAnswerLine[] = "Firmware revision not read: the drive did not answer.";
// After a data block that got no answer, or that the drive answered with a reset's unit
// attention: its download buffer, and the blocks already sent into it, may be gone.
constexpr char kDownloadLostLine[] =
    "ERR: the drive was reset or did not answer during the download; nothing was saved, it "
    "keeps its old firmware.";
constexpr uint32_t kRevisionOffset = 32;
constexpr uint32_t kRevisionChars = 4;

enum class LoadOutcome : uint8_t {
    Complete,    // the file ended where it should
    BufferFull,  // a raw file filled all 1 MiB; the rest, all 0xFF, is ignored
    ReadFailure,
    FormatFailure,  // a bad HEX file, HEX text in a raw one, or an erased image
    AllocationFailure,
    Stopped,   // the stop flag was seen while reading a HEX file
    TooLarge,  // a raw file with firmware past the 1 MiB the buffer holds
};

// What reading the revision back after the flash brought.
enum class ReadBack : uint8_t {
    Revision,    // a revision with at least one printable byte the drive sent
    NoRevision,  // the drive answered, but not with a revision to show
    NoAnswer,    // no answer in time, or a failed call with no sense data
};

// Whether an image names a drive, asked before anything is sent.
enum class ImageNaming : uint8_t {
    NotLoaded,  // the run will refuse the file and say why
    Named,
    NotNamed,
};

// What the image holds of the drive it is to go to, found before anything is sent.
struct ImageFindings {
    ImageNaming naming;
    // The revision the file carries for the job's drive, without its trailing spaces;
    // empty when the file gives no single one (FlashEngine::FindFileRevision).
    char revision[kRevisionChars + 1];
};

// Loads the job's image as a run would, without a word to the window, and looks in the
// image's bytes (for HEX, the bytes the records give, not the text) for `name` and for
// the revision that follows the drive's identification.
ImageFindings ExamineImage(const UpdateJob& job, const char* name);

// What tests, the fuzzer and the benchmarks may read of an engine, copied when asked; the
// chunk table is the engine's own and lives as long as it does.
struct EngineView {
    const uint8_t* const* imageChunks;  // kImageChunkCount pointers, all null without a buffer
    uint8_t chunkIndex;
    uint16_t chunkOffset;
    uint32_t imageEnd;
    uint16_t runningSum;
    uint32_t bankCount;
    bool imageFileOpen;
    const char* imagePath;
};

class FlashEngine {
  public:
    explicit FlashEngine(const UpdateJob& job);
    virtual ~FlashEngine();
    FlashEngine(const FlashEngine&) = delete;
    FlashEngine& operator=(const FlashEngine&) = delete;

    // One complete upgrade with its verdict in the log; gives the image buffer back.
    // `outcome` follows the run as it goes.
    void Run(RunOutcome& outcome);
    RunOutcome Run() {
        RunOutcome outcome{};
        Run(outcome);
        return outcome;
    }
    // Load, send, save and wait. False after any failure, which is already logged.
    bool Download(RunOutcome& outcome);

    // Reads imagePath into a fresh image buffer; the file is closed before it returns.
    LoadOutcome LoadImage();
    // After a load: whether the image's bytes, 0 to imageEnd - 1, hold these.
    bool ImageHolds(const char* bytes, size_t count) const;
    // After a load: the revision the image keeps for this drive, as a firmware keeps its
    // INQUIRY reply: the drive's vendor and product identification, all 24 bytes as
    // discovery read them, followed at once by four bytes 0x20 to 0x7E, not all spaces.
    // True when every such place gives the same four bytes; `revision` then holds them
    // without trailing spaces, and is empty otherwise.
    bool FindFileRevision(char (&revision)[kRevisionChars + 1]) const;
    // The 16-bit sum of the banks a HEX load addressed, chunk by chunk.
    uint16_t HexImageChecksum() const;

    // Each sends one WRITE BUFFER; true when the drive took it with a clear sense key. A
    // data block waits dataBlockTimeoutSeconds at most; `end` gets how it ended.
    bool WriteDataBlock(uint32_t bufferOffset, SenseData& sense, CommandEnd* end = nullptr);
    bool WriteChecksumBlock(SenseData& sense);
    bool SaveMicrocode(SenseData& sense);

    void ReportError(uint8_t code);

    EngineView View() const;

  private:
    DriveRecord drive;
    char imagePath[kImagePathSize];
    std::FILE* imageFile = nullptr;
    uint8_t* imageChunks[kImageChunkCount] = {};
    // The image cursor. The loader leaves it just past the last byte it stored (chunk 32
    // when that was the buffer's last byte); the download puts it back at 0 and moves it
    // block by block.
    uint8_t chunkIndex = 0;
    uint16_t chunkOffset = 0;
    uint32_t imageEnd = 0;
    uint8_t isHexFile;
    uint8_t recordSum = 0;
    uint16_t imageChecksum = 0;
    uint16_t runningSum = 0;
    uint8_t UsePassThrough;
    SetRevisionTextCallback SetRevisionText;
    SetDriveTextCallback SetDriveText;
    AppendLogCallback AppendLog;
    SetStatusTextCallback SetStatusText;
    SetProgressCallback SetProgress;
    IsStopRequestedCallback IsStopRequested;
    DriveHold hold;

    // Bank-advance records read from a HEX file; the download's checksum reads it too.
    uint32_t bankCount = 0;

    // The HEX reader and the record reading built on it. Each call answers whether
    // reading may go on; when it may not, hexOutcome says how the load ended, and any line
    // the cause calls for is already in the log. A value the call gives back is set only
    // when reading goes on.
    bool SkipToChar(char wanted);
    bool ReadHexDigit(uint8_t& digit);
    bool ReadHexByte(uint8_t& byte);
    bool NotADigit(uint8_t value, uint8_t& digit);
    bool ReadRecord();
    bool ReadDataBytes(uint32_t loadAddress, uint8_t count);
    bool EndLoad(LoadOutcome outcome);
    bool EndReader(LoadOutcome outcome, uint8_t errorCode);
    LoadOutcome hexOutcome = LoadOutcome::Complete;

    LoadOutcome LoadHex();
    LoadOutcome LoadRaw();
    // True when the bytes up to imageEnd are all 0xFF; the chunks are one block.
    bool ImageIsErased() const;
    // True when a raw image is the text of a HEX file: it begins (after an optional UTF-8
    // byte-order mark and blanks) with a whole record that adds up, whatever follows, or
    // it holds nothing but marks, digits and blanks.
    bool ImageIsHexText() const;
    // After a full buffer: what the rest of the raw file makes of the load.
    LoadOutcome ReadPastBuffer();
    // Every byte the file does not give is 0xFF: `fill` sets them all now; a caller that
    // passes false fills what it did not write itself.
    bool AllocateImage(bool fill);
    void CloseImageFile();
    void ReleaseImage();
    int NextChar();
    bool RefillInput();
    void SetCursor(uint32_t address) {
        chunkIndex = static_cast<uint8_t>(address / kImageChunkSize);
        chunkOffset = static_cast<uint16_t>(address % kImageChunkSize);
    }
    void StepCursor() {
        if (++chunkOffset == kImageChunkSize) {
            chunkOffset = 0;
            ++chunkIndex;
        }
    }
    uint32_t CursorAddress() const { return chunkIndex * kImageChunkSize + chunkOffset; }
    void LogCommandError(const SenseData& sense);
    // After a failed checksum block or mode 7: a drive that gave no answer stays held until
    // the program ends, and the log says why before the verdict.
    void KeepIfSilent(const SenseData& sense, DriveHoldScope& held, RunOutcome& outcome);
    // The revision the drive reports now, trailing blanks trimmed, when it gives one.
    ReadBack ReadBackRevision(char (&revision)[kRevisionChars + 1]);
    void LogRevisionNow(const char* revision);
    bool SendWriteBuffer(uint8_t flags, uint32_t length, void* data, const uint8_t* cdb,
                         SenseData& sense, uint32_t timeoutSeconds = kAmpleTimeoutSeconds,
                         CommandEnd* end = nullptr);
    uint32_t dataBlockTimeoutSeconds;

    // The memory the buffer came from: a seam swapped during the run still releases it
    // where it belongs.
    const platform::ImageMemory* imageMemory = nullptr;
    bool imageLocked = false;

    // The HEX text is read through this window rather than one stdio call per
    // character; text-mode translation still happens inside fread.
    static constexpr size_t kInputWindow = 16384;
    char input[kInputWindow];
    size_t inputPos = 0;
    size_t inputLen = 0;
    bool inputEof = false;

    // One 4096-byte area: the copy of each data block as it is sent, and the save
    // command's scratch area, whose contents are never used.
    uint8_t blockArea[kDataBlockSize];
};

// The sense bytes the download reads: key byte, additional sense code, qualifier.
inline uint8_t SenseKeyByte(const SenseData& sense) {
    return sense.bytes[2];
}
inline uint8_t SenseCodeByte(const SenseData& sense) {
    return sense.bytes[12];
}
inline uint8_t SenseQualifierByte(const SenseData& sense) {
    return sense.bytes[13];
}

}  // namespace telvio
