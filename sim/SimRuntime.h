// What a door needs behind it: the scenario of this process, one SimDrive per drive it
// declares (with the revision an earlier process flashed), the command record file and
// one lock, since a door may serve commands from several threads.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/Scenario.h"
#include "sim/SimDrive.h"
#include "sim/SimFile.h"

namespace sim {

class SimRuntime {
  public:
    // Reads the scenario file and restores persisted revisions. On failure the runtime
    // holds no drive and Error() says why (with the line number of a bad line).
    bool Load(const std::string& scenarioPath);
    bool LoadText(const std::string& scenarioText);
    // No scenario at all: no drives, and `reason` as the error.
    void SetUnavailable(const std::string& reason);

    const Scenario& GetScenario() const { return scenario_; }
    const std::string& Error() const { return error_; }
    size_t DriveCount() const { return drives_.size(); }

    // Runs one command on drive `index`, appends it to the record file and persists the
    // new revision when the command flashed the drive.
    Result Execute(size_t index, const char* door, const uint8_t* cdb, uint8_t cdbLength, Dir dir,
                   uint8_t* data, uint32_t length, uint8_t adapter, uint8_t target, uint8_t lun,
                   uint32_t timeoutSeconds);

    // The drive model itself, for tests that look inside; not locked.
    SimDrive& Drive(size_t index) { return *drives_[index]; }

    static std::string RevisionFile(const std::string& state, const std::string& drive);
    static std::string FirmwareFile(const std::string& state, const std::string& drive);

  private:
    bool Build(const Scenario& scenario);
    void Persist(size_t index);

    SimLock lock_;
    Scenario scenario_;
    std::vector<std::unique_ptr<SimDrive>> drives_;
    std::string error_;
};

// The process-wide runtime of a door: loaded once from TELVIO_SIM_SCENARIO on first use;
// a missing variable or a bad file leaves it without drives, with the reason printed to
// stderr once.
SimRuntime& ProcessRuntime();

}  // namespace sim
