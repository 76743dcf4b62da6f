// A simulated MMC CD/DVD drive: the model that stands behind every door the program
// uses to reach a drive (the ASPI library, Wine's pass-through through the SG_IO
// library, and the native stand-in for ScsiExecute). Portable C++, no platform header.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

enum class Dir : uint8_t { None = 0, In = 1, Out = 2 };

struct SenseCode {
    uint8_t key = 0;
    uint8_t asc = 0;
    uint8_t ascq = 0;
};

// What one drive is and how it answers.
struct DriveConfig {
    uint8_t peripheral = 0x05;           // INQUIRY byte 0
    std::string vendor = "TELVIOSM";     // INQUIRY 8..15, padded with spaces to 8
    std::string product = "SIM DVD-RW";  // INQUIRY 16..31, padded to 16
    std::string revision = "1.00";       // INQUIRY 32..35, padded to 4
    // In the flash once a download has been taken, unless the image holds the drive's
    // vendor and product (24 bytes, padded) followed by a revision: the drive takes that.
    std::string newRevision = "2.00";
    // When INQUIRY shows newRevision: at once after the mode 7 that took it (false), or
    // only after a restart (true: a later process with the same state).
    bool newRevisionAtRestart = false;
    uint8_t readCaps = 0x3F;             // MODE SENSE page 0x2A byte 2
    uint8_t writeCaps = 0x37;            // MODE SENSE page 0x2A byte 3
    uint32_t bufferSize = 0x120000;      // download buffer; offsets beyond it are refused
    // Standard INQUIRY bytes the drive has (5 to 36); byte 4 says so. Some drives stop
    // short of the revision field.
    uint32_t inquiryLength = 36;
    // What the names are padded with: a space, as the standard says, or a NUL, as some
    // drives do.
    uint8_t inquiryPad = ' ';
};

// A fault: the next `count` commands that match fail. `opcode` -1 matches any; for
// WRITE BUFFER `mode` and `bufferOffset` narrow the match (-1 = any).
struct Fault {
    enum class Kind : uint8_t {
        CheckCondition,  // the command ends with CHECK CONDITION and `sense`
        TransportFail,   // the call that carries the command fails (SG_IO error, ASPI SS_ERR)
        // The drive never answers: the time-out the request carried runs out, reported at
        // once (SG_IO fails with ETIMEDOUT), or, where none is carried, the request stays
        // pending (ASPI).
        NoAnswer,
    };
    int opcode = -1;
    int mode = -1;
    int64_t bufferOffset = -1;
    uint32_t count = 1;
    Kind kind = Kind::CheckCondition;
    SenseCode sense;
    // Only commands after the drive received a WRITE BUFFER mode 7 (taken or not) match.
    bool afterSave = false;
};

// One command as the drive received it.
struct CommandRecord {
    uint8_t opcode = 0;
    uint8_t adapter = 0;
    uint8_t target = 0;
    uint8_t lun = 0;
    Dir dir = Dir::None;
    uint32_t length = 0;          // transfer length the transport announced
    uint32_t timeoutSeconds = 0;  // as the transport gave it (0 where it gives none)
    uint8_t cdbLength = 0;
    std::array<uint8_t, 16> cdb{};
    uint32_t dataDigest = 0;  // FNV-1a 32 of the bytes moved (out: received; in: returned)
    uint8_t status = 0;       // SCSI status returned (0 good, 2 check condition)
    SenseCode sense;          // when status is 2
    bool transportFailed = false;
    bool timedOut = false;  // a NoAnswer fault: transportFailed too
};

// The outcome of one command.
struct Result {
    bool transportOk = true;          // false: the carrying call itself failed
    bool timedOut = false;            // and the drive never answered (a NoAnswer fault)
    uint8_t status = 0;               // SCSI status byte
    std::array<uint8_t, 18> sense{};  // fixed-format sense, valid when status is 2
    uint32_t transferred = 0;         // bytes moved
};

uint32_t Fnv1a(const uint8_t* data, size_t length);

class SimDrive {
  public:
    explicit SimDrive(DriveConfig config = {});

    // Executes one CDB. For Dir::Out `data` holds `length` bytes sent to the drive; for
    // Dir::In up to `length` bytes are written to `data`. Address fields are recorded.
    Result Execute(const uint8_t* cdb, uint8_t cdbLength, Dir dir, uint8_t* data, uint32_t length,
                   uint8_t adapter = 0, uint8_t target = 0, uint8_t lun = 0,
                   uint32_t timeoutSeconds = 0);

    void AddFault(const Fault& fault);
    void ClearFaults();

    const DriveConfig& Config() const { return config_; }
    const std::vector<CommandRecord>& Record() const { return record_; }
    void ClearRecord() { record_.clear(); }

    // The download buffer as WRITE BUFFER mode 6 filled it (0x00 where nothing came).
    const std::vector<uint8_t>& DownloadBuffer() const { return buffer_; }
    // Highest buffer offset + 1 written by mode 6 since the last mode 7.
    uint32_t DownloadEnd() const { return downloadEnd_; }
    // Revision INQUIRY reports now: the new firmware's once a mode 7 has been taken, unless
    // the drive shows it only after a restart.
    const std::string& Revision() const { return revision_; }
    // Revision in the drive's flash: what it reports after a restart.
    const std::string& StoredRevision() const { return storedRevision_; }
    bool Flashed() const { return flashed_; }
    // The image bytes (buffer offset 32 onward, DownloadEnd()-32 long) that the last
    // mode 7 accepted; empty until one is taken.
    const std::vector<uint8_t>& Firmware() const { return firmware_; }

    // Puts the drive back in the state an earlier process left it in.
    void RestoreRevision(const std::string& revision, bool flashed);

    // Standard INQUIRY data and the MODE SENSE(10) reply (header + page 0x2A) in full.
    static constexpr uint32_t kInquiryLength = 36;
    static constexpr uint32_t kModeSenseLength = 8 + 2 + 24;

    // What one command handler decided: good status with `transferred` bytes moved, or a
    // check condition with `sense`.
    struct Outcome {
        bool check = false;
        SenseCode sense;
        uint32_t transferred = 0;
    };

  private:
    Fault* MatchFault(const uint8_t* cdb, uint8_t cdbLength);
    Outcome Dispatch(const uint8_t* cdb, uint8_t cdbLength, Dir dir, uint8_t* data,
                     uint32_t length);
    Outcome Inquiry(const uint8_t* cdb, Dir dir, uint8_t* data, uint32_t length);
    Outcome ModeSense(const uint8_t* cdb, Dir dir, uint8_t* data, uint32_t length);
    Outcome WriteBuffer(const uint8_t* cdb, Dir dir, uint8_t* data, uint32_t length);
    // Mode 7: takes the downloaded image when its sum matches the checksum block.
    bool TakeDownload();
    // The revision the taken firmware reports: the first one that follows the drive's
    // identification in it, else the configured newRevision.
    std::string RevisionInFirmware() const;

    DriveConfig config_;
    std::string revision_;
    std::string storedRevision_;
    bool flashed_ = false;
    bool sawSave_ = false;
    std::vector<uint8_t> buffer_;
    uint32_t downloadEnd_ = 0;
    std::vector<uint8_t> firmware_;
    std::vector<Fault> faults_;
    std::vector<CommandRecord> record_;
};

}  // namespace sim
