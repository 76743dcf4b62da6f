// The download itself: the image in 4096-byte WRITE BUFFER mode 6 blocks, the checksum
// block at buffer offset 0, mode 7 to make the drive take the firmware, the fixed wait
// while it programs its flash, and the revision it reports afterwards.
#include <cstdio>
#include <cstring>

#include "drive/Aspi.h"
#include "drive/InquiryChain.h"
#include "drive/ShownText.h"
#include "engine/ErrorMessages.h"
#include "engine/FlashEngine.h"
#include "engine/Platform.h"

namespace telvio {

namespace {

constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kWriteBuffer = 0x3B;
constexpr uint8_t kModeDownload = 0x06;
constexpr uint8_t kModeSave = 0x07;
constexpr uint8_t kCdbLength = 12;

// A failed checksum block or save command still counts when the drive is merely busy
// taking the firmware: not ready, a becoming-ready code, or qualifier 07.
bool FailureAccepted(const SenseData& sense) {
    return SenseKeyByte(sense) == 0x02 || SenseCodeByte(sense) == 0x04 ||
           SenseQualifierByte(sense) == 0x07;
}

// The system's clock and the drive's own pace may differ from the waits by some seconds;
// a drive switched off as it finishes programming is lost all the same.
constexpr uint32_t kPowerOffMarginMs = 10000;

// The banks the drive programs after mode 7, a fixed wait each.
uint32_t BanksToProgram(uint32_t imageEnd) {
    return (imageEnd >> 16) & 0xFF;
}

// Whether a drive that the system switches off after `offAfterMs` without a command would
// lose its power in the silence after mode 7 (nothing the program holds keeps it on, and
// any command sent there as a keep-alive may time out and reset it); `line` then says so.
bool PowerGoesWhileProgramming(uint32_t offAfterMs, uint32_t imageEnd, char (&line)[192]) {
    const uint32_t silenceMs = BanksToProgram(imageEnd) * kBankWaitMs + kFinalWaitMs;
    if (offAfterMs == 0 || offAfterMs > silenceMs + kPowerOffMarginMs) return false;
    std::snprintf(line, sizeof line,
                  "ERR: Windows switches this drive off after %u seconds without a command, and "
                  "it needs %u seconds to program its memory. See POWER SAVING in README.txt.",
                  static_cast<unsigned>((offAfterMs + 500) / 1000),
                  static_cast<unsigned>(silenceMs / 1000));
    return true;
}

void PutBigEndian24(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value >> 16);
    out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value);
}

}  // namespace

void FlashEngine::Run(RunOutcome& outcome) {
    outcome = RunOutcome{};
    const bool ok = Download(outcome);
    outcome.succeeded = ok;
    AppendLog(ok ? kVerdictSuccess : kVerdictFailure);
    SetStatusText("");
    ReleaseImage();
}

bool FlashEngine::SendWriteBuffer(uint8_t flags, uint32_t length, void* data, const uint8_t* cdb,
                                  SenseData& sense, uint32_t timeoutSeconds, CommandEnd* end) {
    const int done = ScsiExecute(drive, flags, length, data, kCdbLength, cdb, UsePassThrough, sense,
                                 timeoutSeconds, nullptr, end);
    return done != 0 && SenseKeyByte(sense) == 0;
}

bool FlashEngine::WriteDataBlock(uint32_t bufferOffset, SenseData& sense, CommandEnd* end) {
    uint8_t cdb[kCdbLength] = {kWriteBuffer, kModeDownload, 0x00};
    PutBigEndian24(cdb + 3, bufferOffset);
    PutBigEndian24(cdb + 6, kDataBlockSize);
    // The transport gets a copy, so a library that writes into its buffer cannot touch
    // the image.
    std::memcpy(blockArea, imageChunks[chunkIndex] + chunkOffset, kDataBlockSize);
    return SendWriteBuffer(SRB_DIR_OUT, kDataBlockSize, blockArea, cdb, sense,
                           dataBlockTimeoutSeconds, end);
}

bool FlashEngine::WriteChecksumBlock(SenseData& sense) {
    uint8_t cdb[kCdbLength] = {kWriteBuffer, kModeDownload, 0x00};
    PutBigEndian24(cdb + 6, kChecksumBlockSize);
    uint8_t block[kChecksumBlockSize] = {};
    block[30] = static_cast<uint8_t>(runningSum >> 8);
    block[31] = static_cast<uint8_t>(runningSum);
    return SendWriteBuffer(SRB_DIR_OUT, kChecksumBlockSize, block, cdb, sense);
}

bool FlashEngine::SaveMicrocode(SenseData& sense) {
    // The command's own length is 0, yet the transport is told to expect 4096 bytes in;
    // drives answer this form, and nothing comes back to read.
    const uint8_t cdb[kCdbLength] = {kWriteBuffer, kModeSave};
    return SendWriteBuffer(SRB_DIR_IN, kDataBlockSize, blockArea, cdb, sense);
}

ReadBack FlashEngine::ReadBackRevision(char (&revision)[kRevisionChars + 1]) {
    const uint8_t cdb[6] = {kInquiry, 0, 0, 0, kInquiryLength, 0};
    uint8_t reply[kInquiryLength];
    SenseData sense{};
    for (int attempt = 0; attempt < kReadBackTries; ++attempt) {
        if (attempt > 0) platform::SleepFor(kReadBackPauseMs);
        std::memset(reply, 0, sizeof reply);
        uint32_t returned = 0;
        if (ScsiExecute(drive, SRB_DIR_IN, sizeof reply, reply, sizeof cdb, cdb, UsePassThrough,
                        sense, kReadBackTimeoutSeconds, &returned) == 1) {
            // Only what the drive sent counts, and it must hold some of the revision
            // itself: blanks alone would read as a changed revision. The drive is up, so
            // asking again would only bring the same reply.
            CopyInquiryField(revision, reply, returned, kRevisionOffset, kRevisionChars);
            CopyTrimmedField(revision, revision, sizeof revision);
            for (const char* c = revision; *c != '\0'; ++c) {
                const unsigned char byte = static_cast<unsigned char>(*c);
                if (byte > ' ' && byte < 0x7F) return ReadBack::Revision;
            }
            return ReadBack::NoRevision;
        }
        // No answer within the time-out: the drive may still be busy programming, and
        // each further request that times out resets it again. Only a drive that
        // answered (a reset's unit attention, not ready) is asked again.
        if (!HoldsSenseData(sense)) return ReadBack::NoAnswer;
    }
    return ReadBack::NoRevision;
}

void FlashEngine::LogRevisionNow(const char* revision) {
    // The drive's bytes go into one log line as the window shows them: a control
    // character must not break it, nor a byte the UTF-8 code page cannot read garble it.
    char shown[kRevisionChars + 1];
    CopyShownText(shown, revision, sizeof shown);
    // The revision found at start-up may carry the blanks the read-back trimmed.
    char before[sizeof drive.revision];
    CopyTrimmedField(before, drive.revision, sizeof before);
    const bool same = std::strcmp(revision, before) == 0;
    char line[48];
    std::snprintf(line, sizeof(line), "%s%s",
                  same ? "Firmware revision unchanged: " : "Firmware revision now: ", shown);
    AppendLog(line);
}

void FlashEngine::KeepIfSilent(const SenseData& sense, DriveHoldScope& held,
                               RunOutcome& outcome) {
    // A drive that refused the block with sense data has not started programming. One
    // that did not answer at all may have taken the checksum block, or mode 7, and be
    // busy programming: any command the system sends it now (the door's unlock, media
    // polling) can time out and reset it mid-flash.
    if (HoldsSenseData(sense)) return;
    held.KeepUntilExit();
    AppendLog(kMayStillProgramLine);
    outcome.mayBeProgramming = true;
}

void FlashEngine::LogCommandError(const SenseData& sense) {
    char line[48];
    std::snprintf(line, sizeof(line), "Execute command error!! %2X/%2X/%2X",
                  static_cast<unsigned>(SenseKeyByte(sense)),
                  static_cast<unsigned>(SenseCodeByte(sense)),
                  static_cast<unsigned>(SenseQualifierByte(sense)));
    AppendLog(line);
}

bool FlashEngine::Download(RunOutcome& outcome) {
    imageChecksum = 0;
    switch (LoadImage()) {
        case LoadOutcome::ReadFailure:
            ReportError(kErrReadInputFile);
            return false;
        case LoadOutcome::FormatFailure:
            ReportError(kErrFormatMismatch);
            return false;
        case LoadOutcome::TooLarge:
            ReportError(kErrFlashTooSmall);
            return false;
        case LoadOutcome::AllocationFailure:  // the loader has said so
        case LoadOutcome::Stopped:            // so has the reader
            return false;
        case LoadOutcome::Complete:
        case LoadOutcome::BufferFull:
            break;
    }

    imageChecksum = isHexFile ? HexImageChecksum() : runningSum;
    char line[40];
    std::snprintf(line, sizeof(line), "Check Sum : %X", static_cast<unsigned>(imageChecksum));
    AppendLog(line);
    // What is flashed, in the words the drive will report it by. Looked for in the bytes
    // of the file alone, before a HEX image's end is rounded up to whole banks of fill.
    char fileRevision[kRevisionChars + 1];
    if (FindFileRevision(fileRevision)) {
        std::snprintf(line, sizeof(line), "File revision : %s", fileRevision);
        AppendLog(line);
    }

    SetStatusText("Updating.....");
    SetProgress(0);
    AppendLog("Please wait a minute.....");

    chunkIndex = 0;
    chunkOffset = 0;
    runningSum = 0;
    uint32_t blockAddress = 0;
    if (isHexFile) {
        // A HEX image always goes out as whole banks plus one more of fill. An image
        // that reaches the buffer's last byte has no room for that bank, so it stops at
        // 1 MiB, exactly as a raw image of the same bytes would.
        imageEnd = (imageEnd & ~(kBankSize - 1)) + kBankSize;
        if (imageEnd > kImageBufferSize) imageEnd = kImageBufferSize;
    }

    // From here until the run has ended the drive may be programming its flash.
    outcome.downloadBegun = true;
    DriveHoldScope held(hold, drive, &outcome.holdKept);
    if (const char* holder = held.OtherHolder()) {
        char busy[96];
        std::snprintf(busy, sizeof busy, "ERR: the drive is in use by \"%s\".", holder);
        AppendLog(busy);
        return false;
    }
    char powerLine[192];
    if (PowerGoesWhileProgramming(held.PowerOffAfterMs(), imageEnd, powerLine)) {
        AppendLog(powerLine);
        return false;
    }
    // A drive locked for this run refuses every other handle, its letter's included.
    if (const DeviceHandle locked = held.CommandHandle()) drive.handle = locked;
    SenseData sense{};
    while (blockAddress < imageEnd) {
        if (IsStopRequested()) {
            ReportError(kErrTerminateUpgrade);
            return false;
        }
        const uint8_t* block = imageChunks[chunkIndex] + chunkOffset;
        uint32_t sum = runningSum;
        for (uint32_t i = 0; i < kDataBlockSize; ++i) sum += block[i];
        runningSum = static_cast<uint16_t>(sum);

        bool sent = false;
        bool lost = false;
        for (int attempt = 0; attempt < kBlockAttempts && !sent && !lost; ++attempt) {
            CommandEnd end = CommandEnd::NoAnswer;
            sent = WriteDataBlock(blockAddress + kChecksumBlockSize, sense, &end);
            if (!sent) {
                std::snprintf(line, sizeof(line), "dAddr is %d\n", static_cast<int>(blockAddress));
                AppendLog(line);
                // Sending the block again would only fill a buffer whose earlier blocks
                // may be gone; nothing is saved yet, so the drive keeps its firmware.
                lost = end == CommandEnd::NoAnswer ||
                       ((SenseKeyByte(sense) & 0x0F) == 0x06 && SenseCodeByte(sense) == 0x29);
            }
        }
        if (!sent) {
            LogCommandError(sense);
            if (lost) AppendLog(kDownloadLostLine);
            return false;
        }

        SetProgress(5);
        blockAddress += kDataBlockSize;
        chunkOffset = static_cast<uint16_t>(chunkOffset + kDataBlockSize);
        if (chunkOffset == kImageChunkSize) {
            chunkOffset = 0;
            ++chunkIndex;
        }
        SetProgress(10);
    }

    if (!WriteChecksumBlock(sense) && !FailureAccepted(sense)) {
        LogCommandError(sense);
        KeepIfSilent(sense, held, outcome);
        return false;
    }
    SetProgress(kProgressSaving);
    if (!SaveMicrocode(sense) && !FailureAccepted(sense)) {
        LogCommandError(sense);
        KeepIfSilent(sense, held, outcome);
        return false;
    }

    // The drive programs its flash, a fixed time per bank, and is left alone meanwhile.
    const uint32_t banks = BanksToProgram(imageEnd);
    for (uint32_t i = 0; i < banks; ++i) {
        SetProgress(static_cast<int>(20 + 3 * i));
        platform::SleepFor(kBankWaitMs);
    }
    platform::SleepFor(kFinalWaitMs);
    // Only now may the drive be asked again: whether it took the firmware at once or
    // takes it at the next power-on, the user learns it before being told to restart.
    char revisionNow[kRevisionChars + 1];
    const ReadBack readBack = ReadBackRevision(revisionNow);
    // A drive that did not answer may be programming still. Letting go of the hold now
    // would have the system send it commands at once (the door's unlock, media polling),
    // each of which can time out and reset it: the hold lasts as long as the program.
    if (readBack == ReadBack::NoAnswer) held.KeepUntilExit();
    SetProgress(kProgressProgrammed);
    SetDriveText("");
    SetRevisionText("");
    // Too late to stop anything; the flag is only noted.
    if (IsStopRequested()) ReportError(kErrTerminateUpgrade);
    if (readBack == ReadBack::Revision) {
        LogRevisionNow(revisionNow);
    } else if (readBack == ReadBack::NoAnswer && UsePassThrough) {
        AppendLog(kNoAnswerLine);
    }
    if (readBack == ReadBack::NoAnswer) {
        AppendLog(kMayStillProgramLine);
        outcome.mayBeProgramming = true;
    }
    SetProgress(100);
    return true;
}

}  // namespace telvio
