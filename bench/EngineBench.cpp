// Google Benchmark cases for the engine: loading a 1 MiB image as HEX (16 banks) and as
// raw bytes, and a whole run of a 1 MiB raw image against the simulated drive with the
// waits recorded rather than slept. Before the cases it prints the peak memory of one
// whole run.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/ImageFiles.h"
#include "bench/PeakMemory.h"
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
        auto engine = std::make_unique<telvio::FlashEngine>(Job(path, hex));
        const telvio::LoadOutcome outcome = engine->LoadImage();
        if (outcome != telvio::LoadOutcome::Complete &&
            outcome != telvio::LoadOutcome::BufferFull) {
            state.SkipWithError("the image did not load");
            break;
        }
        benchmark::DoNotOptimize(hex ? engine->HexImageChecksum() : engine->View().runningSum);
        end = engine->View().imageEnd;
        // Giving the buffer back ends a run; it is no part of the load.
        state.PauseTiming();
        engine.reset();
        state.ResumeTiming();
    }
    state.counters["imageEnd"] = end;
}

// Not the engine: the least any raw load costs on this machine. A fresh 1 MiB of
// committed memory, the file read into it in 32 KiB pieces, and its sum; nothing else.
void BM_FloorFreshMegabyte(benchmark::State& state) {
    const telvio::platform::ImageMemory& memory = telvio::platform::SystemImageMemory();
    for (auto _ : state) {
        auto* buffer = static_cast<uint8_t*>(memory.Allocate(benchimage::kImageSize));
        FILE* f = std::fopen(rawPath.c_str(), "rb");
        if (buffer == nullptr || f == nullptr) {
            state.SkipWithError("no memory or no file");
            break;
        }
        uint32_t sum = 0;
        for (size_t at = 0; at < benchimage::kImageSize; at += 0x8000) {
            const size_t got = std::fread(buffer + at, 1, 0x8000, f);
            for (size_t k = 0; k < got; ++k) sum += buffer[at + k];
        }
        std::fclose(f);
        benchmark::DoNotOptimize(sum);
        state.PauseTiming();
        memory.Release(buffer, benchimage::kImageSize);
        state.ResumeTiming();
    }
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
        // 256 blocks, the checksum block, the save, and the INQUIRY that reads the
        // revision back (answered at once: no pause between tries).
        if (!lastVerdictOk || drive.Record().size() != 259 || waits.size() != 17) {
            state.SkipWithError("the run did not go as it should");
            break;
        }
    }
    uint32_t waited = 0;
    for (uint32_t w : waits) waited += w;
    state.counters["blocks"] = static_cast<double>(drive.Record().size() - 3);
    state.counters["waited_ms"] = waited;
    sim::AttachHostDrive(nullptr);
}

BENCHMARK(BM_LoadHex16Banks)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadRaw1MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DownloadRaw1MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorFreshMegabyte)->Unit(benchmark::kMillisecond);

// One whole run after a warm-up, so that only what the run itself takes is counted
// (the simulated drive's own buffers have their size by then). The run holds the most
// just before it gives the image buffer back, so the reading is taken there.
benchimage::PeakMeter* runMeter = nullptr;

void ReleaseAfterSample(void* base, size_t size) {
    if (runMeter != nullptr) runMeter->Sample();
    telvio::platform::SystemImageMemory().Release(base, size);
}

long RunPeakKib() {
    const telvio::platform::ImageMemory& system = telvio::platform::SystemImageMemory();
    const telvio::platform::ImageMemory sampling = {system.Allocate, system.Lock, system.Unlock,
                                                    ReleaseAfterSample};
    telvio::platform::SetImageMemory(&sampling);
    sim::SimDrive drive;
    sim::AttachHostDrive(&drive);
    {
        telvio::FlashEngine warmUp(Job(rawPath, false));
        warmUp.Run();
    }
    drive.ClearRecord();
    long peak = -1;
    {
        benchimage::PeakMeter meter;
        runMeter = &meter;
        telvio::FlashEngine engine(Job(rawPath, false));
        engine.Run();
        runMeter = nullptr;
        peak = meter.PeakKib();
    }
    sim::AttachHostDrive(nullptr);
    telvio::platform::SetImageMemory(nullptr);
    return lastVerdictOk ? peak : -1;
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
