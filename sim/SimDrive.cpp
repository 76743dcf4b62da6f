#include "sim/SimDrive.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

constexpr uint8_t kTestUnitReady = 0x00;
constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kWriteBuffer = 0x3B;
constexpr uint8_t kModeSense10 = 0x5A;

constexpr uint8_t kCapabilitiesPage = 0x2A;
constexpr uint8_t kAllPages = 0x3F;

constexpr uint8_t kModeDownload = 0x06;
constexpr uint8_t kModeDownloadAndSave = 0x07;

// Where the image starts in the download buffer; the bytes before it are the checksum
// block, whose last two carry the expected sum.
constexpr uint32_t kImageStart = 32;

constexpr SenseCode kInvalidOpcode{0x05, 0x20, 0x00};
constexpr SenseCode kInvalidField{0x05, 0x24, 0x00};

uint32_t Be16(const uint8_t* p) {
    return (uint32_t(p[0]) << 8) | p[1];
}
uint32_t Be24(const uint8_t* p) {
    return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
}

void PutPadded(uint8_t* dst, size_t width, const std::string& text, uint8_t pad = ' ') {
    std::memset(dst, pad, width);
    std::memcpy(dst, text.data(), std::min(width, text.size()));
}

SimDrive::Outcome Check(SenseCode sense) {
    SimDrive::Outcome o;
    o.check = true;
    o.sense = sense;
    return o;
}

SimDrive::Outcome Good(uint32_t transferred) {
    SimDrive::Outcome o;
    o.transferred = transferred;
    return o;
}

// Copies a reply of `size` bytes into the caller's data-in area: no more than the
// allocation length the CDB allows and no more than the transport announced.
uint32_t Reply(const uint8_t* reply, uint32_t size, uint32_t allocation, Dir dir, uint8_t* data,
               uint32_t length) {
    if (dir != Dir::In || data == nullptr) return 0;
    uint32_t n = std::min({size, allocation, length});
    std::memcpy(data, reply, n);
    return n;
}

}  // namespace

uint32_t Fnv1a(const uint8_t* data, size_t length) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < length; ++i) {
        h ^= data[i];
        h *= 16777619u;
    }
    return h;
}

SimDrive::SimDrive(DriveConfig config)
    : config_(std::move(config)),
      revision_(config_.revision),
      storedRevision_(config_.revision),
      buffer_(config_.bufferSize, 0) {}

void SimDrive::AddFault(const Fault& fault) {
    faults_.push_back(fault);
}

void SimDrive::ClearFaults() {
    faults_.clear();
}

void SimDrive::RestoreRevision(const std::string& revision, bool flashed) {
    revision_ = revision;
    storedRevision_ = revision;
    flashed_ = flashed;
}

Fault* SimDrive::MatchFault(const uint8_t* cdb, uint8_t cdbLength) {
    if (cdbLength == 0) return nullptr;
    const uint8_t opcode = cdb[0];
    for (Fault& f : faults_) {
        if (f.count == 0) continue;
        if (f.afterSave && !sawSave_) continue;
        if (f.opcode >= 0 && f.opcode != opcode) continue;
        if (f.mode >= 0 || f.bufferOffset >= 0) {
            // Mode and offset only mean something for WRITE BUFFER.
            if (opcode != kWriteBuffer || cdbLength < 6) continue;
            if (f.mode >= 0 && f.mode != (cdb[1] & 0x1F)) continue;
            if (f.bufferOffset >= 0 && f.bufferOffset != int64_t(Be24(cdb + 3))) continue;
        }
        return &f;
    }
    return nullptr;
}

Result SimDrive::Execute(const uint8_t* cdb, uint8_t cdbLength, Dir dir, uint8_t* data,
                         uint32_t length, uint8_t adapter, uint8_t target, uint8_t lun,
                         uint32_t timeoutSeconds) {
    CommandRecord rec;
    rec.adapter = adapter;
    rec.target = target;
    rec.lun = lun;
    rec.dir = dir;
    rec.length = length;
    rec.timeoutSeconds = timeoutSeconds;
    if (cdb == nullptr) cdbLength = 0;
    rec.cdbLength = cdbLength;
    std::memcpy(rec.cdb.data(), cdb, std::min<size_t>(cdbLength, rec.cdb.size()));
    rec.opcode = rec.cdb[0];
    if (data == nullptr) length = 0;

    Result result;
    Outcome outcome;
    const bool save =
        cdbLength >= 2 && rec.opcode == kWriteBuffer && (rec.cdb[1] & 0x1F) == kModeDownloadAndSave;
    if (Fault* fault = MatchFault(rec.cdb.data(), std::min<uint8_t>(cdbLength, 16))) {
        --fault->count;
        if (fault->kind != Fault::Kind::CheckCondition) {
            result.transportOk = false;
            result.timedOut = fault->kind == Fault::Kind::NoAnswer;
            rec.transportFailed = true;
            rec.timedOut = result.timedOut;
            if (dir == Dir::Out) rec.dataDigest = Fnv1a(data, length);
            record_.push_back(rec);
            sawSave_ = sawSave_ || save;
            return result;
        }
        outcome = Check(fault->sense);
    } else if (cdbLength < 6) {
        // Anything shorter than a group 0 CDB cannot carry a command this drive knows.
        outcome = Check(kInvalidOpcode);
    } else {
        outcome = Dispatch(rec.cdb.data(), cdbLength, dir, data, length);
    }

    if (outcome.check) {
        result.status = 2;
        result.sense[0] = 0x70;
        result.sense[2] = outcome.sense.key & 0x0F;
        result.sense[7] = 10;
        result.sense[12] = outcome.sense.asc;
        result.sense[13] = outcome.sense.ascq;
        rec.status = 2;
        rec.sense = outcome.sense;
        if (dir == Dir::Out) rec.dataDigest = Fnv1a(data, length);
    } else {
        result.transferred = outcome.transferred;
        rec.dataDigest = Fnv1a(data, dir == Dir::Out ? length : outcome.transferred);
    }
    record_.push_back(rec);
    sawSave_ = sawSave_ || save;
    return result;
}

// The command handlers; each returns good status with the bytes moved, or the sense of
// its check condition.
SimDrive::Outcome SimDrive::Dispatch(const uint8_t* cdb, uint8_t cdbLength, Dir dir, uint8_t* data,
                                     uint32_t length) {
    switch (cdb[0]) {
        case kTestUnitReady:
            return Good(0);
        case kInquiry:
            return Inquiry(cdb, dir, data, length);
        case kModeSense10:
            if (cdbLength < 10) return Check(kInvalidOpcode);
            return ModeSense(cdb, dir, data, length);
        case kWriteBuffer:
            if (cdbLength < 10) return Check(kInvalidOpcode);
            return WriteBuffer(cdb, dir, data, length);
        default:
            return Check(kInvalidOpcode);
    }
}

SimDrive::Outcome SimDrive::Inquiry(const uint8_t* cdb, Dir dir, uint8_t* data, uint32_t length) {
    // No vital product data pages here: EVPD and a page code are refused.
    if ((cdb[1] & 0x01) != 0 || cdb[2] != 0) return Check(kInvalidField);
    uint8_t reply[kInquiryLength] = {};
    reply[0] = config_.peripheral;
    reply[1] = 0x80;  // removable medium
    reply[2] = 0x00;
    reply[3] = 0x32;  // response data format 2
    const uint32_t size = std::min(config_.inquiryLength, kInquiryLength);
    reply[4] = static_cast<uint8_t>(size - 5);
    PutPadded(reply + 8, 8, config_.vendor, config_.inquiryPad);
    PutPadded(reply + 16, 16, config_.product, config_.inquiryPad);
    PutPadded(reply + 32, 4, revision_, config_.inquiryPad);
    const uint32_t allocation = Be16(cdb + 3);
    return Good(Reply(reply, size, allocation, dir, data, length));
}

SimDrive::Outcome SimDrive::ModeSense(const uint8_t* cdb, Dir dir, uint8_t* data, uint32_t length) {
    const uint8_t page = cdb[2] & 0x3F;
    if (page != kCapabilitiesPage && page != kAllPages) return Check(kInvalidField);
    uint8_t reply[kModeSenseLength] = {};
    // Mode parameter header (10): data length excludes its own two bytes; no block
    // descriptors follow.
    reply[1] = kModeSenseLength - 2;
    uint8_t* p = reply + 8;
    p[0] = kCapabilitiesPage;
    p[1] = kModeSenseLength - 8 - 2;
    p[2] = config_.readCaps;
    p[3] = config_.writeCaps;
    p[4] = 0x71;  // audio play, composite, digital ports, multi-session
    p[5] = 0x77;
    p[6] = 0x29;  // tray loader, eject, lock
    p[7] = 0x23;
    p[8] = 0x1B;  // maximum read speed 7056 kB/s
    p[9] = 0x90;
    p[10] = 0x01;  // 256 volume levels
    p[11] = 0x00;
    p[12] = 0x08;  // 2 MiB buffer
    p[13] = 0x00;
    p[14] = 0x1B;
    p[15] = 0x90;
    const uint32_t allocation = Be16(cdb + 7);
    return Good(Reply(reply, sizeof reply, allocation, dir, data, length));
}

SimDrive::Outcome SimDrive::WriteBuffer(const uint8_t* cdb, Dir dir, uint8_t* data,
                                        uint32_t length) {
    const uint8_t mode = cdb[1] & 0x1F;
    const uint32_t offset = Be24(cdb + 3);
    const uint32_t paramLength = Be24(cdb + 6);
    if (mode != kModeDownload && mode != kModeDownloadAndSave) return Check(kInvalidField);
    if (cdb[2] != 0) return Check(kInvalidField);  // only buffer 0 exists

    if (mode == kModeDownloadAndSave && paramLength == 0) {
        // The activation moves no data, whatever the transport was told to expect.
        return TakeDownload() ? Good(0) : Check(kInvalidField);
    }
    // A drive refuses a parameter list whose length disagrees with what arrives.
    if (dir != Dir::Out || paramLength != length) return Check(kInvalidField);
    if (uint64_t(offset) + paramLength > buffer_.size()) return Check(kInvalidField);
    std::memcpy(buffer_.data() + offset, data, paramLength);
    downloadEnd_ = std::max(downloadEnd_, offset + paramLength);
    if (mode == kModeDownloadAndSave && !TakeDownload()) return Check(kInvalidField);
    return Good(paramLength);
}

std::string SimDrive::RevisionInFirmware() const {
    // A firmware answers INQUIRY from its own bytes: the identification the drive reports,
    // then its revision. An image without them (most test images) gets `newRevision`.
    uint8_t identification[24];
    PutPadded(identification, 8, config_.vendor);
    PutPadded(identification + 8, 16, config_.product);
    const size_t span = sizeof identification + 4;
    for (size_t at = 0; at + span <= firmware_.size(); ++at) {
        const uint8_t* p = firmware_.data() + at;
        if (std::memcmp(p, identification, sizeof identification) != 0) continue;
        const uint8_t* field = p + sizeof identification;
        const bool printable =
            std::all_of(field, field + 4, [](uint8_t c) { return c >= 0x20 && c <= 0x7E; });
        const bool blank = std::all_of(field, field + 4, [](uint8_t c) { return c == ' '; });
        if (printable && !blank) return std::string(reinterpret_cast<const char*>(field), 4);
    }
    return config_.newRevision;
}

bool SimDrive::TakeDownload() {
    bool ok = downloadEnd_ > kImageStart;
    if (ok) {
        uint16_t sum = 0;
        for (uint32_t i = kImageStart; i < downloadEnd_; ++i) sum = uint16_t(sum + buffer_[i]);
        const uint16_t expected = uint16_t((buffer_[30] << 8) | buffer_[31]);
        ok = sum == expected;
    }
    if (ok) {
        firmware_.assign(buffer_.begin() + kImageStart, buffer_.begin() + downloadEnd_);
        flashed_ = true;
        storedRevision_ = RevisionInFirmware();
        if (!config_.newRevisionAtRestart) revision_ = storedRevision_;
    }
    // Either way the next download starts afresh; the bytes stay for inspection.
    downloadEnd_ = 0;
    return ok;
}

}  // namespace sim
