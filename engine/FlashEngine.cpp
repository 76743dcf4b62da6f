#include "engine/FlashEngine.h"

#include <cstring>

#include "engine/ErrorMessages.h"
#include "engine/Platform.h"

namespace telvio {

namespace {

// A job with a callback left out still runs; the engine never calls through null.
void IgnoreText(const char*) {}
void IgnoreProgress(int) {}
uint8_t NeverStop() {
    return 0;
}

}  // namespace

FlashEngine::FlashEngine(const UpdateJob& job)
    : drive(job.drive),
      isHexFile(job.isHexFile),
      UsePassThrough(job.UsePassThrough),
      SetRevisionText(job.SetRevisionText ? job.SetRevisionText : IgnoreText),
      SetDriveText(job.SetDriveText ? job.SetDriveText : IgnoreText),
      AppendLog(job.AppendLog ? job.AppendLog : IgnoreText),
      SetStatusText(job.SetStatusText ? job.SetStatusText : IgnoreText),
      SetProgress(job.SetProgress ? job.SetProgress : IgnoreProgress),
      IsStopRequested(job.IsStopRequested ? job.IsStopRequested : NeverStop),
      hold(job.hold),
      dataBlockTimeoutSeconds(job.dataBlockTimeoutSeconds ? job.dataBlockTimeoutSeconds
                                                          : kDataBlockTimeoutSeconds) {
    // The window's path may fill the whole array; the copy is always terminated.
    std::memcpy(imagePath, job.imagePath, sizeof(imagePath));
    imagePath[sizeof(imagePath) - 1] = '\0';
}

// Run gives the buffer back; this only catches an engine that was never run.
FlashEngine::~FlashEngine() {
    CloseImageFile();
    ReleaseImage();
}

void FlashEngine::ReportError(uint8_t code) {
    char line[kErrorLineSize];
    if (FormatErrorLine(code, line)) AppendLog(line);
}

EngineView FlashEngine::View() const {
    EngineView view;
    view.imageChunks = imageChunks;
    view.chunkIndex = chunkIndex;
    view.chunkOffset = chunkOffset;
    view.imageEnd = imageEnd;
    view.runningSum = runningSum;
    view.bankCount = bankCount;
    view.imageFileOpen = imageFile != nullptr;
    view.imagePath = imagePath;
    return view;
}

bool FlashEngine::AllocateImage(bool fill) {
    ReleaseImage();
    const platform::ImageMemory& memory = platform::CurrentImageMemory();
    auto* base = static_cast<uint8_t*>(memory.Allocate(kImageBufferSize));
    if (base == nullptr) return false;
    imageMemory = &memory;
    for (int i = 0; i < kImageChunkCount; ++i) imageChunks[i] = base + i * kImageChunkSize;
    if (fill) std::memset(base, 0xFF, kImageBufferSize);
    return true;
}

void FlashEngine::CloseImageFile() {
    if (imageFile != nullptr) {
        std::fclose(imageFile);
        imageFile = nullptr;
    }
}

void FlashEngine::ReleaseImage() {
    uint8_t* base = imageChunks[0];
    if (base == nullptr) return;
    if (imageLocked) imageMemory->Unlock(base, kImageBufferSize);
    imageMemory->Release(base, kImageBufferSize);
    imageLocked = false;
    imageMemory = nullptr;
    for (auto& chunk : imageChunks) chunk = nullptr;
}

}  // namespace telvio
