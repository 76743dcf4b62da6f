// Native stand-in for the transports: telvio::ScsiExecute, linked into native tests and
// benchmarks, hands every command to a SimDrive with the semantics of the real paths
// (pass-through when usePassThrough is nonzero: sense copied on a nonzero status, data in
// copied back only on good status; ASPI otherwise: the library's 14 sense bytes on a
// check condition).
#pragma once

#include "sim/SimDrive.h"

namespace sim {

// The drive every ScsiExecute call reaches; null detaches (calls then fail).
void AttachHostDrive(SimDrive* drive);

}  // namespace sim
