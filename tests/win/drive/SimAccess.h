// What a test under Wine needs of the simulator: its scenario (named by the environment
// the test runs in) and the record of the commands the drive received.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/RecordFile.h"
#include "sim/Scenario.h"
#include "sim/SimFile.h"

namespace telvio::test {

inline sim::Scenario LoadTestScenario() {
    sim::Scenario scenario;
    sim::ScenarioError error;
    const std::string path = sim::GetEnv(sim::kScenarioVariable);
    EXPECT_FALSE(path.empty()) << "no scenario in the environment";
    EXPECT_TRUE(sim::LoadScenario(path, scenario, error)) << error.Describe();
    return scenario;
}

// The record's absolute unix path is reached through Wine's Z: drive.
inline void ClearRecord(const sim::Scenario& s) { DeleteFileA(("Z:" + s.recordPath).c_str()); }

inline std::vector<sim::RecordEntry> Recorded(const sim::Scenario& s) {
    std::vector<sim::RecordEntry> entries;
    sim::ReadRecordFile(s.recordPath, entries);
    return entries;
}

// The records of one opcode, in order.
inline std::vector<sim::RecordEntry> RecordedOp(const sim::Scenario& s, uint8_t opcode) {
    std::vector<sim::RecordEntry> out;
    for (const auto& e : Recorded(s)) {
        if (e.command.opcode == opcode) out.push_back(e);
    }
    return out;
}

}  // namespace telvio::test
