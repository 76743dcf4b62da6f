// Finding the CD/DVD drives, classifying them, and showing the chosen one's revision.
#include <windows.h>

#include <cstring>

#include "drive/AspiEntries.h"
#include "drive/DeviceCalls.h"
#include "drive/Discovery.h"
#include "drive/InquiryChain.h"
#include "drive/PassThroughBlock.h"
#include "drive/Scsi.h"
#include "drive/ShownText.h"
#include "resources/resource.h"

namespace telvio {
namespace {

constexpr DWORD kGetInquiryData = 0x4100C;
constexpr DWORD kGetCapabilities = 0x41010;
constexpr DWORD kGetAddress = 0x41018;
static_assert(kGetInquiryData == IOCTL_SCSI_GET_INQUIRY_DATA, "control code");
static_assert(kGetCapabilities == IOCTL_SCSI_GET_CAPABILITIES, "control code");
static_assert(kGetAddress == IOCTL_SCSI_GET_ADDRESS, "control code");

// Discovery and classification must not hang start-up on a drive that does not answer.
constexpr ULONG kProbeTimeoutSeconds = 2;
constexpr uint8_t kCdDvdDevice = 0x05;  // qualifier 0, peripheral type 5

// Allocates the next slot's record; null when the table is full or the heap says no,
// and the device is then passed over.
DriveRecord* NewRecord(DriveTable& table) {
    if (table.driveCount >= kDriveTableSlots) return nullptr;
    return static_cast<DriveRecord*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(DriveRecord)));
}

void Keep(DriveTable& table, DriveRecord* record) { table.records[table.driveCount++] = record; }

void FreeRecord(DriveRecord* record) { HeapFree(GetProcessHeap(), 0, record); }

// `returned`: the reply's bytes that came back; the rest of the fields read as blanks.
void CopyNames(DriveRecord& record, const uint8_t* inquiry, size_t returned) {
    InquiryNames names;
    ReadInquiryNames(inquiry, returned, names);
    std::memcpy(record.displayName, names.name, sizeof names.name);
    // The image holds the drive's own bytes, which the shown name may not.
    std::memcpy(record.identification, names.identification, sizeof names.identification);
    // Kept apart from the vendor: the upgrade command looks for it in the image.
    std::memcpy(record.product, names.product, sizeof names.product);
    std::memcpy(record.revision, names.revision, sizeof names.revision);
}

HANDLE OpenLetter(char letter) {
    char path[] = "\\\\.\\?:";
    path[4] = letter;
    return Device().createFile(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
}

// A start-up probe (INQUIRY on NT 5, the capabilities page): data in to the whole of
// `reply`, path/target 0, the short time-out.
void PrepareProbe(PassThroughBlock& block, const uint8_t* cdb, uint8_t cdbLength, uint8_t* reply,
                  ULONG replyLength) {
    FillPassThroughBlock(block, {cdb, cdbLength, SCSI_IOCTL_DATA_IN, reply, replyLength,
                                 kProbeTimeoutSeconds, 0, 0});
}

// A letter that gave no record keeps no handle open.
void DropLetter(TransportState& state) {
    Device().closeHandle(state.currentHandle);
    state.currentHandle = INVALID_HANDLE_VALUE;
}

void DiscoverAspi(DriveTable& table) {
    if (aspiSupportInfo == nullptr || aspiSendCommand == nullptr) return;
    const uint32_t support = aspiSupportInfo();
    if (((support >> 8) & 0xFF) != SS_COMP) return;
    const uint8_t adapters = uint8_t(support & 0xFF);
    for (uint8_t adapter = 0; adapter < adapters; ++adapter) {
        SRB_HAInquiry ha;
        std::memset(&ha, 0, sizeof ha);
        ha.SRB_Cmd = SC_HA_INQUIRY;
        ha.SRB_HaId = adapter;
        aspiSendCommand(&ha);
        if (ha.SRB_Status != SS_COMP) continue;
        // Adapters that do not say how many targets they have are probed at 0 and 1.
        const uint8_t targets = ha.HA_Unique[3] ? ha.HA_Unique[3] : 2;
        const uint32_t maxTransfer = uint32_t(ha.HA_Unique[4]) | uint32_t(ha.HA_Unique[5]) << 8 |
                                     uint32_t(ha.HA_Unique[6]) << 16 | uint32_t(ha.HA_Unique[7]) << 24;
        for (uint8_t target = 0; target < targets; ++target) {
            SRB_GDEVBlock dev;
            std::memset(&dev, 0, sizeof dev);
            dev.SRB_Cmd = SC_GET_DEV_TYPE;
            dev.SRB_HaId = adapter;
            dev.SRB_Target = target;
            dev.SRB_Lun = 0;
            aspiSendCommand(&dev);
            if (dev.SRB_Status != SS_COMP || dev.SRB_DeviceType != kCdDvdDevice) continue;

            DriveRecord* record = NewRecord(table);
            if (record == nullptr) continue;
            record->adapter = adapter;
            record->target = target;
            record->maxTransfer = maxTransfer;
            record->alignMask = ha.HA_Unique[0];

            uint8_t reply[36] = {};
            const uint8_t cdb[12] = {0x12, 0, 0, 0, 36, 0, 0, 0, 0, 0, 0, 0};
            SenseData sense;
            if (ScsiExecute(*record, SRB_DIR_IN, sizeof reply, reply, sizeof cdb, cdb, 0, sense) == 1 &&
                reply[0] == kCdDvdDevice) {
                CopyNames(*record, reply, sizeof reply);
                Keep(table, record);
            } else {
                FreeRecord(record);
            }
        }
    }
}

// The class driver behind a letter writes its own device's address into every
// pass-through request sent on the letter's handle, whatever the request says. So a
// letter can only ever reach that one device: of the adapter's inquiry data it keeps
// just the entry at its own address, and a device reached through two letters is
// listed once.
bool ReadLetterAddress(HANDLE handle, SCSI_ADDRESS& address) {
    std::memset(&address, 0, sizeof address);
    DWORD returned = 0;
    return Device().deviceIoControl(handle, kGetAddress, nullptr, 0, &address, sizeof address,
                                    &returned, nullptr) != FALSE;
}

bool AlreadyListed(const SCSI_ADDRESS* listed, int count, const SCSI_ADDRESS& address) {
    for (int i = 0; i < count; ++i) {
        if (listed[i].PortNumber == address.PortNumber && listed[i].PathId == address.PathId &&
            listed[i].TargetId == address.TargetId && listed[i].Lun == address.Lun) {
            return true;
        }
    }
    return false;
}

// The adapter's inquiry data comes whole or not at all: a buffer too small for every
// device on every bus is refused. So the buffer starts at 2 KiB, doubles on each refusal
// for its size, and stops at a bound no adapter of the era comes near.
constexpr DWORD kInquiryDataFirstSize = 2048;
constexpr DWORD kInquiryDataMostSize = 64 * 1024;

// The inquiry data of the adapter behind `handle`, in a zeroed buffer of `size` bytes
// (whatever the platform does not write reads as "no more"); null when the call fails
// or no size up to the bound is enough. Given back with FreeInquiryData.
uint8_t* ReadInquiryData(HANDLE handle, DWORD& size) {
    const HANDLE heap = GetProcessHeap();
    for (size = kInquiryDataFirstSize; size <= kInquiryDataMostSize; size *= 2) {
        uint8_t* info = static_cast<uint8_t*>(Device().heapAlloc(heap, HEAP_ZERO_MEMORY, size));
        if (info == nullptr) return nullptr;
        DWORD returned = 0;
        if (Device().deviceIoControl(handle, kGetInquiryData, nullptr, 0, info, size, &returned,
                                     nullptr)) {
            return info;
        }
        const DWORD error = GetLastError();
        Device().heapFree(heap, 0, info);
        if (error != ERROR_INSUFFICIENT_BUFFER && error != ERROR_MORE_DATA) return nullptr;
    }
    return nullptr;
}

void FreeInquiryData(uint8_t* info) {
    Device().heapFree(GetProcessHeap(), 0, info);
}

void DiscoverNt4(TransportState& state, DriveTable& table) {
    SCSI_ADDRESS listed[kDriveTableSlots];
    int listedCount = 0;
    for (char letter = 'c'; letter <= 'y'; ++letter) {
        state.currentHandle = OpenLetter(letter);
        if (state.currentHandle == INVALID_HANDLE_VALUE) continue;

        SCSI_ADDRESS own;
        DWORD infoSize = 0;
        uint8_t* info = nullptr;
        if (!ReadLetterAddress(state.currentHandle, own) ||
            AlreadyListed(listed, listedCount, own) ||
            (info = ReadInquiryData(state.currentHandle, infoSize)) == nullptr) {
            DropLetter(state);
            continue;
        }
        DriveRecord* record = nullptr;
        for (const InquiryEntry& entry : ReadInquiryChains(info, infoSize)) {
            if (entry.pathId != own.PathId || entry.targetId != own.TargetId ||
                entry.lun != own.Lun) {
                continue;
            }
            // The first entry at the letter's address is its device; a reply that names
            // the address again is not believed twice.
            if (entry.available >= 1 && entry.inquiry[0] == kCdDvdDevice) record = NewRecord(table);
            if (record != nullptr) {
                record->adapter = entry.pathId;
                record->target = entry.targetId;
                record->handle = state.currentHandle;
                record->letter = letter;
                CopyNames(*record, entry.inquiry, entry.available);
            }
            break;
        }
        FreeInquiryData(info);
        if (record == nullptr) {
            DropLetter(state);
            continue;
        }
        uint8_t caps[kCapabilitiesSize] = {};
        DWORD returned = 0;
        if (Device().deviceIoControl(state.currentHandle, kGetCapabilities, nullptr, 0, caps,
                                     sizeof caps, &returned, nullptr)) {
            const IO_SCSI_CAPABILITIES* c = reinterpret_cast<const IO_SCSI_CAPABILITIES*>(caps);
            record->alignMask = c->AlignmentMask;
            record->maxTransfer = c->MaximumTransferLength;
        }
        Keep(table, record);
        listed[listedCount++] = own;
    }
}

void DiscoverNt5(TransportState& state, DriveTable& table) {
    for (char letter = 'c'; letter <= 'z'; ++letter) {
        state.currentHandle = OpenLetter(letter);
        if (state.currentHandle == INVALID_HANDLE_VALUE) continue;

        uint8_t reply[2048];
        std::memset(reply, 0xFF, sizeof reply);
        PassThroughBlock block;
        const uint8_t cdb[6] = {0x12, 0, 0, 0, 0x7F, 0};
        PrepareProbe(block, cdb, sizeof cdb, reply, sizeof reply);
        const BOOL ok = SendPassThrough(state.currentHandle, block, kPassThroughBlockSize);
        // What the drive sent: the platform takes the rest off the transfer length, and
        // the 0xFF bytes beyond it are not the drive's.
        const size_t replied = block.sptd.DataTransferLength < sizeof reply
                                   ? block.sptd.DataTransferLength
                                   : sizeof reply;
        DriveRecord* record = nullptr;
        if (ok && replied >= 1 && reply[0] == kCdDvdDevice) record = NewRecord(table);
        if (record == nullptr) {
            DropLetter(state);
            continue;
        }
        record->handle = state.currentHandle;
        record->letter = letter;
        CopyNames(*record, reply, replied);
        record->alignMask = 0x7FF;
        Keep(table, record);
    }
}

}  // namespace

void DiscoverDrives(TransportState& state, DriveTable& table) {
    table.driveCount = 0;
    if (state.UsePassThrough == 0) {
        DiscoverAspi(table);
    } else if (state.isNT4OrOlder) {
        DiscoverNt4(state, table);
    } else {
        DiscoverNt5(state, table);
    }
}

void ClassifyDrives(DriveTable& table) {
    // Prepared once for all drives, as the reply buffer is: a drive that answers with
    // less leaves the previous drive's bytes in place.
    uint8_t reply[64] = {};
    PassThroughBlock block;
    const uint8_t cdb[12] = {0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0, 0x28, 0, 0, 0};
    PrepareProbe(block, cdb, sizeof cdb, reply, sizeof reply);

    for (int i = 0; i < table.driveCount && i < kDriveTableSlots; ++i) {
        DriveRecord* record = table.records[i];
        if (record == nullptr) continue;
        if (!SendPassThrough(record->handle, block, kPassThroughBlockSize)) continue;
        // The capabilities page follows the 8-byte mode parameter header.
        const uint8_t readCaps = reply[10];
        const uint8_t writeCaps = reply[11];
        if (readCaps == 0x1F && writeCaps == 0x17) {
            record->driveClass = 2;
        } else if (readCaps == 0x07 && writeCaps == 0x07) {
            record->driveClass = 0;
        }
    }
}

const DriveRecord* FindDrive(const DriveTable& table, const char* name) {
    for (int i = 0; i < table.driveCount && i < kDriveTableSlots; ++i) {
        const DriveRecord* record = table.records[i];
        if (record != nullptr && std::strcmp(record->displayName, name) == 0) return record;
    }
    return nullptr;
}

void SelectDrive(HWND dialog, const DriveTable& table) {
    char text[512] = " ";
    const LRESULT selected = SendDlgItemMessageA(dialog, IDC_DRIVE_BOX, CB_GETCURSEL, 0, 0);
    if (selected != CB_ERR) {
        // An item longer than the buffer is left unread rather than written past its end.
        const LRESULT length =
            SendDlgItemMessageA(dialog, IDC_DRIVE_BOX, CB_GETLBTEXTLEN, WPARAM(selected), 0);
        if (length >= 0 && length < LRESULT(sizeof text)) {
            SendDlgItemMessageA(dialog, IDC_DRIVE_BOX, CB_GETLBTEXT, WPARAM(selected),
                                LPARAM(text));
        }
    }
    SetDlgItemTextA(dialog, IDC_REVISION, "    ");
    for (int i = 0; i < table.driveCount && i < kDriveTableSlots; ++i) {
        const DriveRecord* record = table.records[i];
        if (record != nullptr && std::strcmp(record->displayName, text) == 0) {
            char shown[sizeof record->revision];
            CopyShownText(shown, record->revision, sizeof shown);
            SetDlgItemTextA(dialog, IDC_REVISION, shown);
        }
    }
}

}  // namespace telvio
