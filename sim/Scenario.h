// The scenario: one text file, named by TELVIO_SIM_SCENARIO, that says which simulated
// drives exist and how each door shows them (ASPI adapters and targets, drive letters for
// the pass-through), which faults they have, and where the command record and the
// persistent state go. Both doors read the same file. Syntax in sim/README.md.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/SimDrive.h"

namespace sim {

constexpr const char* kScenarioVariable = "TELVIO_SIM_SCENARIO";

struct AdapterSpec {
    uint8_t id = 0;
    uint16_t alignMask = 0;          // HA_Unique bytes 0-1
    uint8_t flags = 0;               // HA_Unique byte 2
    uint8_t targets = 8;             // HA_Unique byte 3
    uint32_t maxTransfer = 0x10000;  // HA_Unique bytes 4-7
    uint8_t scsiId = 7;              // HA_SCSI_ID
    bool deferred = false;           // execute requests return SS_PENDING, signalled later
};

struct DriveSpec {
    std::string name;
    DriveConfig config;
    bool onAspi = false;  // reachable through an adapter
    uint8_t adapter = 0;
    uint8_t target = 0;
    uint8_t lun = 0;
    int devType = -1;  // SC_GET_DEV_TYPE answer; -1: peripheral & 0x1F
    std::vector<Fault> faults;
    uint8_t DeviceType() const {
        return devType >= 0 ? uint8_t(devType) : uint8_t(config.peripheral & 0x1F);
    }
};

// A drive letter whose device file leads to a simulated drive.
struct LetterSpec {
    char letter = 'c';
    size_t drive = 0;    // index into Scenario::drives
    uint8_t pathId = 0;  // what Wine is told: SCSI host number
    uint8_t targetId = 0;
    uint8_t lun = 0;
};

struct Scenario {
    std::string recordPath;     // empty: no record file
    std::string statePath;      // empty: nothing persists
    uint8_t aspiStatus = 0x01;  // GetASPI32SupportInfo bits 8-15
    int haCount = -1;           // -1: the number of adapters declared
    std::vector<AdapterSpec> adapters;
    std::vector<DriveSpec> drives;
    std::vector<LetterSpec> letters;

    uint8_t HaCount() const { return haCount >= 0 ? uint8_t(haCount) : uint8_t(adapters.size()); }
    const AdapterSpec* Adapter(uint8_t id) const;
    // Index of the drive at that ASPI address, or -1.
    int DriveAt(uint8_t adapter, uint8_t target, uint8_t lun) const;
    int DriveNamed(const std::string& name) const;
    const LetterSpec* Letter(char letter) const;
};

struct ScenarioError {
    int line = 0;  // 0: the file as a whole
    std::string message;
    std::string Describe() const;
};

bool ParseScenario(const std::string& text, Scenario& scenario, ScenarioError& error);
bool LoadScenario(const std::string& path, Scenario& scenario, ScenarioError& error);

}  // namespace sim
