#include "sim/HostTransport.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "drive/Scsi.h"
#include "sim/TransportRules.h"

namespace sim {

namespace {
SimDrive* attached = nullptr;
}

void AttachHostDrive(SimDrive* drive) {
    attached = drive;
}

}  // namespace sim

namespace telvio {

int ScsiExecute(const DriveRecord& drive, uint8_t flags, uint32_t length, void* data,
                uint8_t cdbLength, const uint8_t* cdb, uint8_t usePassThrough, SenseData& sense,
                uint32_t timeoutSeconds, uint32_t* transferred, CommandEnd* end) {
    std::memset(sense.bytes, 0, 16);
    if (transferred != nullptr) *transferred = 0;
    CommandEnd ended = CommandEnd::NoAnswer;
    CommandEnd& how = end != nullptr ? *end : ended;
    how = CommandEnd::NoAnswer;
    sim::SimDrive* simDrive = sim::attached;
    if (simDrive == nullptr || cdbLength > 16 || cdb == nullptr) return 0;
    if (length > 0 && data == nullptr) return 0;
    auto* bytes = static_cast<uint8_t*>(data);

    if (usePassThrough == 0) {
        // ASPI moves data straight to and from the caller's buffer; on a check condition
        // the library hands back the SRB_SenseLen (14) sense bytes it asked for.
        const sim::Dir dir = sim::AspiDirection(flags, cdb[0]);
        sim::Result r = simDrive->Execute(
            cdb, cdbLength, dir, dir == sim::Dir::None ? nullptr : bytes,
            dir == sim::Dir::None ? 0 : length, drive.adapter, drive.target, 0, 0);
        if (!r.transportOk) return 0;
        if (r.status == STATUS_CHKCOND) {
            std::memset(sense.bytes, 0, sizeof sense.bytes);
            std::memcpy(sense.bytes, r.sense.data(), std::min(r.sense.size(), SENSE_LEN));
            how = CommandEnd::CheckCondition;
        }
        if (r.status != STATUS_GOOD) return 0;
        how = CommandEnd::Good;
        // The library tells no count: the whole buffer, as the Windows side reports.
        if (transferred != nullptr) *transferred = length;
        return 1;
    }

    // The pass-through works on a transfer buffer of its own: the caller's buffer is
    // read for data out and written only after a good data-in command.
    const sim::Dir dir = sim::PassThroughDirection(flags);
    std::vector<uint8_t> transfer(length);
    if ((flags & SRB_DIR_OUT) != 0 && length > 0) std::memcpy(transfer.data(), bytes, length);
    sim::Result r = simDrive->Execute(cdb, cdbLength, dir, transfer.data(), length, drive.adapter,
                                      drive.target, 0, timeoutSeconds);
    if (!r.transportOk) return 0;
    if (r.status != 0) {
        std::memset(sense.bytes, 0, sizeof sense.bytes);
        std::memcpy(sense.bytes, r.sense.data(),
                    std::min<size_t>(r.sense.size(), sim::kPassThroughSenseLength));
        how = CommandEnd::CheckCondition;
        return 0;
    }
    how = CommandEnd::Good;
    if (dir == sim::Dir::In && length > 0) std::memcpy(bytes, transfer.data(), length);
    if (transferred != nullptr) *transferred = dir == sim::Dir::In ? r.transferred : length;
    return 1;
}

}  // namespace telvio
