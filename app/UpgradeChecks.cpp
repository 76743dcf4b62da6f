#include "app/UpgradeChecks.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <utility>

#include "app/UpgradeRules.h"
#include "drive/ShownText.h"

namespace telvio {

namespace {

// Below this, on battery, the machine may switch itself off mid-flash (the share that
// firmware updaters commonly require).
constexpr uint8_t kLowestBatteryPercent = 10;

bool Refuse(UpgradeAnswer& answer, std::string text, const char* caption,
            unsigned style = kStopStyle) {
    answer = Refusal(std::move(text), caption, style);
    return true;
}

bool AskYesNo(UpgradeAnswer& answer, std::string text) {
    answer.door = UpgradeDoor::Ask;
    answer.text = std::move(text);
    answer.caption = "Warning!!";
    answer.style = kQuestionStyle;
    return true;
}

}  // namespace

// The order is the safety argument: every refusal comes before the run takes the
// machine's upgrade and sends anything, and the questions come before the battery, which
// is read once the user has answered them.
const UpgradeChecks::Check UpgradeChecks::kSequence[] = {
    &UpgradeChecks::FileGiven,      &UpgradeChecks::ModelAgrees,   &UpgradeChecks::WarningConfirmed,
    &UpgradeChecks::DirectoryKnown, &UpgradeChecks::EndingKnown,   &UpgradeChecks::DriveNamed,
    &UpgradeChecks::PathGiven,      &UpgradeChecks::PathReachable, &UpgradeChecks::NoDiscIn,
    &UpgradeChecks::BusHolds,       &UpgradeChecks::ImageNamesDrive, &UpgradeChecks::RevisionIsNew,
    &UpgradeChecks::BatteryLasts,
};

UpgradeAnswer Refusal(std::string text, const char* caption, unsigned style) {
    UpgradeAnswer answer;
    answer.door = UpgradeDoor::Refuse;
    answer.text = std::move(text);
    answer.caption = caption;
    answer.style = style;
    return answer;
}

UpgradeAnswer UpgradeChecks::Next() {
    UpgradeAnswer answer;
    while (next_ < std::size(kSequence)) {
        if ((this->*kSequence[next_++])(answer)) {
            // The file box is looked at before the command takes the window.
            answer.commandTaken = next_ > 1;
            if (answer.door == UpgradeDoor::Refuse) --next_;  // a refusal stands
            return answer;
        }
    }
    answer.imagePath = probe_.imagePath;
    answer.isHexFile = probe_.isHexFile;
    return answer;
}

bool UpgradeChecks::FileGiven(UpgradeAnswer& answer) {
    if (!facts_.FileText().empty()) return false;
    return Refuse(answer, "You must input HEX file", "File Not Found!!");
}

bool UpgradeChecks::ModelAgrees(UpgradeAnswer& answer) {
    drive_ = facts_.ChosenDrive();
    driveText_ = facts_.DriveText();
    // The slots are the first 250 bytes of the box's text, zero after its end.
    char modelList[kTextBufferSize] = {};
    driveText_.copy(modelList, sizeof modelList - 1);
    if (ModelMatches(drive_.displayName, modelList, facts_.ModelCount(), kModelSlots)) return false;
    return Refuse(answer, "Drive model doesn't match!", nullptr, 0);
}

bool UpgradeChecks::WarningConfirmed(UpgradeAnswer& answer) {
    if (!facts_.BrowseUsed()) return false;
    answer.door = UpgradeDoor::Ask;
    answer.warning = true;
    answer.text = driveText_;
    answer.revision = facts_.RevisionText();
    return true;
}

bool UpgradeChecks::DirectoryKnown(UpgradeAnswer& answer) {
    if (facts_.CurrentDirectoryKnown()) return false;
    return Refuse(answer, "Can't retrieves the current directory.", "GetCurrentDirectory Error !!",
                  kSystemStopStyle);
}

bool UpgradeChecks::EndingKnown(UpgradeAnswer& answer) {
    facts_.FileText().copy(probe_.imagePath, sizeof probe_.imagePath - 1);
    switch (LowerCaseImageEnding(probe_.imagePath)) {
        case ImageKind::Hex:
            probe_.isHexFile = 1;
            return false;
        case ImageKind::Bin:
            probe_.isHexFile = 0;
            return false;
        case ImageKind::Mismatch:
            break;
    }
    return Refuse(answer, "Input file format mismatched.", "Error!!");
}

bool UpgradeChecks::DriveNamed(UpgradeAnswer& answer) {
    if (drive_.adapter != 255 && drive_.target != 255) return false;
    return Refuse(answer, "No Target Drive.", "Error!!");
}

bool UpgradeChecks::PathGiven(UpgradeAnswer& answer) {
    if (probe_.imagePath[0] != '\0') return false;
    return Refuse(answer, "Update file name is not assigned.", "Error!!");
}

// An elevated program does not see the network drives mapped in the user's own logon
// session; the load would only say the file cannot be opened, which reads as a missing
// file.
bool UpgradeChecks::PathReachable(UpgradeAnswer& answer) {
    const char letter = probe_.imagePath[0];
    if (!((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')) ||
        probe_.imagePath[1] != ':') {
        return false;
    }
    const char root[] = {letter, ':', '\\', '\0'};
    if (facts_.DriveType(root) != kDriveNoRootDir) return false;
    char text[224];
    std::snprintf(text, sizeof text,
                  "Telvio cannot reach drive %c:, where this file is. A network drive mapped in "
                  "your account is not visible to a program run as an administrator: copy the "
                  "file to a folder on this computer.",
                  letter >= 'a' ? char(letter - 'a' + 'A') : letter);
    return Refuse(answer, text, "Error!!");
}

// The driver refuses its lock while a file system has the disc mounted, and the lock is
// never forced over one: Explorer, an indexer or a virus scanner could read the disc
// between the blocks and while the drive programs its flash.
bool UpgradeChecks::NoDiscIn(UpgradeAnswer& answer) {
    if (!facts_.DiscReadable(drive_)) return false;
    return Refuse(answer,
                  "Take the disc out of the drive and close the tray, then press Upgrade again. "
                  "While a disc is in the drive, Windows and other programs can read it during "
                  "the upgrade.",
                  "Error!!");
}

// A bridge that drops the connection, resets or browns out while the drive programs its
// flash ruins the drive; the user can take most of that risk away.
bool UpgradeChecks::BusHolds(UpgradeAnswer& answer) {
    if (!facts_.ExternalBus(drive_)) return false;
    NameProduct();
    const std::string text =
        "The drive \"" + std::string(shownProduct_) +
        "\" is connected through USB or FireWire. If that connection drops while the drive "
        "programs its memory, the drive is ruined. Plug it straight into the computer, not into "
        "a hub, give it its own power supply if it has one, and do not touch the cable until the "
        "upgrade has ended.\n\nUpgrade now?";
    return AskYesNo(answer, text);
}

void UpgradeChecks::NameProduct() {
    CopyTrimmedField(product_, drive_.product, sizeof product_);
    CopyShownText(shownProduct_, product_, sizeof shownProduct_);
}

// A drive's firmware answers INQUIRY itself, so its image nearly always holds the product
// name the drive reports; one that does not may be another model's. Images their maker
// packed do not either, so the user decides. A file that does not load is not asked
// about: the run says what is wrong with it. One silent load answers this question and
// the next; it looks for the drive's own bytes, and the questions name the drive as the
// window shows it.
bool UpgradeChecks::ImageNamesDrive(UpgradeAnswer& answer) {
    NameProduct();
    probe_.drive = drive_;
    findings_ = facts_.Examine(probe_, product_);
    if (shownProduct_[0] == '\0' || findings_.naming != ImageNaming::NotNamed) return false;
    char text[192];
    std::snprintf(text, sizeof text,
                  "This file does not name the drive \"%s\".\nFirmware for another model can "
                  "leave the drive unusable.\n\nUpgrade with this file anyway?",
                  shownProduct_);
    return AskYesNo(answer, text);
}

// Flashing the revision a drive already runs gains nothing and puts the drive at risk
// all the same; people do it with "the latest firmware" they already have, or by running
// an upgrade again after it worked. Only a drive that misbehaves may need it, so the user
// decides. The revision compared is the one discovery read from this very drive, which
// the revision label shows for it.
bool UpgradeChecks::RevisionIsNew(UpgradeAnswer& answer) {
    char running[sizeof drive_.revision];
    CopyTrimmedField(running, drive_.revision, sizeof running);
    const char* fileRevision = findings_.revision;
    if (fileRevision[0] == '\0' || std::strcmp(fileRevision, running) != 0) return false;
    char text[224];
    std::snprintf(text, sizeof text,
                  "The drive \"%s\" already runs revision %s, the revision in this file.\nFlash "
                  "it again only to repair a drive that misbehaves.\n\nUpgrade with this file "
                  "anyway?",
                  shownProduct_, fileRevision);
    return AskYesNo(answer, text);
}

bool UpgradeChecks::BatteryLasts(UpgradeAnswer& answer) {
    uint8_t acLine = 0;
    uint8_t percent = 0;
    if (!facts_.PowerStatus(acLine, percent)) return false;
    // 255 is an unknown share, which is no reason to refuse.
    if (acLine != 0 || percent >= kLowestBatteryPercent) return false;
    return Refuse(answer,
                  "The battery is too low to upgrade the firmware safely. Connect the computer to "
                  "mains power and press Upgrade again.",
                  "Error!!");
}

}  // namespace telvio
