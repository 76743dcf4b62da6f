// The checks of the Upgrade button, before anything is sent, in the order they run: from
// what the window holds to one answer. No window and no system call: the window gathers
// the facts and acts on the answer, and the order is tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "drive/DriveRecord.h"
#include "engine/FlashEngine.h"
#include "engine/UpdateJob.h"

namespace telvio {

constexpr int kModelSlots = 10;
constexpr int kModelSlotSize = 25;
// The boxes' texts as the window reads them: at most 511 characters.
constexpr size_t kTextBufferSize = 512;

// The system's values, for code without windows.h.
constexpr unsigned kStopStyle = 0x10;          // MB_ICONHAND
constexpr unsigned kSystemStopStyle = 0x1010;  // MB_ICONHAND | MB_SYSTEMMODAL
constexpr unsigned kQuestionStyle = 0x134;     // MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2
constexpr int kDriveNoRootDir = 1;             // DRIVE_NO_ROOT_DIR

// What the checks look at. Each is asked for when its check is reached, not before: a
// question may stand a long time, and what follows it (the battery) is read after it.
class UpgradeFacts {
  public:
    virtual ~UpgradeFacts() = default;
    virtual std::string FileText() = 0;      // the file box
    virtual std::string DriveText() = 0;     // the drive box
    virtual std::string RevisionText() = 0;  // the revision label
    // The job's drive as FillUpdateJob leaves it: the record the drive box names, or the
    // last command's with adapter and target 255.
    virtual DriveRecord ChosenDrive() = 0;
    virtual int ModelCount() = 0;
    virtual bool BrowseUsed() = 0;
    virtual bool CurrentDirectoryKnown() = 0;
    virtual int DriveType(const char* root) = 0;  // as GetDriveTypeA answers it
    virtual ImageFindings Examine(const UpdateJob& job, const char* product) = 0;
    // False when the system cannot tell (no such call): no reason to refuse.
    virtual bool PowerStatus(uint8_t& acLine, uint8_t& batteryPercent) = 0;
    // Of the chosen drive, asked of the storage stack without a command to the drive: a
    // file system reads a disc in it (only where the drive can be locked), and it sits
    // behind USB or FireWire.
    virtual bool DiscReadable(const DriveRecord& drive) = 0;
    virtual bool ExternalBus(const DriveRecord& drive) = 0;
};

enum class UpgradeDoor : uint8_t {
    GoOn,    // nothing stands in the way: the run may start
    Refuse,  // the command stops, and says why
    Ask,     // a question: Yes (OK for the warning) leads to the next answer, else it stops
};

struct UpgradeAnswer {
    UpgradeDoor door = UpgradeDoor::GoOn;
    // False only for the refusal before the command takes the window: Close is left as it
    // was, and the job as the last command left it.
    bool commandTaken = true;
    // Refuse and Ask: the box. A refusal without a caption is a line of the log instead.
    // The warning dialog asks instead of a box: `text` names the drive, `revision` its
    // revision.
    bool warning = false;
    std::string text;
    const char* caption = nullptr;
    unsigned style = 0;
    std::string revision;
    // GoOn: the path as the job takes it, its ending lower-cased, and its format.
    std::string imagePath;
    uint8_t isHexFile = 1;
};

// A refusal with a box: the answer of a check, and of the run when it cannot start.
UpgradeAnswer Refusal(std::string text, const char* caption = "Error!!",
                      unsigned style = kStopStyle);

class UpgradeChecks {
  public:
    explicit UpgradeChecks(UpgradeFacts& facts) : facts_(facts) {}

    // From the first check on; after a Yes, from the check that follows the question.
    UpgradeAnswer Next();

  private:
    // One check: true when it answers, false when the next one follows.
    using Check = bool (UpgradeChecks::*)(UpgradeAnswer& answer);
    static const Check kSequence[];

    bool FileGiven(UpgradeAnswer& answer);
    bool ModelAgrees(UpgradeAnswer& answer);
    bool WarningConfirmed(UpgradeAnswer& answer);
    bool DirectoryKnown(UpgradeAnswer& answer);
    bool EndingKnown(UpgradeAnswer& answer);
    bool DriveNamed(UpgradeAnswer& answer);
    bool PathGiven(UpgradeAnswer& answer);
    bool PathReachable(UpgradeAnswer& answer);
    bool NoDiscIn(UpgradeAnswer& answer);
    bool BusHolds(UpgradeAnswer& answer);
    bool ImageNamesDrive(UpgradeAnswer& answer);
    bool RevisionIsNew(UpgradeAnswer& answer);
    bool BatteryLasts(UpgradeAnswer& answer);

    UpgradeFacts& facts_;
    size_t next_ = 0;
    DriveRecord drive_{};
    std::string driveText_;
    UpdateJob probe_{};  // the job as the run would take it, for the image's findings
    ImageFindings findings_{};
    char product_[sizeof drive_.product] = {};  // trimmed, as the image holds it
    char shownProduct_[sizeof drive_.product] = {};
    // The drive's product name for the questions: trimmed, and as the window shows it.
    void NameProduct();
};

}  // namespace telvio
