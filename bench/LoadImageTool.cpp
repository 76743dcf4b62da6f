// load_image FILE: loads a firmware image the way the engine does (".hex" as Intel-HEX,
// anything else as raw) and prints how far it reaches and the checksum the download
// would log, with the peak memory the load took.
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/PeakMemory.h"
#include "engine/FlashEngine.h"
#include "engine/UpdateJob.h"

namespace {

void PrintLine(const char* text) {
    std::fprintf(stderr, "%s\n", text);
}

const char* Name(telvio::LoadOutcome o) {
    switch (o) {
        case telvio::LoadOutcome::Complete:
            return "complete";
        case telvio::LoadOutcome::BufferFull:
            return "buffer-full";
        case telvio::LoadOutcome::ReadFailure:
            return "read-failure";
        case telvio::LoadOutcome::FormatFailure:
            return "format-failure";
        case telvio::LoadOutcome::AllocationFailure:
            return "allocation-failure";
        case telvio::LoadOutcome::Stopped:
            return "stopped";
        case telvio::LoadOutcome::TooLarge:
            return "too-large";
    }
    return "?";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: load_image FILE\n");
        return 2;
    }
    const std::string path = argv[1];
    telvio::UpdateJob job{};
    if (path.size() >= sizeof job.imagePath) return 2;
    std::memcpy(job.imagePath, path.c_str(), path.size() + 1);
    job.isHexFile = path.size() > 4 && path.compare(path.size() - 4, 4, ".hex") == 0;
    job.AppendLog = PrintLine;

    benchimage::PeakMeter meter;
    telvio::FlashEngine engine(job);
    const telvio::LoadOutcome outcome = engine.LoadImage();
    meter.Sample();  // the buffer is still held
    const bool loaded =
        outcome == telvio::LoadOutcome::Complete || outcome == telvio::LoadOutcome::BufferFull;
    const unsigned checksum =
        loaded ? (job.isHexFile ? engine.HexImageChecksum() : engine.View().runningSum) : 0;
    std::printf("outcome=%s imageEnd=0x%X checksum=0x%X peak_kib=%ld\n", Name(outcome),
                static_cast<unsigned>(engine.View().imageEnd), checksum, meter.PeakKib());
    return loaded ? 0 : 1;
}
