#include "app/UpgradeRules.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace telvio {

namespace {
constexpr int kSlotSize = 25;
constexpr size_t kComparedChars = 24;
}  // namespace

bool ModelMatches(const char* name, const char* modelList, int modelCount, int slots) {
    if (modelCount > slots) modelCount = slots;
    for (int k = 0; k < modelCount; ++k) {
        // A slot need not end in a zero; 24 characters stay inside its 25.
        if (std::strncmp(name, modelList + k * kSlotSize, kComparedChars) == 0) return true;
    }
    return false;
}

ImageKind LowerCaseImageEnding(char* path) {
    char* dot = std::strrchr(path, '.');
    if (dot == nullptr) return ImageKind::Mismatch;
    for (char* p = dot; *p; ++p) *p = char(std::tolower(static_cast<unsigned char>(*p)));
    if (std::strcmp(dot, ".hex") == 0) return ImageKind::Hex;
    if (std::strcmp(dot, ".bin") == 0) return ImageKind::Bin;
    return ImageKind::Mismatch;
}

void AppendListSuffix(DriveRecord& record, int index) {
    size_t size = sizeof record.displayName;
    size_t length = strnlen(record.displayName, size - 1);
    record.displayName[length] = '\0';
    std::snprintf(record.displayName + length, size - length, "(%d)", index);
}

}  // namespace telvio
