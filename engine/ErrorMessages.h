// The engine's fixed error messages, indexed by code and logged as "ERR: <message>".
#pragma once

#include <cstdint>

namespace telvio {

constexpr int kErrorCodeCount = 16;

// Codes the engine raises; the others are in the table but never raised.
enum ErrorCode : uint8_t {
    kErrOpenOutputFile = 2,
    kErrReadInputFile = 5,
    kErrFormatMismatch = 6,
    kErrAllocateMemory = 11,
    kErrFlashTooSmall = 13,
    kErrTerminateUpgrade = 14,
};

extern const char* const ErrorMessageTable[kErrorCodeCount];

// Writes "ERR: <message>" for `code` into `out` (at least kErrorLineSize bytes).
// Returns false, with `out` empty, for a code outside the table.
constexpr int kErrorLineSize = 64;
bool FormatErrorLine(uint8_t code, char* out);

}  // namespace telvio
