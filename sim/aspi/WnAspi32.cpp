// WNASPI32.dll for the simulator: the ASPI for Win32 library, serving the adapters and
// targets of the scenario named by TELVIO_SIM_SCENARIO. Request blocks are the shared
// ones of drive/Aspi.h; every executed command goes to the drive model and the record.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "drive/Aspi.h"
#include "sim/SimRuntime.h"
#include "sim/TransportRules.h"

namespace {

constexpr uint8_t kInvalidSrb = 0xE0;        // SS_INVALID_SRB
constexpr uint8_t kSelectionTimeout = 0x11;  // HASTAT_SEL_TO: nothing answered
// How long a deferred request stays pending before it is served.
constexpr DWORD kDeferMilliseconds = 5;

void PutText(uint8_t* field, size_t width, const char* text) {
    std::memset(field, ' ', width);
    std::memcpy(field, text, std::min(width, std::strlen(text)));
}

void PutLe(uint8_t* p, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = uint8_t(value >> (8 * i));
}

// SRB_Status is what pollers watch: it is written last, after everything it vouches for.
void Finish(SRB_ExecSCSICmd* srb, uint8_t status) {
    MemoryBarrier();
    *static_cast<volatile uint8_t*>(&srb->SRB_Status) = status;
    MemoryBarrier();
}

uint32_t HaInquiry(SRB_HAInquiry* srb) {
    const sim::Scenario& s = sim::ProcessRuntime().GetScenario();
    srb->HA_Count = s.HaCount();
    const sim::AdapterSpec* a = s.Adapter(srb->SRB_HaId);
    if (a == nullptr) return srb->SRB_Status = SS_INVALID_HA;
    srb->HA_SCSI_ID = a->scsiId;
    PutText(srb->HA_ManagerId, sizeof srb->HA_ManagerId, "ASPI for WIN32");
    PutText(srb->HA_Identifier, sizeof srb->HA_Identifier, "TELVIO SIM HA");
    std::memset(srb->HA_Unique, 0, sizeof srb->HA_Unique);
    PutLe(srb->HA_Unique, a->alignMask, 2);
    srb->HA_Unique[2] = a->flags;
    srb->HA_Unique[3] = a->targets;
    PutLe(srb->HA_Unique + 4, a->maxTransfer, 4);
    return srb->SRB_Status = SS_COMP;
}

uint32_t GetDevType(SRB_GDEVBlock* srb) {
    const sim::Scenario& s = sim::ProcessRuntime().GetScenario();
    if (s.Adapter(srb->SRB_HaId) == nullptr) return srb->SRB_Status = SS_INVALID_HA;
    int drive = s.DriveAt(srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun);
    if (drive < 0) return srb->SRB_Status = SS_NO_DEVICE;
    srb->SRB_DeviceType = s.drives[size_t(drive)].DeviceType();
    return srb->SRB_Status = SS_COMP;
}

// Runs an execute request on its drive and fills the block; returns the final status, or
// SS_PENDING for a drive that never answers: that request is never completed.
uint8_t Serve(SRB_ExecSCSICmd* srb, size_t drive) {
    const sim::Dir dir = sim::AspiDirection(srb->SRB_Flags, srb->CDBByte[0]);
    const bool moves = dir != sim::Dir::None;
    sim::Result r = sim::ProcessRuntime().Execute(
        drive, "aspi", srb->CDBByte, srb->SRB_CDBLen, dir, moves ? srb->SRB_BufPointer : nullptr,
        moves ? srb->SRB_BufLen : 0, srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun, 0);
    if (r.timedOut) return SS_PENDING;
    if (!r.transportOk) {
        srb->SRB_HaStat = kSelectionTimeout;
        srb->SRB_TargStat = STATUS_GOOD;
        return SS_ERR;
    }
    srb->SRB_HaStat = HASTAT_OK;
    srb->SRB_TargStat = r.status;
    if (r.status == STATUS_GOOD) return SS_COMP;
    // The caller sized SenseArea for SRB_SenseLen bytes; the drive has 18 at most.
    std::memcpy(srb->SenseArea, r.sense.data(),
                std::min<size_t>(srb->SRB_SenseLen, r.sense.size()));
    return SS_ERR;
}

void Complete(SRB_ExecSCSICmd* srb, uint8_t status) {
    HANDLE event = (srb->SRB_Flags & SRB_EVENT_NOTIFY) != 0 ? srb->SRB_PostProc : nullptr;
    Finish(srb, status);
    if (event != nullptr) SetEvent(event);
}

// Serves a request and ends it, unless its drive never answers.
uint8_t ServeAndComplete(SRB_ExecSCSICmd* srb, size_t drive) {
    const uint8_t status = Serve(srb, drive);
    if (status != SS_PENDING) Complete(srb, status);
    return status;
}

struct DeferredJob {
    SRB_ExecSCSICmd* srb;
    size_t drive;
    HMODULE self;
};

DWORD WINAPI DeferredThread(void* param) {
    DeferredJob job = *static_cast<DeferredJob*>(param);
    delete static_cast<DeferredJob*>(param);
    Sleep(kDeferMilliseconds);
    ServeAndComplete(job.srb, job.drive);
    // The reference taken for this thread keeps the library mapped until it has left.
    FreeLibraryAndExitThread(job.self, 0);
}

uint32_t ExecScsiCmd(SRB_ExecSCSICmd* srb) {
    const sim::Scenario& s = sim::ProcessRuntime().GetScenario();
    const sim::AdapterSpec* adapter = s.Adapter(srb->SRB_HaId);
    if (adapter == nullptr) return srb->SRB_Status = SS_INVALID_HA;
    int drive = s.DriveAt(srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun);
    if (drive < 0) return srb->SRB_Status = SS_NO_DEVICE;
    if (srb->SRB_CDBLen == 0 || srb->SRB_CDBLen > sizeof srb->CDBByte ||
        (srb->SRB_BufLen > 0 && srb->SRB_BufPointer == nullptr))
        return srb->SRB_Status = kInvalidSrb;

    srb->SRB_Status = SS_PENDING;
    if (!adapter->deferred) {
        return ServeAndComplete(srb, size_t(drive));
    }
    auto* job = new DeferredJob{srb, size_t(drive), nullptr};
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCSTR>(&DeferredThread), &job->self);
    DWORD threadId = 0;  // Windows 95/98 refuse a null thread-id pointer
    HANDLE thread = CreateThread(nullptr, 0, DeferredThread, job, 0, &threadId);
    if (thread == nullptr) {
        // No thread to defer to: serve it now rather than leave the caller waiting.
        if (job->self != nullptr) FreeLibrary(job->self);
        delete job;
        return ServeAndComplete(srb, size_t(drive));
    }
    CloseHandle(thread);
    return SS_PENDING;
}

}  // namespace

extern "C" {

DWORD __cdecl GetASPI32SupportInfo() {
    sim::SimRuntime& runtime = sim::ProcessRuntime();
    if (!runtime.Error().empty()) return DWORD(SS_NO_ASPI) << 8;
    const sim::Scenario& s = runtime.GetScenario();
    return (DWORD(s.aspiStatus) << 8) | s.HaCount();
}

DWORD __cdecl SendASPI32Command(void* block) {
    if (block == nullptr) return kInvalidSrb;
    auto* header = static_cast<SRB_Header*>(block);
    switch (header->SRB_Cmd) {
        case SC_HA_INQUIRY:
            return HaInquiry(static_cast<SRB_HAInquiry*>(block));
        case SC_GET_DEV_TYPE:
            return GetDevType(static_cast<SRB_GDEVBlock*>(block));
        case SC_EXEC_SCSI_CMD:
            return ExecScsiCmd(static_cast<SRB_ExecSCSICmd*>(block));
        default:
            return header->SRB_Status = SS_INVALID_CMD;
    }
}

}  // extern "C"
