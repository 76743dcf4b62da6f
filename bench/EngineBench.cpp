// Google Benchmark cases for the engine: loading a 1 MiB image as HEX (16 banks) and as
// raw bytes, and a whole run of a 1 MiB raw image against the simulated drive with the
// waits recorded rather than slept. Before the cases it prints the peak memory of one
// whole run.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ImageFiles.h"
#include "PeakMemory.h"
#include "engine/FlashEngine.h"
#include "engine/Platform.h"
#include "engine/UpdateJob.h"
#include "sim/HostTransport.h"
#include "sim/SimDrive.h"

namespace {

std::string hexPath;
std::string rawPath;
std::vector<uint32_t> waits;
int logLines = 0;
bool lastVerdictOk = false;

void RecordWait(uint32_t ms) {
    waits.push_back(ms);
}
void OnLog(const char* text) {
    ++logLines;
    lastVerdictOk = std::strcmp(text, "Please Restart Your Computer.") == 0;
}

telvio::UpdateJob Job(const std::string& path, bool hex) {
    telvio::UpdateJob job{};
    std::snprintf(job.imagePath, sizeof job.imagePath, "%s", path.c_str());
    job.isHexFile = hex ? 1 : 0;
    job.AppendLog = OnLog;
    job.UsePassThrough = 1;
    return job;
}

void Load(benchmark::State& state, const std::string& path, bool hex) {
    uint32_t end = 0;
    for (auto _ : state) {
        telvio::FlashEngine engine(Job(path, hex));
        const telvio::LoadOutcome outcome = engine.LoadImage();
        if (outcome != telvio::LoadOutcome::Complete &&
            outcome != telvio::LoadOutcome::BufferFull) {
            state.SkipWithError("the image did not load");
            break;
        }
        benchmark::DoNotOptimize(hex ? engine.HexImageChecksum() : engine.runningSum);
        end = engine.imageEnd;
    }
    state.counters["imageEnd"] = end;
}

void BM_LoadHex16Banks(benchmark::State& state) {
    Load(state, hexPath, true);
}
void BM_LoadRaw1MiB(benchmark::State& state) {
    Load(state, rawPath, false);
}

void BM_DownloadRaw1MiB(benchmark::State& state) {
    sim::SimDrive drive;
    sim::AttachHostDrive(&drive);
    for (auto _ : state) {
        state.PauseTiming();
        drive.ClearRecord();
        waits.clear();
        state.ResumeTiming();
        telvio::FlashEngine engine(Job(rawPath, false));
        engine.Run();
        if (!lastVerdictOk || drive.Record().size() != 258 || waits.size() != 17) {
            state.SkipWithError("the run did not go as it should");
            break;
        }
    }
    uint32_t waited = 0;
    for (uint32_t w : waits) waited += w;
    state.counters["blocks"] = static_cast<double>(drive.Record().size() - 2);
    state.counters["waited_ms"] = waited;
    sim::AttachHostDrive(nullptr);
}

BENCHMARK(BM_LoadHex16Banks)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadRaw1MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DownloadRaw1MiB)->Unit(benchmark::kMillisecond);

// One whole run after a warm-up, so that only what the run itself takes is counted
// (the simulated drive's own buffers have their size by then).
long RunPeakKib() {
    sim::SimDrive drive;
    sim::AttachHostDrive(&drive);
    {
        telvio::FlashEngine warmUp(Job(rawPath, false));
        warmUp.Run();
    }
    drive.ClearRecord();
    benchimage::PeakMeter meter;
    {
        telvio::FlashEngine engine(Job(rawPath, false));
        engine.Run();
    }
    sim::AttachHostDrive(nullptr);
    return lastVerdictOk ? meter.PeakKib() : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* dir = std::getenv("TELVIO_BENCH_DIR");
    const std::string work = dir != nullptr ? dir : "/tmp";
    hexPath = work + "/engine-bench-" + std::to_string(getpid()) + ".hex";
    rawPath = work + "/engine-bench-" + std::to_string(getpid()) + ".bin";
    const auto image = benchimage::MakeImage();
    if (!benchimage::WriteFile(rawPath, std::string(image.begin(), image.end())) ||
        !benchimage::WriteFile(hexPath,
                               benchimage::HexText(image, benchimage::HexFlavour::BankAdvance))) {
        std::fprintf(stderr, "engine_bench: cannot write the images into %s\n", work.c_str());
        return 1;
    }
    telvio::platform::SetSleeper(RecordWait);

    std::printf("run_peak_kib=%ld\n", RunPeakKib());
    std::fflush(stdout);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove(hexPath.c_str());
    std::remove(rawPath.c_str());
    return 0;
}
