// The drive locked for one upgrade (Vista on), against a fake of the CD-ROM class
// driver's rules behind the device table: the Upgrade command's question, then the run.
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "drive/ExclusiveAccess.h"
#include "drive/PassThroughBlock.h"
#include "drive/StorageProperty.h"
#include "tests/win/drive/FakeDevice.h"
#include "tests/win/drive/InquiryReply.h"

namespace telvio::test {

std::vector<std::string> WholeUpgrade(const DriveRecord& drive, const std::string& image,
                                      const DriveHold& hold, uint8_t usePassThrough);

namespace {

const char kOwn[] = "\\\\?\\ide#cdrom#1#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
const char kOther[] = "\\\\?\\ide#cdrom#2#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
const HANDLE kForeign = reinterpret_cast<HANDLE>(0xF00);

struct Row {
    const char* what;
    const char* interfaces;  // in the list's order: o the drive's own, x another drive's
    int foreignAt;  // another program locks after this many queries (0: before any; -1: never)
    bool knowsLock, mounted, readable, silent;  // silent: no answer after mode 7
    const char* product;                        // what INQUIRY names on an interface handle
    const char* asked;                          // the Upgrade command's steps; null: kAsked
    const char* run;                            // the run's steps after kFound ("!": all of them)
    const char* refused;                        // the run ends with this line; null: it runs
    bool zeroPower = false;  // the port answers: switched off after 60 s idle (else refuses)
    int banks = 0;           // the image's 64 KiB banks; 0: two blocks
};

// cdrom.sys for one drive: the lock, keyed on one handle, refuses all others (the hold's
// requests too); the query is any read/write handle's; numbers go by device.
struct ClassDriver {
    FakeDevice& fake;
    const Row& row;
    HANDLE owner = nullptr;
    int queries = 0;
    bool saved = false;

    static BOOL Refuse(DWORD error) {
        SetLastError(error);
        return FALSE;
    }
    BOOL Exclusive(const IoCall& call, void* out, DWORD outSize) {
        const auto& open = fake.opens[call.handle];
        if (!row.knowsLock) return Refuse(ERROR_NOT_SUPPORTED);
        if (open.second != (GENERIC_READ | GENERIC_WRITE)) return Refuse(ERROR_ACCESS_DENIED);
        if (call.inBytes.at(0) == kExclusiveQuery && outSize >= 65) {
            std::memset(out, 0, outSize);
            if (owner != nullptr) std::memcpy(out, "\1Burn\xE9(Pro)", 11);
            if (++queries == row.foreignAt) owner = kForeign;
            return TRUE;
        }
        if (call.inBytes[0] == kExclusiveLock && call.inSize == 72) {
            if (open.first[2] != '?') return Refuse(ERROR_INVALID_HANDLE);  // the file system's
            if (row.mounted && !(call.inBytes[4] & kLockIgnoreVolume))
                return Refuse(ERROR_BAD_COMMAND);
            if (owner != nullptr) return Refuse(ERROR_ACCESS_DENIED);
            owner = call.handle;
            return TRUE;
        }
        if (call.inBytes[0] != kExclusiveUnlock || owner != call.handle)
            return Refuse(ERROR_INVALID_PARAMETER);
        owner = nullptr;
        return TRUE;
    }
    BOOL Other(const IoCall& call, void* out, DWORD outSize) {
        if (call.code == kGetDeviceNumber) {  // answered to anyone
            const uint32_t number[3] = {FILE_DEVICE_CD_ROM, uint32_t(fake.LetterOf(call.handle)),
                                        ~0u};
            std::memcpy(out, number, sizeof number);
            return TRUE;
        }
        if (owner != nullptr && call.handle != owner) return Refuse(ERROR_ACCESS_DENIED);
        if (call.code == kQueryStorageProperty) {  // filled in even where refused
            const DevicePowerDescriptor power{20, 20, 1, 1, 1, 1, 1, 0, {}, 60000};
            std::memcpy(out, &power, std::min<DWORD>(outSize, sizeof power));
            const bool asked = call.inBytes.at(0) == kStorageDevicePowerProperty;
            return row.zeroPower && asked ? TRUE : Refuse(ERROR_INVALID_FUNCTION);
        }
        if (call.code != IOCTL_SCSI_PASS_THROUGH_DIRECT) return TRUE;
        SCSI_PASS_THROUGH_DIRECT& s = static_cast<PassThroughBlock*>(out)->sptd;
        if (row.silent && saved) return Refuse(ERROR_SEM_TIMEOUT);
        saved = saved || (s.Cdb[0] == 0x3B && s.Cdb[1] == 7);
        const bool onInterface = fake.opens[call.handle].first[2] == '?';
        const std::vector<uint8_t> reply =
            Inquiry(5, "SIM", onInterface ? row.product : "DVD-RW", "1.00");
        if (s.Cdb[0] == 0x12) std::memcpy(s.DataBuffer, reply.data(), s.DataTransferLength = 36);
        return TRUE;
    }
    void Install() {
        fake.SetHandler(kExclusiveAccessControl, [this](const IoCall& c, void* out, DWORD size) {
            return Exclusive(c, out, size);
        });
        for (DWORD code :
             {DWORD(IOCTL_STORAGE_MCN_CONTROL), DWORD(IOCTL_STORAGE_EJECTION_CONTROL),
              kGetDeviceNumber, DWORD(IOCTL_SCSI_PASS_THROUGH_DIRECT), kQueryStorageProperty}) {
            fake.SetHandler(code, [this](const IoCall& c, void* out, DWORD size) {
                return Other(c, out, size);
            });
        }
    }
};

// From step `from` on, a role and an action each: the Drive's own handle, the Hold, an
// interface opened to be numbered (Probe) or for the Lock; open, close, number, query,
// lock, unlock, inquiry, write buffer ("w+": several in a row), mcn, eject, power.
std::string Steps(FakeDevice& fake, size_t from, HANDLE drive) {
    std::string seen, last;
    size_t n = 0;  // fake.calls[n]: the next control step's call
    for (size_t i = 0; i < from; ++i) n += fake.steps[i].kind == 'i';
    for (size_t i = from; i < fake.steps.size(); ++i) {
        const FakeDevice::Step& s = fake.steps[i];
        const auto& open = fake.opens[s.handle];
        const char role = s.handle == drive      ? 'D'
                          : open.first[2] != '?' ? 'H'
                          : open.second          ? 'L'
                                                 : 'P';
        const std::vector<uint8_t> in =
            s.kind == 'i' ? fake.calls[n++].inBytes : std::vector<uint8_t>();
        const char action =
            s.kind != 'i'                       ? s.kind
            : s.what == kExclusiveAccessControl ? "qlu"[in.at(0)]
            : s.what == IOCTL_SCSI_PASS_THROUGH_DIRECT
                ? (in.at(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb)) == 0x12 ? 'i' : 'w')
            : s.what == kGetDeviceNumber          ? 'n'
            : s.what == kQueryStorageProperty     ? 'p'
            : s.what == IOCTL_STORAGE_MCN_CONTROL ? 'm'
                                                  : 'e';
        const std::string step{role, action};
        if (action != 'w' || step != last) {
            seen += (seen.empty() ? "" : " ") + step;
        } else if (seen.back() != '+') {
            seen += '+';
        }
        last = step;
    }
    return seen;
}

TEST(ExclusiveAccess, LocksTheDriveForTheRunOrRunsAsBefore) {
    const char kAsked[] = "Dn Po Pn Pc Lo Ln Lq Lc";
    const std::string kFound = "Ho Hm He Hn Po Pn Pc Lo Ln Lq";
    const char kToday[] = " Hp Dw+ Di Hc";  // the run as before the lock, on the drive's own handle
    const char kBusy[] = "ERR: the drive is in use by \"Burn??Pro?\".";
    const char kPowerOff[] =
        "ERR: Windows switches this drive off after 60 seconds without a "
        "command, and it needs 65 seconds to program its memory. See POWER "
        "SAVING in README.txt.";
    std::string kPowerOffSooner = kPowerOff;  // within the ten seconds' margin
    kPowerOffSooner.replace(kPowerOffSooner.find("65"), 2, "53");
    const Row rows[] = {
        {"granted", "xo", -1, true, false, false, false, "DVD-RW",
         "Dn Po Pn Pc Po Pn Pc Lo Ln Lq Lc",
         "!Ho Hm He Hn Po Pn Pc Po Pn Pc Lo Ln Lq Ll Li Lp Lw+ Li Lu Lc Hc", nullptr},
        {"held by another", "o", 0, true, false, false, false, "DVD-RW", nullptr, " Lc Hc", kBusy},
        {"taken since the query", "o", 2, true, false, false, false, "DVD-RW", nullptr,
         " Ll Lq Lc Hc", kBusy},
        {"not supported (a volume answers, as under Wine)", "o", -1, false, false, true, false,
         "DVD-RW", nullptr, " Lc", nullptr},
        {"mounted, a file system reads it", "o", -1, true, true, true, false, "DVD-RW", nullptr,
         " Ll Lc", nullptr},
        {"mounted, nothing reads it (RAW)", "o", -1, true, true, false, false, "DVD-RW", nullptr,
         " Ll Ll Li Lp Lw+ Li Lu Lc Hc", nullptr},
        {"no matching interface", "x", -1, true, false, false, false, "DVD-RW", "Dn Po Pn Pc",
         "!Ho Hm He Hn Po Pn Pc", nullptr},
        {"INQUIRY names another drive", "o", -1, true, false, false, false, "CD-ROM", nullptr,
         " Ll Li Lu Lc", nullptr},
        {"no answer after mode 7: both kept", "o", -1, true, false, false, true, "DVD-RW", nullptr,
         " Ll Li Lp Lw+ Li", nullptr},
        {"Zero Power ODD, 16 banks: asked on the lock, nothing sent", "o", -1, true, false, false,
         false, "DVD-RW", nullptr, " Ll Li Lp Lu Lc Hc", kPowerOff, true, 16},
        {"Zero Power ODD, 4 banks: asked on the hold, runs", "o", -1, false, false, false, false,
         "DVD-RW", nullptr, " Lc", nullptr, true, 4},
        {"Zero Power ODD, 13 banks", "o", -1, true, false, false, false, "DVD-RW", nullptr,
         " Ll Li Lp Lu Lc Hc", kPowerOffSooner.c_str(), true, 13},
        {"port does not answer, 16 banks", "o", -1, true, false, false, false, "DVD-RW", nullptr,
         " Ll Li Lp Lw+ Li Lu Lc Hc", nullptr, false, 16},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        FakeDevice fake;
        fake.AddLetter('d');
        fake.AddPath(kOwn, 'd');
        fake.AddPath(kOther, 'e');
        for (const char* c = r.interfaces; *c; ++c)
            fake.interfaces.push_back(*c == 'o' ? kOwn : kOther);
        fake.volumeReadable = r.readable;
        ClassDriver driver{fake, r};
        if (r.foreignAt == 0) driver.owner = kForeign;
        driver.Install();
        DriveRecord drive{};
        drive.letter = 'd';
        drive.alignMask = 0x7FF;
        std::strcpy(drive.identification, "SIM     DVD-RW          ");  // as discovery reads it
        std::strcpy(drive.product, "DVD-RW          ");
        std::strcpy(drive.revision, "1.00");
        drive.handle = Device().createFile("\\\\.\\d:", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                           OPEN_EXISTING, 0, nullptr);
        TransportState state;
        state.UsePassThrough = 1;

        uint8_t holder[kCallerNameLength] = {};
        EXPECT_EQ(r.foreignAt == 0, DriveLockedByOther(state, drive, holder));
        const char* raw = reinterpret_cast<const char*>(holder);
        EXPECT_EQ(r.foreignAt == 0 ? "Burn\xE9(Pro)" : "",
                  std::string(raw, strnlen(raw, sizeof holder)));
        EXPECT_EQ(r.asked ? r.asked : kAsked, Steps(fake, 1, drive.handle));
        const size_t asked = fake.steps.size(), askedCalls = fake.calls.size();
        const std::vector<std::string> log =
            WholeUpgrade(drive, std::string(r.banks ? r.banks * 0x10000 : 2 * 4096, 'Z'),
                         DriveHoldFor(state), 1);
        const bool today = std::strchr(r.run, 'w') == nullptr && !r.refused;
        EXPECT_EQ(
            (r.run[0] == '!' ? std::string(r.run + 1) : kFound + r.run) + (today ? kToday : ""),
            Steps(fake, asked, drive.handle));
        EXPECT_EQ(r.refused ? "Flashing is incorrect!!" : "Please Restart Your Computer.",
                  log.back());
        if (r.refused) {
            EXPECT_EQ(r.refused, log.at(log.size() - 2));
        }
        // Each handle but the drive's own is closed once, save the lock and the hold that a
        // silent drive keeps; no lock of ours outlives a run that ended.
        for (HANDLE h : fake.handles) {
            const bool kept = r.silent && (h == fake.handles.back() ||
                                           fake.opens[h].second == FILE_READ_ATTRIBUTES);
            EXPECT_EQ(h == drive.handle || kept ? 0 : 1, fake.closes[h]) << fake.opens[h].first;
        }
        EXPECT_EQ(r.silent           ? fake.handles.back()
                  : r.foreignAt >= 0 ? kForeign
                                     : nullptr,
                  driver.owner);
        EXPECT_EQ(0, fake.openLists);
        EXPECT_EQ(std::vector<std::string>(r.mounted, "d:\\"), fake.volumeRoots);
        std::vector<std::vector<uint8_t>> blocks;
        for (size_t i = askedCalls; i < fake.calls.size(); ++i) {
            if (fake.calls[i].code == kExclusiveAccessControl)
                blocks.push_back(fake.calls[i].inBytes);
        }
        if (r.interfaces[1] == 'o') {  // the exact query, lock and unlock blocks
            std::vector<uint8_t> lock(72, 0);
            lock[0] = 1;
            std::memcpy(&lock[8], "Telvio firmware upgrade", 23);
            EXPECT_EQ((std::vector<std::vector<uint8_t>>{
                          std::vector<uint8_t>(8, 0), lock, {2, 0, 0, 0, 2, 0, 0, 0}}),
                      blocks);
        }
        if (r.mounted && !r.readable) {
            EXPECT_EQ(kLockIgnoreVolume, blocks.at(2).at(4));
        }
        // The disc in the tray, asked at the Upgrade command only where the lock exists.
        EXPECT_EQ(r.knowsLock && r.readable && std::strchr(r.interfaces, 'o') != nullptr,
                  DiscReadable(state, drive));
    }
}

// The bus, asked before an upgrade on the letter with no data rights (a mounted disc's
// file system would take any other open).
TEST(StorageProperty, TellsUsbAndFireWireFromTheRest) {
    const struct {
        const char* what;
        int32_t busType;
        bool answered, external;
    } rows[] = {{"USB", kBusTypeUsb, true, true},
                {"FireWire", kBusType1394, true, true},
                {"SATA", 0xB, true, false},
                {"no answer", kBusTypeUsb, false, false}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        FakeDevice fake;
        fake.AddLetter('d');
        fake.SetHandler(kQueryStorageProperty, [&r](const IoCall& call, void* out, DWORD size) {
            StorageDeviceDescriptor reply{};
            reply.busType = r.busType;  // filled in even where refused
            std::memcpy(out, &reply, std::min<DWORD>(size, sizeof reply));
            if (r.answered && call.inBytes.at(0) == kStorageDeviceProperty) return TRUE;
            SetLastError(ERROR_INVALID_FUNCTION);
            return FALSE;
        });
        DriveRecord drive{};
        drive.letter = 'd';
        TransportState state;
        state.UsePassThrough = 1;
        EXPECT_EQ(r.external, DriveOnExternalBus(state, drive));
        ASSERT_EQ(1u, fake.handles.size());
        EXPECT_EQ(0u, fake.opens[fake.handles[0]].second);
        EXPECT_EQ(1, fake.closes[fake.handles[0]]);
    }
}

}  // namespace
}  // namespace telvio::test
