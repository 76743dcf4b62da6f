// The one operation that sends a command block to a drive, over either transport.
#pragma once

#include <cstdint>

#include "drive/Aspi.h"
#include "drive/DriveRecord.h"

namespace telvio {

// Direction flags are the ASPI bit values (Aspi.h), used by both transports:
// SRB_DIR_IN 0x08 drive -> caller's buffer, SRB_DIR_OUT 0x10 caller's buffer -> drive.

// Fixed-format sense data as the drive returns it: byte 2 sense key (low nibble),
// byte 12 additional sense code, byte 13 qualifier.
struct SenseData {
    uint8_t bytes[32];
};

// Sense data is there only when the drive itself answered with a check condition: a
// fixed or descriptor format response code. Both doors leave the area zero otherwise.
inline bool HoldsSenseData(const SenseData& sense) {
    const uint8_t responseCode = sense.bytes[0] & 0x7F;
    return responseCode >= 0x70 && responseCode <= 0x73;
}

// Firmware programming can take a long while, so commands are given ample time: this
// many seconds on the pass-through, and no bound at all on the ASPI wait.
constexpr uint32_t kAmpleTimeoutSeconds = 0xFFFF;

// How a command ended, as far as the door can tell. After a check condition the drive
// has answered and its sense is in hand; after no answer the drive, or the bus it sits
// on, may have been reset, and what it held may be gone.
enum class CommandEnd : uint8_t {
    Good,
    CheckCondition,  // the drive answered with a status and its sense
    NoAnswer,        // the call failed, the time-out ran out, or no sense came back
};

// Sends one command block. Returns 1 when the command completed with good status, 0
// otherwise. `sense` is cleared on entry (first 16 bytes) and filled only from the
// drive: with the pass-through's 32-byte area after a nonzero SCSI status, with the ASPI
// library's SRB_SenseLen (14) bytes and the rest zero after CHECK CONDITION. A
// `cdbLength` above 16, or a transfer buffer that cannot be had, returns 0 with nothing
// sent.
// A shorter `timeoutSeconds` bounds the command on both doors: the pass-through request
// carries it, and an ASPI request still pending after it counts as failed and is left to
// the library, never aborted. Either way `sense` stays cleared, so a caller tells a
// drive that answered with a check condition from one that did not answer at all.
// `transferred`, when given, gets the data bytes that moved after a command with good
// status (0 otherwise): what the pass-through wrote back into the request's
// DataTransferLength, at most `length`; ASPI tells no such count, so `length` there. A
// drive may send less than it was asked for, and the rest of the buffer is not its data.
// `end`, when given, gets how the command ended: on ASPI from the request block's target
// and adapter status, on the pass-through from the call's result and the sense written.
int ScsiExecute(const DriveRecord& drive, uint8_t flags, uint32_t length, void* data,
                uint8_t cdbLength, const uint8_t* cdb, uint8_t usePassThrough, SenseData& sense,
                uint32_t timeoutSeconds = kAmpleTimeoutSeconds, uint32_t* transferred = nullptr,
                CommandEnd* end = nullptr);

}  // namespace telvio
