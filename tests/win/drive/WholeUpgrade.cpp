// One whole upgrade through the engine, for the tests that watch it through the device
// calls.
#include <string>
#include <vector>

#include "drive/DriveRecord.h"
#include "engine/FlashEngine.h"
#include "tests/host/engine/EngineTestSupport.h"

namespace telvio::test {

// Sends `image` (raw) to `drive` with waits recorded, not slept; gives back the log.
std::vector<std::string> WholeUpgrade(const DriveRecord& drive, const std::string& image,
                                      const DriveHold& hold, uint8_t usePassThrough) {
    enginetest::RecordingSleeper sleeper;
    enginetest::TempFile file(image, ".bin");
    UpdateJob job = enginetest::MakeJob(file.Path(), false, usePassThrough);
    job.drive = drive;
    job.hold = hold;
    FlashEngine engine(job);
    engine.Run();
    return enginetest::Seen().log;
}

}  // namespace telvio::test
