#include "sim/SimRuntime.h"

#include <cstdio>

#include "sim/RecordFile.h"
#include "sim/SimFile.h"

namespace sim {

namespace {

std::string Trimmed(const std::string& text) {
    size_t end = text.find_last_not_of(" \t\r\n");
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

}  // namespace

std::string SimRuntime::RevisionFile(const std::string& state, const std::string& drive) {
    return state + "/" + drive + ".revision";
}

std::string SimRuntime::FirmwareFile(const std::string& state, const std::string& drive) {
    return state + "/" + drive + ".firmware";
}

bool SimRuntime::Load(const std::string& scenarioPath) {
    Scenario scenario;
    ScenarioError error;
    if (!LoadScenario(scenarioPath, scenario, error)) {
        error_ = scenarioPath + ": " + error.Describe();
        return false;
    }
    return Build(scenario);
}

bool SimRuntime::LoadText(const std::string& scenarioText) {
    Scenario scenario;
    ScenarioError error;
    if (!ParseScenario(scenarioText, scenario, error)) {
        error_ = error.Describe();
        return false;
    }
    return Build(scenario);
}

void SimRuntime::SetUnavailable(const std::string& reason) {
    SimLockHold hold(lock_);
    scenario_ = Scenario{};
    drives_.clear();
    error_ = reason;
}

bool SimRuntime::Build(const Scenario& scenario) {
    SimLockHold hold(lock_);
    scenario_ = scenario;
    drives_.clear();
    error_.clear();
    for (const DriveSpec& spec : scenario_.drives) {
        auto drive = std::make_unique<SimDrive>(spec.config);
        for (const Fault& f : spec.faults) drive->AddFault(f);
        std::string revision;
        if (!scenario_.statePath.empty() &&
            ReadWholeFile(RevisionFile(scenario_.statePath, spec.name), revision)) {
            revision = Trimmed(revision);
            if (!revision.empty()) drive->RestoreRevision(revision, true);
        }
        drives_.push_back(std::move(drive));
    }
    return true;
}

Result SimRuntime::Execute(size_t index, const char* door, const uint8_t* cdb, uint8_t cdbLength,
                           Dir dir, uint8_t* data, uint32_t length, uint8_t adapter, uint8_t target,
                           uint8_t lun, uint32_t timeoutSeconds) {
    SimLockHold hold(lock_);
    Result failed;
    failed.transportOk = false;
    if (index >= drives_.size()) return failed;
    SimDrive& drive = *drives_[index];
    Result r =
        drive.Execute(cdb, cdbLength, dir, data, length, adapter, target, lun, timeoutSeconds);
    if (!scenario_.recordPath.empty() && !drive.Record().empty()) {
        RecordEntry entry;
        entry.door = door;
        entry.drive = scenario_.drives[index].name;
        entry.pid = ProcessId();
        entry.command = drive.Record().back();
        AppendLine(scenario_.recordPath, FormatRecordLine(entry));
    }
    // Each record line is on disk; the in-memory copy need not grow without end.
    if (drive.Record().size() > 4096) drive.ClearRecord();
    // An accepted WRITE BUFFER mode 7 is the one command that changes what persists.
    if (r.transportOk && r.status == 0 && cdbLength >= 2 && cdb[0] == 0x3B && (cdb[1] & 0x1F) == 7)
        Persist(index);
    return r;
}

void SimRuntime::Persist(size_t index) {
    if (scenario_.statePath.empty()) return;
    const SimDrive& drive = *drives_[index];
    const std::string& name = scenario_.drives[index].name;
    const std::vector<uint8_t>& fw = drive.Firmware();
    ReplaceWholeFile(FirmwareFile(scenario_.statePath, name), std::string(fw.begin(), fw.end()));
    ReplaceWholeFile(RevisionFile(scenario_.statePath, name), drive.StoredRevision() + "\n");
}

SimRuntime& ProcessRuntime() {
    static SimRuntime* runtime = [] {
        auto* r = new SimRuntime;  // never destroyed: doors may run until the process ends
        const std::string path = GetEnv(kScenarioVariable);
        if (path.empty()) {
            r->SetUnavailable(std::string(kScenarioVariable) + " is not set");
            std::fprintf(stderr, "telvio sim: %s; no simulated drives\n", r->Error().c_str());
        } else if (!r->Load(path)) {
            std::fprintf(stderr, "telvio sim: %s; no simulated drives\n", r->Error().c_str());
        }
        return r;
    }();
    return *runtime;
}

}  // namespace sim
