// The Upgrade button: the checks, the job, the confirmation and the worker; and the
// callbacks through which the engine shows its progress in the window.
#include <cstdio>
#include <cstring>

#include "app/MainDialog.h"
#include "app/UpgradeRules.h"
#include "drive/Discovery.h"
#include "drive/ExclusiveAccess.h"
#include "drive/ShownText.h"
#include "engine/FlashEngine.h"
#include "resources/resource.h"

namespace telvio {

namespace {

constexpr UINT kStopStyle = MB_ICONHAND;                         // 0x10
constexpr UINT kSystemStopStyle = MB_ICONHAND | MB_SYSTEMMODAL;  // 0x1010
constexpr UINT kQuestionStyle = MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2;  // 0x134
constexpr int kTextBufferSize = 512;
// Below this, on battery, the machine may switch itself off mid-flash (the share that
// firmware updaters commonly require).
constexpr BYTE kLowestBatteryPercent = 10;

// The system's hold of the job's drive, seen through these two so the window learns how
// far a run got and whether the drive stays held. Set on the window's thread before the
// worker starts.
DriveHold systemHold{};

void* HoldNoted(const DriveRecord& drive) {
    DownloadBegun = true;
    return systemHold.Hold != nullptr ? systemHold.Hold(drive) : nullptr;
}

void KeepNoted(void* held) {
    HoldKept = true;
    if (systemHold.KeepUntilExit != nullptr) systemHold.KeepUntilExit(held);
}

}  // namespace

bool MainDialog::BatteryTooLow() const {
    SYSTEM_POWER_STATUS power{};
    if (!services.GetPowerStatus(&power)) return false;
    // 255 is an unknown share, which is no reason to refuse.
    return power.ACLineStatus == 0 && power.BatteryLifePercent < kLowestBatteryPercent;
}

// A drive's firmware answers INQUIRY itself, so its image nearly always holds the product
// name the drive reports; one that does not may be another model's. Images their maker
// packed do not either, so the user decides. A file that does not load is not asked
// about: the run says what is wrong with it.
bool MainDialog::ImageNamesDrive(const char* product, ImageNaming naming) {
    if (product[0] == '\0' || naming != ImageNaming::NotNamed) return true;
    char text[192];
    std::snprintf(text, sizeof text,
                  "This file does not name the drive \"%s\".\nFirmware for another model can "
                  "leave the drive unusable.\n\nUpgrade with this file anyway?",
                  product);
    return Message(text, "Warning!!", kQuestionStyle) == IDYES;
}

// Flashing the revision a drive already runs gains nothing and puts the drive at risk
// all the same; people do it with "the latest firmware" they already have, or by running
// an upgrade again after it worked. Only a drive that misbehaves may need it, so the user
// decides. The revision compared is the one discovery read from this very drive, which
// the revision label shows for it.
bool MainDialog::FileRevisionIsNew(const char* product, const char* fileRevision) {
    char running[sizeof job.drive.revision];
    CopyTrimmedField(running, job.drive.revision, sizeof running);
    if (fileRevision[0] == '\0' || std::strcmp(fileRevision, running) != 0) return true;
    char text[224];
    std::snprintf(text, sizeof text,
                  "The drive \"%s\" already runs revision %s, the revision in this file.\nFlash "
                  "it again only to repair a drive that misbehaves.\n\nUpgrade with this file "
                  "anyway?",
                  product, fileRevision);
    return Message(text, "Warning!!", kQuestionStyle) == IDYES;
}

bool MainDialog::TakeUpgradeLock() {
    // One name for the machine, across its sessions where it has them (2000 on): two
    // drives on one IDE channel share its resets. 9x and NT 4 have one namespace, and no
    // such prefix.
    const bool sessions = transport.UsePassThrough == 1 && transport.isNT4OrOlder == 0;
    const char* name = sessions ? "Global\\TelvioDriveUpgrade" : "TelvioDriveUpgrade";
    if (services.TakeUpgradeLock(name, &upgradeLock_)) return true;
    Message("Another Telvio window is upgrading a drive. Let it finish, then press Upgrade again.",
            "Error!!", kStopStyle);
    return false;
}

void MainDialog::StopCommand() {
    SetClosingAllowed(true);
    // A refusal after the machine's upgrade was taken gives it back.
    ReleaseUpgradeLock();
}

void MainDialog::OnUpgrade() {
    // The button is off by then; a queued click, or a command sent straight to the window,
    // is ignored: one run per start of the program.
    if (runInProgress_ || runDone_) return;

    char fileText[kTextBufferSize] = {};
    GetDlgItemTextA(GetHwnd(), IDC_FILE_BOX, fileText, sizeof fileText);
    if (fileText[0] == '\0') {
        Message("You must input HEX file", "File Not Found!!", kStopStyle);
        return;
    }

    ActiveMainDialog = this;
    SetClosingAllowed(false);
    FillUpdateJob();

    char driveText[kTextBufferSize] = {};
    GetWindowTextA(driveBox.GetHwnd(), driveText, sizeof driveText);
    std::memcpy(modelList, driveText, sizeof modelList);
    if (!ModelMatches(job.drive.displayName, modelList, modelCount, kModelSlots)) {
        AppendLogNow("Drive model doesn't match!");
        StopCommand();
        return;
    }

    sharedModelText = driveText;
    char revisionText[kTextBufferSize] = {};
    GetWindowTextA(revisionLabel.GetHwnd(), revisionText, sizeof revisionText);
    sharedRevisionText = revisionText;

    if (browseUsed != 0 && services.ConfirmUpgrade(GetHwnd()) != IDOK) {
        StopCommand();
        return;
    }

    char directory[MAX_PATH] = {};
    if (services.QueryCurrentDirectory(sizeof directory, directory) == 0) {
        Message("Can't retrieves the current directory.", "GetCurrentDirectory Error !!",
                kSystemStopStyle);
        StopCommand();
        return;
    }

    GetDlgItemTextA(GetHwnd(), IDC_FILE_BOX, job.imagePath, sizeof job.imagePath);
    switch (LowerCaseImageEnding(job.imagePath)) {
        case ImageKind::Hex:
            job.isHexFile = 1;
            break;
        case ImageKind::Bin:
            job.isHexFile = 0;
            break;
        case ImageKind::Mismatch:
            Message("Input file format mismatched.", "Error!!", kStopStyle);
            StopCommand();
            return;
    }

    if (job.drive.adapter == 255 || job.drive.target == 255) {
        Message("No Target Drive.", "Error!!", kStopStyle);
        StopCommand();
        return;
    }
    if (job.imagePath[0] == '\0') {
        Message("Update file name is not assigned.", "Error!!", kStopStyle);
        StopCommand();
        return;
    }

    // An elevated program does not see the network drives mapped in the user's own logon
    // session; the load would only say the file cannot be opened, which reads as a
    // missing file.
    const char letter = job.imagePath[0];
    if (((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')) &&
        job.imagePath[1] == ':') {
        const char root[] = {letter, ':', '\\', '\0'};
        if (GetDriveTypeA(root) == DRIVE_NO_ROOT_DIR) {
            char text[224];
            std::snprintf(text, sizeof text,
                          "Telvio cannot reach drive %c:, where this file is. A network drive "
                          "mapped in your account is not visible to a program run as an "
                          "administrator: copy the file to a folder on this computer.",
                          letter >= 'a' ? char(letter - 'a' + 'A') : letter);
            Message(text, "Error!!", kStopStyle);
            StopCommand();
            return;
        }
    }

    // One silent load of the file answers both questions. It looks for the drive's own
    // bytes; the questions name the drive as the window shows it.
    char product[sizeof job.drive.product];
    CopyTrimmedField(product, job.drive.product, sizeof product);
    const ImageFindings findings = ExamineImage(job, product);
    char shownProduct[sizeof product];
    CopyShownText(shownProduct, product, sizeof shownProduct);
    if (!ImageNamesDrive(shownProduct, findings.naming) ||
        !FileRevisionIsNew(shownProduct, findings.revision)) {
        StopCommand();
        return;
    }

    if (BatteryTooLow()) {
        Message("The battery is too low to upgrade the firmware safely. Connect the computer to "
                "mains power and press Upgrade again.",
                "Error!!", kStopStyle);
        StopCommand();
        return;
    }

    // Nothing above sends a command; from here on the drive is this window's alone.
    if (!TakeUpgradeLock()) {
        StopCommand();
        return;
    }

    // Another program's lock would refuse the first WRITE BUFFER; the user can end it.
    uint8_t holder[kCallerNameLength] = {};
    if (services.DriveLockedByOther(transport, job.drive, holder)) {
        char shown[kShownHolderSize];
        ShowHolderName(holder, shown);
        char text[160];
        std::snprintf(text, sizeof text,
                      "The drive is in use by \"%s\". Close that program, then press Upgrade "
                      "again.",
                      shown);
        // Given back before the box, which may stay up a long time: another window may
        // upgrade another drive meanwhile.
        ReleaseUpgradeLock();
        Message(text, "Error!!", kStopStyle);
        StopCommand();
        return;
    }

    if (!StartWorker()) {
        Message("The upgrade could not be started.", "Error!!", kStopStyle);
        StopCommand();
    }
}

void MainDialog::FillUpdateJob() {
    job.drive.adapter = 255;
    job.drive.target = 255;

    char driveText[kTextBufferSize] = {};
    GetWindowTextA(driveBox.GetHwnd(), driveText, sizeof driveText);
    if (const DriveRecord* record = FindDrive(driveTable, driveText)) job.drive = *record;

    job.isHexFile = 1;
    job.SetRevisionText = &telvio::SetRevisionText;
    job.SetDriveText = &telvio::SetDriveText;
    job.AppendLog = &telvio::AppendLog;
    job.SetStatusText = &telvio::SetStatusText;
    job.SetProgress = &telvio::SetProgress;
    job.IsStopRequested = &telvio::IsStopRequested;
    job.UsePassThrough = transport.UsePassThrough;
    systemHold = DriveHoldFor(transport);
    job.hold = DriveHold{HoldNoted, systemHold.Release, KeepNoted, systemHold.CommandHandle,
                         systemHold.OtherHolder};
    DownloadBegun = false;
    HoldKept = false;
}

DWORD WINAPI UpdateWorker(void*) {
    MainDialog* window = ActiveMainDialog;
    if (window == nullptr) return 0;
    SendMessageA(window->GetHwnd(), MainDialog::kRunStartedMessage, 0, 0);
    // A machine that suspends while the drive programs its flash leaves a dead drive: the
    // system stays awake from the first command to the verdict, whatever the verdict.
    window->services.SetExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    bool faulted = false;
    try {
        UpdateJob copy = window->job;
        window->services.RunEngine(copy);
    } catch (...) {
        // Uncaught, it would end the process, and the window and its log with it. The
        // engine's own clean-up has run by now: the image buffer is given back, and the
        // drive stays held, since nothing tells how far its download or its programming
        // got. Nothing more goes to the drive.
        faulted = true;
    }
    if (faulted) {
        window->AppendLog("ERR: internal error, the upgrade was stopped.");
        // Past the first WRITE BUFFER the drive may be anywhere in its programming.
        if (DownloadBegun) window->AppendLog(kMayStillProgramLine);
        window->AppendLog(kVerdictFailure);
        window->SetStatusText("");
    }
    window->services.SetExecutionState(ES_CONTINUOUS);
    StopFlag = 0;
    SendMessageA(window->GetHwnd(), MainDialog::kRunFinishedMessage, 0, 0);
    return 0;
}

void SetRevisionText(const char* text) {
    if (ActiveMainDialog) ActiveMainDialog->SetRevisionText(text);
}

void SetDriveText(const char* text) {
    if (ActiveMainDialog) ActiveMainDialog->SetDriveText(text);
}

void AppendLog(const char* text) {
    if (ActiveMainDialog) ActiveMainDialog->AppendLog(text);
}

void SetStatusText(const char* text) {
    if (ActiveMainDialog) ActiveMainDialog->SetStatusText(text);
}

void SetProgress(int percent) {
    if (ActiveMainDialog) ActiveMainDialog->SetProgress(percent);
}

uint8_t IsStopRequested() {
    return StopFlag;
}

}  // namespace telvio
