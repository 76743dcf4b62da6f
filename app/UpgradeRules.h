// The upgrade command's rules that need no window: the model check, the image file's
// ending, and the list suffix of a found drive.
#pragma once

#include <cstddef>

#include "drive/DriveRecord.h"

namespace telvio {

// Whether `name` agrees, in its first 24 characters, with one of the first `modelCount`
// 25-character slots of `modelList` (`slots` slots in all).
bool ModelMatches(const char* name, const char* modelList, int modelCount, int slots);

enum class ImageKind { Hex, Bin, Mismatch };

// Lower-cases `path` from its last "." on, in place, and tells what that ending names.
// A path without a "." is a mismatch and stays as it is.
ImageKind LowerCaseImageEnding(char* path);

// Appends "(index)" to the record's name, within its 32 bytes.
void AppendListSuffix(DriveRecord& record, int index);

}  // namespace telvio
