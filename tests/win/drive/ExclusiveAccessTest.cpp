// The drive locked for one upgrade (Vista on), against a fake of the CD-ROM class
// driver's rules behind the device table: the Upgrade command's question, then the run.
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "drive/ExclusiveAccess.h"
#include "drive/InquiryChain.h"
#include "drive/PassThroughBlock.h"
#include "tests/win/drive/FakeDevice.h"
#include "tests/win/drive/InquiryReply.h"

namespace telvio::test {

std::vector<std::string> WholeUpgrade(const DriveRecord& drive, const std::string& image,
                                      const DriveHold& hold, uint8_t usePassThrough);

namespace {

const char kOwn[] = "\\\\?\\ide#cdromsim#1&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
const char kOther[] = "\\\\?\\ide#cdromsim#2&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
const HANDLE kForeign = reinterpret_cast<HANDLE>(0xF00);

bool OnInterface(const FakeDevice& fake, HANDLE h) {
    return fake.PathOf(h).rfind("\\\\?\\", 0) == 0;
}

// One drive as cdrom.sys sees it: the lock keyed on one handle that refuses all others,
// the query open to everyone with read/write rights, the numbers by device.
struct ClassDriver {
    FakeDevice& fake;
    bool knowsLock, mounted, silentAfterSave;
    int foreignAt;                 // another program locks after that many queries: a race
    std::string otherName;         // its name
    std::string interfaceProduct;  // what INQUIRY on an interface handle answers
    HANDLE owner = nullptr;
    int queries = 0;
    bool saved = false;

    BOOL Refuse(DWORD error) {
        SetLastError(error);
        return FALSE;
    }
    bool Blocked(const IoCall& call) { return owner != nullptr && call.handle != owner; }
    BOOL Exclusive(const IoCall& call, void* out, DWORD outSize) {
        if (!knowsLock) return Refuse(ERROR_NOT_SUPPORTED);
        const DWORD rw = GENERIC_READ | GENERIC_WRITE;
        if ((fake.AccessOf(call.handle) & rw) != rw) return Refuse(ERROR_ACCESS_DENIED);
        if (call.inSize < 8) return Refuse(ERROR_BAD_LENGTH);
        const uint8_t type = call.inBytes[0], flags = call.inBytes[4];
        if (type == kExclusiveQuery) {
            if (outSize < 65) return Refuse(ERROR_INSUFFICIENT_BUFFER);
            std::memset(out, 0, 65);
            static_cast<uint8_t*>(out)[0] = owner != nullptr;
            if (owner != nullptr) std::memcpy(static_cast<uint8_t*>(out) + 1, otherName.data(), otherName.size());
            if (++queries == foreignAt) owner = kForeign;
            return TRUE;
        }
        if (type == kExclusiveLock) {
            if (call.inSize < 72) return Refuse(ERROR_BAD_LENGTH);
            if (fake.PathOf(call.handle).rfind("\\\\.\\", 0) == 0) return Refuse(ERROR_INVALID_HANDLE);
            if (mounted && !(flags & kLockIgnoreVolume)) return Refuse(ERROR_BAD_COMMAND);
            if (owner != nullptr) return Refuse(ERROR_ACCESS_DENIED);
            owner = call.handle;
            return TRUE;
        }
        if (owner == nullptr) return Refuse(ERROR_INVALID_FUNCTION);
        if (owner != call.handle) return Refuse(ERROR_INVALID_HANDLE);
        owner = nullptr;
        return TRUE;
    }
    BOOL PassThrough(const IoCall& call, void* out) {
        if (Blocked(call)) return Refuse(ERROR_ACCESS_DENIED);
        SCSI_PASS_THROUGH_DIRECT& s = static_cast<PassThroughBlock*>(out)->sptd;
        if (silentAfterSave && saved) return Refuse(ERROR_SEM_TIMEOUT);
        saved = saved || (s.Cdb[0] == 0x3B && s.Cdb[1] == 7);
        if (s.Cdb[0] == 0x12) {
            const std::vector<uint8_t> reply =
                Inquiry(5, "SIM", OnInterface(fake, call.handle) ? interfaceProduct : "DVD-RW", "1.00");
            s.DataTransferLength = std::min<ULONG>(s.DataTransferLength, ULONG(reply.size()));
            std::memcpy(s.DataBuffer, reply.data(), s.DataTransferLength);
        }
        return TRUE;
    }
    void Install() {
        fake.SetHandler(kExclusiveAccessControl, [this](const IoCall& c, void* out, DWORD size) { return Exclusive(c, out, size); });
        fake.SetHandler(IOCTL_SCSI_PASS_THROUGH_DIRECT, [this](const IoCall& c, void* out, DWORD) { return PassThrough(c, out); });
        for (DWORD code : {DWORD(IOCTL_STORAGE_MCN_CONTROL), DWORD(IOCTL_STORAGE_EJECTION_CONTROL)})
            fake.SetHandler(code, [this](const IoCall& c, void*, DWORD) { return Blocked(c) ? Refuse(ERROR_ACCESS_DENIED) : TRUE; });
        fake.SetHandler(kGetDeviceNumber, [this](const IoCall& c, void* out, DWORD) {
            const StorageDeviceNumber number{FILE_DEVICE_CD_ROM, uint32_t(fake.LetterOf(c.handle) - 'd'), ~0u};
            std::memcpy(out, &number, sizeof number);
            return TRUE;
        });
    }
};

// Steps as "role:what": the drive's own handle, the hold, an interface opened to be
// numbered (probe) or for the lock; consecutive WRITE BUFFERs folded into "wb+".
std::string Steps(const FakeDevice& fake, size_t from, HANDLE drive) {
    std::string seen, last;
    size_t n = 0;  // the control call of step i
    for (size_t i = 0; i < from; ++i) n += fake.steps[i].kind == 'i';
    for (size_t i = from; i < fake.steps.size(); ++i) {
        const FakeDevice::Step& s = fake.steps[i];
        std::string name = s.handle == drive             ? "drive:"
                           : !OnInterface(fake, s.handle) ? "hold:"
                           : fake.AccessOf(s.handle)      ? "lock:"
                                                          : "probe:";
        if (s.kind != 'i') {
            name += s.kind == 'o' ? "open" : "close";
        } else {
            const std::vector<uint8_t>& in = fake.calls[n++].inBytes;
            const char* types[] = {"query", "lock", "unlock"};
            name += s.what == kExclusiveAccessControl          ? types[in.at(0)]
                    : s.what == IOCTL_SCSI_PASS_THROUGH_DIRECT ? (in.at(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb)) == 0x12 ? "inq" : "wb")
                    : s.what == kGetDeviceNumber               ? "number"
                    : s.what == IOCTL_STORAGE_MCN_CONTROL      ? "mcn"
                                                               : "eject";
        }
        if (name == last && name.find(":wb") != std::string::npos) {
            if (seen.back() != '+') seen += '+';
            continue;
        }
        seen += (seen.empty() ? "" : " ") + name;
        last = name;
    }
    return seen;
}

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> head, const char* name, size_t size) {
    std::vector<uint8_t> b(head);
    b.insert(b.end(), name, name + std::strlen(name));
    b.resize(size);
    return b;
}

TEST(ExclusiveAccess, LocksTheDriveForTheRunOrRunsAsBefore) {
    const char kAsked[] = "drive:number probe:open probe:number probe:close lock:open lock:number lock:query lock:close";
    const std::string kFound = "hold:open hold:mcn hold:eject hold:number probe:open probe:number probe:close lock:open lock:number lock:query";
    const char kBusy[] = "ERR: the drive is in use by \"Burn??Pro?\".";
    struct Row {
        const char* what;
        const char* interfaces;  // the list, in order: o the drive's own, x another drive's
        int foreignAt;           // another program locks after that many queries (-1: never)
        bool knowsLock, mounted, readable, silentAfterSave;
        const char* interfaceProduct;  // what INQUIRY on an interface handle names
        const char* asked;             // the Upgrade command's steps; null: kAsked
        const char* run;               // the run's steps after kFound; from "!" on: all of them
        const char* err;               // the line before the verdict of a failed run
    };
    const Row rows[] = {
        {"granted", "xo", -1, true, false, false, false, "DVD-RW",
         "drive:number probe:open probe:number probe:close probe:open probe:number probe:close lock:open lock:number lock:query lock:close",
         "!hold:open hold:mcn hold:eject hold:number probe:open probe:number probe:close probe:open probe:number "
         "probe:close lock:open lock:number lock:query lock:lock lock:inq lock:wb+ lock:inq lock:unlock lock:close hold:close",
         nullptr},
        {"held by another", "o", 0, true, false, false, false, "DVD-RW", nullptr, " lock:close hold:close", kBusy},
        {"taken between the query and the lock", "o", 2, true, false, false, false, "DVD-RW", nullptr,
         " lock:lock lock:query lock:close hold:close", kBusy},
        {"not supported", "o", -1, false, false, false, false, "DVD-RW", nullptr, " lock:close drive:wb+ drive:inq hold:close", nullptr},
        {"mounted, a file system reads the disc", "o", -1, true, true, true, false, "DVD-RW", nullptr,
         " lock:lock lock:close drive:wb+ drive:inq hold:close", nullptr},
        {"mounted, nothing reads it (RAW)", "o", -1, true, true, false, false, "DVD-RW", nullptr,
         " lock:lock lock:lock lock:inq lock:wb+ lock:inq lock:unlock lock:close hold:close", nullptr},
        {"no matching interface", "x", -1, true, false, false, false, "DVD-RW", "drive:number probe:open probe:number probe:close",
         "!hold:open hold:mcn hold:eject hold:number probe:open probe:number probe:close drive:wb+ drive:inq hold:close", nullptr},
        {"INQUIRY names another drive", "o", -1, true, false, false, false, "CD-ROM", nullptr,
         " lock:lock lock:inq lock:unlock lock:close drive:wb+ drive:inq hold:close", nullptr},
        {"no answer after mode 7: both kept", "o", -1, true, false, false, true, "DVD-RW", nullptr,
         " lock:lock lock:inq lock:wb+ lock:inq", nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        FakeDevice fake;
        fake.AddLetter('d');
        fake.AddPath(kOwn, 'd');
        fake.AddPath(kOther, 'e');
        for (const char* c = r.interfaces; *c; ++c) fake.interfaces.push_back(*c == 'o' ? kOwn : kOther);
        fake.volumeReadable = r.readable;
        ClassDriver driver{fake, r.knowsLock, r.mounted, r.silentAfterSave, r.foreignAt, "Burn\xE9(Pro)", r.interfaceProduct};
        if (r.foreignAt == 0) driver.owner = kForeign;
        driver.Install();
        DriveRecord drive{};
        drive.letter = 'd';
        drive.alignMask = 0x7FF;
        drive.handle = Device().createFile("\\\\.\\d:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        InquiryNames names;
        ReadInquiryNames(Inquiry(5, "SIM", "DVD-RW", "1.00").data(), 36, names);
        std::snprintf(drive.displayName, sizeof drive.displayName, "%s(0)", names.name);
        std::memcpy(drive.product, names.product, sizeof drive.product);
        std::memcpy(drive.revision, names.revision, sizeof drive.revision);
        TransportState state;
        state.UsePassThrough = 1;

        uint8_t holder[kCallerNameLength] = {};
        EXPECT_EQ(r.foreignAt == 0, DriveLockedByOther(state, drive, holder));
        const char* raw = reinterpret_cast<const char*>(holder);
        EXPECT_EQ(r.foreignAt == 0 ? "Burn\xE9(Pro)" : "", std::string(raw, strnlen(raw, sizeof holder)));
        EXPECT_EQ(r.asked ? r.asked : kAsked, Steps(fake, 1, drive.handle));
        const size_t asked = fake.steps.size(), askedCalls = fake.calls.size();
        const std::vector<std::string> log = WholeUpgrade(drive, std::string(2 * 4096, 'Z'), DriveHoldFor(state), 1);
        EXPECT_EQ(r.run[0] == '!' ? std::string(r.run + 1) : kFound + r.run, Steps(fake, asked, drive.handle));
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(r.err ? "Flashing is incorrect!!" : "Please Restart Your Computer.", log.back());
        if (r.err) {
            EXPECT_EQ(r.err, log[log.size() - 2]);
        }
        // Every handle but the drive's own is closed once, save the lock and the hold that a
        // silent drive keeps; no lock of ours outlives a run that ended.
        for (HANDLE h : fake.handles) {
            const bool kept = r.silentAfterSave && (h == fake.handles.back() || fake.AccessOf(h) == FILE_READ_ATTRIBUTES);
            EXPECT_EQ(h == drive.handle || kept ? 0 : 1, fake.closes[h]) << fake.PathOf(h);
        }
        EXPECT_EQ(r.silentAfterSave ? fake.handles.back() : r.foreignAt >= 0 ? kForeign : nullptr, driver.owner);
        EXPECT_EQ(0, fake.openLists);
        EXPECT_EQ(r.mounted ? std::vector<std::string>{"d:\\"} : std::vector<std::string>{}, fake.volumeRoots);
        std::vector<std::vector<uint8_t>> blocks;
        for (size_t i = askedCalls; i < fake.calls.size(); ++i)
            if (fake.calls[i].code == kExclusiveAccessControl) blocks.push_back(fake.calls[i].inBytes);
        if (r.interfaces == std::string("xo")) {
            ASSERT_EQ(3u, blocks.size());
            EXPECT_EQ(std::vector<uint8_t>(8, 0), blocks[0]);
            EXPECT_EQ(Bytes({1, 0, 0, 0, 0, 0, 0, 0}, "Telvio firmware upgrade", 72), blocks[1]);
            EXPECT_EQ(std::vector<uint8_t>({2, 0, 0, 0, 2, 0, 0, 0}), blocks[2]);
        }
        if (r.mounted && !r.readable) {
            EXPECT_EQ(kLockIgnoreVolume, blocks.at(2).at(4));
        }
    }
}

}  // namespace
}  // namespace telvio::test
