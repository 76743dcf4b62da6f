// Reading the firmware image file into the 1 MiB image buffer: Intel-HEX text with a
// private bank-advance record, or a raw binary.
#include <cstring>

#include "engine/ErrorMessages.h"
#include "engine/FlashEngine.h"
#include "engine/Platform.h"

namespace telvio {

namespace {

constexpr uint8_t kTypeData = 0x00;
constexpr uint8_t kTypeEndOfFile = 0x01;
constexpr uint8_t kTypeBankAdvance = 0x55;

// The reader takes this byte, as well as the stream's own end, as the end of the file.
constexpr int kEndOfFileByte = 0xFF;

// What each byte of the file means to the reader once its top bit is cleared: a digit's
// value, or one of these. Built at compile time; a table keeps the hot loop free of the
// badly predicted branches that classifying random digits costs.
constexpr uint8_t kNotHex = 0x10;
constexpr uint8_t kEnd = 0x11;

struct DigitTable {
    uint8_t value[256];
    constexpr DigitTable() : value() {
        for (int c = 0; c < 256; ++c) {
            const int low = c & 0x7F;
            uint8_t v = kNotHex;
            if (low >= '0' && low <= '9') v = static_cast<uint8_t>(low - '0');
            if (low >= 'A' && low <= 'F') v = static_cast<uint8_t>(low - 'A' + 10);
            if (low >= 'a' && low <= 'f') v = static_cast<uint8_t>(low - 'a' + 10);
            value[c] = v;
        }
        value[kEndOfFileByte] = kEnd;
    }
};
constexpr DigitTable kDigits;

// Strictly the characters, unlike the reader, which clears each one's top bit first.
bool IsHexDigit(uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool IsBlank(uint8_t c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Whether the bytes start, after an optional UTF-8 byte-order mark and blanks, with one
// whole record whose checksum is right, each character taken as the reader takes it (top
// bit cleared). Editors write that mark and DOS tools append a Ctrl-Z; nothing after the
// first record counts, so no stray byte passes the text off as a binary, while a real
// binary does not begin with a mark and ten or more digits that add up.
bool BeginsWithHexRecord(const uint8_t* bytes, uint32_t size) {
    static const uint8_t kByteOrderMark[] = {0xEF, 0xBB, 0xBF};
    uint32_t at = 0;
    if (size >= sizeof kByteOrderMark &&
        std::memcmp(bytes, kByteOrderMark, sizeof kByteOrderMark) == 0) {
        at = sizeof kByteOrderMark;
    }
    while (at < size && IsBlank(bytes[at])) ++at;
    if (at == size || (bytes[at] & 0x7F) != ':') return false;
    ++at;
    // Count, address high and low, type, then as many data bytes as the count says, then
    // the checksum.
    uint32_t fields = 5;
    uint8_t sum = 0;
    for (uint32_t i = 0; i < fields; ++i, at += 2) {
        if (size - at < 2) return false;
        const uint8_t high = kDigits.value[bytes[at]];
        const uint8_t low = kDigits.value[bytes[at + 1]];
        if (high >= 16 || low >= 16) return false;
        const uint8_t byte = static_cast<uint8_t>(high << 4 | low);
        if (i == 0) fields += byte;
        sum = static_cast<uint8_t>(sum + byte);
    }
    return sum == 0;
}

// The drive's identification in its INQUIRY data: vendor, then product, space-padded.
constexpr size_t kVendorChars = 8;
constexpr size_t kProductChars = 16;
constexpr size_t kIdentificationChars = kVendorChars + kProductChars;

bool IsRevisionField(const uint8_t* field) {
    bool blank = true;
    for (uint32_t i = 0; i < kRevisionChars; ++i) {
        if (field[i] < 0x20 || field[i] > 0x7E) return false;
        blank = blank && field[i] == ' ';
    }
    return !blank;
}

uint16_t SumBytes(const uint8_t* bytes, size_t count) {
    uint32_t sum = 0;
    for (size_t i = 0; i < count; ++i) sum += bytes[i];
    return static_cast<uint16_t>(sum);
}

}  // namespace

LoadOutcome FlashEngine::LoadImage() {
    imageEnd = 0;
    CloseImageFile();
    imageFile = std::fopen(imagePath, isHexFile ? "r" : "rb");
    if (imageFile == nullptr) {
        ReportError(kErrOpenOutputFile);
        return LoadOutcome::ReadFailure;
    }
    LoadOutcome outcome = isHexFile ? LoadHex() : LoadRaw();
    // Nothing reads the file after the load, whatever its outcome.
    CloseImageFile();
    // No firmware is erased flash only: such an image, or one that stored no byte at
    // all, would leave the drive blank. Every byte a file did not give is 0xFF already.
    // Nor is the text of a HEX file that came with the wrong ending.
    if ((outcome == LoadOutcome::Complete || outcome == LoadOutcome::BufferFull) &&
        (ImageIsErased() || (!isHexFile && ImageIsHexText()))) {
        outcome = LoadOutcome::FormatFailure;
    }
    if (outcome == LoadOutcome::Complete && imageChunks[0] != nullptr) {
        // A lock the system refuses costs only speed.
        imageLocked = imageMemory->Lock(imageChunks[0], kImageBufferSize);
    }
    return outcome;
}

bool FlashEngine::ImageIsErased() const {
    const uint8_t* bytes = imageChunks[0];
    for (uint32_t i = 0; i < imageEnd; ++i) {
        if (bytes[i] != 0xFF) return false;
    }
    return true;
}

bool FlashEngine::ImageIsHexText() const {
    const uint8_t* bytes = imageChunks[0];
    if (BeginsWithHexRecord(bytes, imageEnd)) return true;
    // Text of nothing but marks, digits and blanks is HEX text too, whether or not its
    // first record adds up.
    bool marked = false;
    for (uint32_t i = 0; i < imageEnd; ++i) {
        const uint8_t c = bytes[i];
        const bool blank = IsBlank(c);
        if (!blank && !marked && c != ':') return false;
        if (c == ':') {
            marked = true;
        } else if (!blank && !IsHexDigit(c)) {
            return false;
        }
    }
    return marked;
}

bool FlashEngine::ImageHolds(const char* text, size_t count) const {
    const uint8_t* bytes = imageChunks[0];
    if (bytes == nullptr || count == 0 || count > imageEnd) return false;
    const uint8_t first = static_cast<uint8_t>(text[0]);
    const uint8_t* last = bytes + (imageEnd - count);
    for (const uint8_t* at = bytes; at <= last; ++at) {
        at = static_cast<const uint8_t*>(std::memchr(at, first, size_t(last - at) + 1));
        if (at == nullptr) return false;
        if (std::memcmp(at, text, count) == 0) return true;
    }
    return false;
}

bool FlashEngine::FindFileRevision(char (&revision)[kRevisionChars + 1]) const {
    revision[0] = '\0';
    // The drive's own bytes, not the name the list shows. They are the identification only
    // when discovery copied all 24: a NUL among them ends the copy.
    const char* identification = drive.identification;
    if (std::memchr(identification, '\0', kIdentificationChars) != nullptr) return false;
    const uint8_t* bytes = imageChunks[0];
    const size_t span = kIdentificationChars + kRevisionChars;
    if (bytes == nullptr || imageEnd < span) return false;
    const uint8_t first = static_cast<uint8_t>(identification[0]);
    const uint8_t* last = bytes + (imageEnd - span);
    char found[kRevisionChars] = {};
    bool any = false;
    for (const uint8_t* at = bytes; at <= last; ++at) {
        at = static_cast<const uint8_t*>(std::memchr(at, first, size_t(last - at) + 1));
        if (at == nullptr) break;
        if (std::memcmp(at, identification, kIdentificationChars) != 0) continue;
        const uint8_t* field = at + kIdentificationChars;
        if (!IsRevisionField(field)) continue;
        // Two revisions for one drive: the file cannot say which it is.
        if (any && std::memcmp(found, field, kRevisionChars) != 0) return false;
        std::memcpy(found, field, kRevisionChars);
        any = true;
    }
    if (!any) return false;
    size_t length = kRevisionChars;
    while (found[length - 1] == ' ') --length;  // not all spaces: stops at 1
    std::memcpy(revision, found, length);
    revision[length] = '\0';
    return true;
}

ImageFindings ExamineImage(const UpdateJob& job, const char* name) {
    UpdateJob quiet = job;
    // The engine answers null callbacks with nothing: no line, no stop.
    quiet.SetRevisionText = nullptr;
    quiet.SetDriveText = nullptr;
    quiet.AppendLog = nullptr;
    quiet.SetStatusText = nullptr;
    quiet.SetProgress = nullptr;
    quiet.IsStopRequested = nullptr;
    FlashEngine engine(quiet);
    ImageFindings findings{ImageNaming::NotLoaded, {}};
    const LoadOutcome outcome = engine.LoadImage();
    if (outcome != LoadOutcome::Complete && outcome != LoadOutcome::BufferFull) return findings;
    findings.naming =
        engine.ImageHolds(name, std::strlen(name)) ? ImageNaming::Named : ImageNaming::NotNamed;
    engine.FindFileRevision(findings.revision);
    return findings;
}

// ---- HEX ----

bool FlashEngine::EndLoad(LoadOutcome outcome) {
    hexOutcome = outcome;
    return false;
}

bool FlashEngine::EndReader(LoadOutcome outcome, uint8_t errorCode) {
    ReportError(errorCode);
    return EndLoad(outcome);
}

bool FlashEngine::RefillInput() {
    if (inputEof) return false;
    inputLen = std::fread(input, 1, kInputWindow, imageFile);
    inputPos = 0;
    if (inputLen < kInputWindow) inputEof = true;
    return inputLen != 0;
}

inline int FlashEngine::NextChar() {
    if (inputPos == inputLen && !RefillInput()) return EOF;
    return static_cast<unsigned char>(input[inputPos++]);
}

bool FlashEngine::SkipToChar(char wanted) {
    for (;;) {
        const int c = NextChar();
        if (c == EOF || c == kEndOfFileByte) {
            return EndReader(LoadOutcome::FormatFailure, kErrFormatMismatch);
        }
        if (IsStopRequested()) return EndReader(LoadOutcome::Stopped, kErrTerminateUpgrade);
        if ((c & 0x7F) == wanted) return true;
    }
}

inline bool FlashEngine::ReadHexDigit(uint8_t& digit) {
    if (IsStopRequested()) return EndReader(LoadOutcome::Stopped, kErrTerminateUpgrade);
    const int c = NextChar();
    const uint8_t value = c == EOF ? kEnd : kDigits.value[c];
    if (value >= 16) return NotADigit(value, digit);
    digit = value;
    return true;
}

bool FlashEngine::NotADigit(uint8_t value, uint8_t& digit) {
    if (value == kEnd) return EndReader(LoadOutcome::FormatFailure, kErrFormatMismatch);
    // Reading goes on with a 0; the record's checksum decides.
    ReportError(kErrFormatMismatch);
    digit = 0;
    return true;
}

inline bool FlashEngine::ReadHexByte(uint8_t& byte) {
    uint8_t high, low;
    if (!ReadHexDigit(high) || !ReadHexDigit(low)) return false;
    byte = static_cast<uint8_t>(high << 4 | low);
    recordSum = static_cast<uint8_t>(recordSum + byte);
    return true;
}

LoadOutcome FlashEngine::LoadHex() {
    bankCount = 0;
    if (!AllocateImage(true)) {
        ReportError(kErrAllocateMemory);
        return LoadOutcome::AllocationFailure;
    }
    inputPos = inputLen = 0;
    inputEof = false;
    while (ReadRecord()) {
    }
    return hexOutcome;
}

// One record, from its mark through its checksum. True when the next one is to be read.
bool FlashEngine::ReadRecord() {
    recordSum = 0;
    uint8_t count, addressHigh, addressLow, type;
    if (!SkipToChar(':') || !ReadHexByte(count) || !ReadHexByte(addressHigh) ||
        !ReadHexByte(addressLow) || !ReadHexByte(type)) {
        return false;
    }
    if (type != kTypeData && type != kTypeEndOfFile && type != kTypeBankAdvance) {
        return EndLoad(LoadOutcome::FormatFailure);  // its checksum is not even read
    }
    if (type == kTypeData) {
        const uint32_t address = uint32_t{addressHigh} << 8 | addressLow;
        if (!ReadDataBytes(bankCount * kBankSize + address, count)) return false;
    }
    uint8_t checksum;
    if (!ReadHexByte(checksum)) return false;
    // Only a data record carries bytes; in the others a count means a malformed record.
    if (recordSum != 0 || (type != kTypeData && count != 0)) {
        return EndLoad(LoadOutcome::FormatFailure);
    }
    if (type == kTypeEndOfFile) return EndLoad(LoadOutcome::Complete);
    if (type == kTypeBankAdvance) {
        // The checksum sums (bankCount + 1) banks; a 16th advance would reach past the
        // buffer.
        if (bankCount >= kMaxBankCount) return EndLoad(LoadOutcome::FormatFailure);
        ++bankCount;
    }
    return true;
}

// The bytes go in at the cursor as they are read, before the record's checksum is known.
bool FlashEngine::ReadDataBytes(uint32_t loadAddress, uint8_t count) {
    // The buffer ends at 0xFFFFF; a file that addresses beyond it is not an image for
    // this drive. What fits is stored first, as it would be byte by byte.
    const uint32_t room = loadAddress < kImageBufferSize ? kImageBufferSize - loadAddress : 0;
    const uint32_t fits = count < room ? count : room;
    if (fits != 0) SetCursor(loadAddress);
    uint32_t stored = 0;
    uint8_t value;
    while (stored < fits && ReadHexByte(value)) {
        imageChunks[chunkIndex][chunkOffset] = value;
        StepCursor();
        ++stored;
    }
    if (stored != 0 && CursorAddress() > imageEnd) imageEnd = CursorAddress();
    if (stored == count) return true;
    // Short of the count: the reader ended inside the record, or the record runs past
    // the buffer.
    return stored < fits ? false : EndLoad(LoadOutcome::FormatFailure);
}

uint16_t FlashEngine::HexImageChecksum() const {
    uint16_t total = 0;
    const uint32_t lastChunk = 2 * bankCount + 1;
    for (uint32_t i = 0; i <= lastChunk && i < kImageChunkCount; ++i) {
        if (imageChunks[i] == nullptr) break;
        total = static_cast<uint16_t>(total + SumBytes(imageChunks[i], kImageChunkSize));
    }
    return total;
}

// ---- raw ----

LoadOutcome FlashEngine::LoadRaw() {
    const int64_t length = platform::FileLength(imageFile);
    if (length <= 0) return LoadOutcome::ReadFailure;
    // The file's bytes go straight into the buffer and only the rest is filled: one pass
    // over the megabyte instead of two.
    if (!AllocateImage(false)) {
        ReportError(kErrAllocateMemory);
        return LoadOutcome::AllocationFailure;
    }
    if (std::fseek(imageFile, 0, SEEK_SET) != 0) {
        std::memset(imageChunks[0], 0xFF, kImageBufferSize);
        return LoadOutcome::ReadFailure;
    }

    LoadOutcome outcome = LoadOutcome::BufferFull;
    uint32_t sum = 0;
    for (int i = 0; i < kImageChunkCount; ++i) {
        const size_t got = std::fread(imageChunks[i], 1, kImageChunkSize, imageFile);
        imageEnd += static_cast<uint32_t>(got);
        // Summed while the chunk is still in the cache.
        sum += SumBytes(imageChunks[i], got);
        if (got < kImageChunkSize) {
            // A short read is the end of the file unless the stream says it failed.
            outcome = std::ferror(imageFile) ? LoadOutcome::ReadFailure : LoadOutcome::Complete;
            break;
        }
    }
    if (outcome == LoadOutcome::BufferFull) outcome = ReadPastBuffer();
    std::memset(imageChunks[0] + imageEnd, 0xFF, kImageBufferSize - imageEnd);
    // The file was measured non-empty; finding nothing in it now is no image to flash.
    if (imageEnd == 0) outcome = LoadOutcome::ReadFailure;
    if (outcome != LoadOutcome::ReadFailure) {
        // The sum of the whole buffer: what was read, and 0xFF for every byte of fill.
        runningSum = static_cast<uint16_t>(sum + 0xFFu * (kImageBufferSize - imageEnd));
    }
    return outcome;
}

// Later drives' firmware is 2 MiB and more: its first megabyte alone would leave the
// drive half programmed. Only erased-flash padding may follow the buffer's end.
LoadOutcome FlashEngine::ReadPastBuffer() {
    for (;;) {
        const size_t got = std::fread(input, 1, kInputWindow, imageFile);
        for (size_t i = 0; i < got; ++i) {
            if (static_cast<uint8_t>(input[i]) != 0xFF) return LoadOutcome::TooLarge;
        }
        if (got < kInputWindow) {
            return std::ferror(imageFile) ? LoadOutcome::ReadFailure : LoadOutcome::BufferFull;
        }
    }
}

}  // namespace telvio
