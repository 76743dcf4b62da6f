// Reading the reply of IOCTL_SCSI_GET_INQUIRY_DATA (SCSI_ADAPTER_BUS_INFO): the list of
// buses and, per bus, a chain of SCSI_INQUIRY_DATA entries linked by offsets from the
// start of the buffer. The platform fills it, but it is still read with bounds in hand:
// an offset that leaves the buffer, or a link back to an entry already seen, ends the
// chain there. Portable, so it is tested and fuzzed natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace telvio {

struct InquiryEntry {
    uint8_t pathId;
    uint8_t targetId;
    uint8_t lun;
    const uint8_t* inquiry;   // the entry's InquiryData, inside the buffer
    // Bytes from `inquiry` to the end of the buffer. The entry's own length field is not
    // a bound: the names are read at their fixed places, as far as the buffer holds them.
    uint32_t available;
};

// Entry layout: PathId 0, TargetId 1, Lun 2, claimed 3, length 4..7, next 8..11, data 12.
constexpr size_t kInquiryEntryHeader = 12;

// Every entry of every bus, in bus order then chain order.
std::vector<InquiryEntry> ReadInquiryChains(const uint8_t* buffer, size_t size);

// Copies at most `count` characters from `src` (which has `available` bytes) into `dst`,
// stopping early at a NUL, and terminates it. `dst` holds count + 1 bytes at least.
void CopyInquiryText(char* dst, const uint8_t* src, size_t available, size_t count);

// One text field of standard INQUIRY data, `count` bytes at `offset` of a reply of which
// `returned` bytes came back. A byte that did not come back is a blank, and so is a NUL
// at the field's end: some drives pad with NULs where the standard says spaces. A NUL
// inside the field still ends the text there. `dst` holds count + 1 bytes at least.
void CopyInquiryField(char* dst, const uint8_t* reply, size_t returned, size_t offset,
                      size_t count);

// The texts a drive is known by, from its INQUIRY reply (`returned` bytes of it).
struct InquiryNames {
    char identification[25];  // vendor (8) and product (16), the drive's own bytes
    char name[25];            // the identification as the drive list shows it
    char product[17];         // product identification
    char revision[5];         // product revision level
};
void ReadInquiryNames(const uint8_t* reply, size_t returned, InquiryNames& names);

}  // namespace telvio
