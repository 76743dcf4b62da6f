// How the doors to the simulated drive turn a caller's request into a data direction,
// shared by the native stand-in, the ASPI library and the SG_IO library so that all of
// them feed the drive alike.
#pragma once

#include <cstdint>

#include "drive/Aspi.h"
#include "sim/SimDrive.h"

namespace sim {

// Sense bytes a pass-through request block asks for.
constexpr uint32_t kPassThroughSenseLength = 24;

// The direction a command's own operation code implies, for ASPI requests that leave it
// to the library.
inline Dir DirectionOfOpcode(uint8_t opcode) {
    switch (opcode) {
        case 0x12:  // INQUIRY
        case 0x5A:  // MODE SENSE(10)
        case 0x03:  // REQUEST SENSE
            return Dir::In;
        case 0x3B:  // WRITE BUFFER
            return Dir::Out;
        default:
            return Dir::None;
    }
}

// ASPI: IN, OUT, both bits = no transfer, neither = as the command implies.
inline Dir AspiDirection(uint8_t flags, uint8_t opcode) {
    const uint8_t bits = flags & (SRB_DIR_IN | SRB_DIR_OUT);
    if (bits == (SRB_DIR_IN | SRB_DIR_OUT)) return Dir::None;
    if (bits == SRB_DIR_IN) return Dir::In;
    if (bits == SRB_DIR_OUT) return Dir::Out;
    return DirectionOfOpcode(opcode);
}

// Pass-through: OUT wins over IN, and a block with neither keeps DataIn 0, which is
// data out.
inline Dir PassThroughDirection(uint8_t flags) {
    if ((flags & SRB_DIR_OUT) != 0) return Dir::Out;
    if ((flags & SRB_DIR_IN) != 0) return Dir::In;
    return Dir::Out;
}

}  // namespace sim
