// One whole upgrade through the engine, for the tests that watch it through the device
// calls.
#include <string>
#include <vector>

#include "drive/DriveRecord.h"
#include "engine/FlashEngine.h"
#include "tests/host/engine/EngineTestSupport.h"

namespace telvio::test {

// Sends `image` (raw) to `drive` with waits recorded, not slept; gives back the log.
std::vector<std::string> WholeUpgrade(const DriveRecord& drive, const std::string& image) {
    enginetest::RecordingSleeper sleeper;
    enginetest::TempFile file(image, ".bin");
    UpdateJob job = enginetest::MakeJob(file.Path(), false, 1);
    job.drive = drive;
    FlashEngine engine(job);
    engine.Run();
    return enginetest::Seen().log;
}

}  // namespace telvio::test
