// The Upgrade button on Windows: what the checks read of the window and the system, the
// questions asked, the job, and the run started once nothing stands in the way.
#include <cstdio>

#include "app/MainDialog.h"
#include "drive/Discovery.h"
#include "resources/resource.h"

namespace telvio {

class MainDialog::Facts : public UpgradeFacts {
  public:
    explicit Facts(MainDialog& window) : w(window) {}

    std::string FileText() override { return Text(w.GetItem(IDC_FILE_BOX)); }
    std::string DriveText() override { return Text(w.driveBox.GetHwnd()); }
    std::string RevisionText() override { return Text(w.revisionLabel.GetHwnd()); }
    DriveRecord ChosenDrive() override {
        DriveRecord drive = w.job.drive;
        drive.adapter = 255;
        drive.target = 255;
        if (const DriveRecord* record = FindDrive(w.driveTable, DriveText().c_str())) {
            drive = *record;
        }
        return drive;
    }
    int ModelCount() override { return w.modelCount; }
    bool BrowseUsed() override { return w.browseUsed != 0; }
    bool CurrentDirectoryKnown() override {
        char directory[MAX_PATH] = {};
        return w.services.QueryCurrentDirectory(sizeof directory, directory) != 0;
    }
    int DriveType(const char* root) override { return int(GetDriveTypeA(root)); }
    ImageFindings Examine(const UpdateJob& job, const char* product) override {
        return ExamineImage(job, product);
    }
    bool PowerStatus(uint8_t& acLine, uint8_t& batteryPercent) override {
        SYSTEM_POWER_STATUS power{};
        if (!w.services.GetPowerStatus(&power)) return false;
        acLine = power.ACLineStatus;
        batteryPercent = power.BatteryLifePercent;
        return true;
    }

    bool DiscReadable(const DriveRecord& drive) override {
        return w.services.DiscReadable(w.transport, drive);
    }
    bool ExternalBus(const DriveRecord& drive) override {
        return w.services.DriveOnExternalBus(w.transport, drive);
    }

  private:
    static std::string Text(HWND control) {
        char text[kTextBufferSize] = {};
        GetWindowTextA(control, text, sizeof text);
        return text;
    }

    MainDialog& w;
};

void MainDialog::OnUpgrade() {
    // The button is off by then; a queued click, or a command sent straight to the window,
    // is ignored: one run per start of the program.
    if (run.InProgress() || run.Done()) return;
    Facts facts(*this);
    UpgradeChecks checks(facts);
    UpgradeAnswer answer = checks.Next();
    if (answer.commandTaken) {
        ActiveMainDialog = this;
        SetClosingAllowed(false);
        FillUpdateJob(facts.ChosenDrive());
    }
    while (answer.door == UpgradeDoor::Ask && Asked(answer)) answer = checks.Next();
    if (answer.door == UpgradeDoor::GoOn) {
        std::snprintf(job.imagePath, sizeof job.imagePath, "%s", answer.imagePath.c_str());
        job.isHexFile = answer.isHexFile;
        answer = run.Start(GetHwnd(), transport, job.drive);
        if (answer.door == UpgradeDoor::GoOn) return;
    }
    if (answer.door == UpgradeDoor::Refuse && answer.caption != nullptr) {
        Message(answer.text.c_str(), answer.caption, answer.style);
    } else if (answer.door == UpgradeDoor::Refuse) {
        AppendLogNow(answer.text.c_str());
    }
    if (answer.commandTaken) SetClosingAllowed(true);
}

bool MainDialog::Asked(const UpgradeAnswer& answer) {
    if (answer.warning) {
        return services.ConfirmUpgrade(GetHwnd(), answer.text.c_str(), answer.revision.c_str()) ==
               IDOK;
    }
    return Message(answer.text.c_str(), answer.caption, answer.style) == IDYES;
}

void MainDialog::FillUpdateJob(const DriveRecord& chosen) {
    job.drive = chosen;
    job.isHexFile = 1;
    job.SetRevisionText = &telvio::SetRevisionText;
    job.SetDriveText = &telvio::SetDriveText;
    job.AppendLog = &telvio::AppendLog;
    job.SetStatusText = &telvio::SetStatusText;
    job.SetProgress = &telvio::SetProgress;
    job.IsStopRequested = &telvio::IsStopRequested;
    job.UsePassThrough = transport.UsePassThrough;
    job.hold = DriveHoldFor(transport);
    job.dataBlockTimeoutSeconds = services.dataBlockTimeoutSeconds;
}

}  // namespace telvio
