// Discovery and classification on the NT family, with replies the platform would never
// build itself (several buses, chains, malformed offsets, an adapter shared by several
// letters), through the in-process table.
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "drive/AspiEntries.h"
#include "drive/Discovery.h"
#include "drive/PassThroughBlock.h"
#include "drive/StorageProperty.h"
#include "tests/win/drive/FakeDevice.h"
#include "tests/win/drive/InquiryReply.h"

namespace telvio::test {

// In WholeUpgrade.cpp: one whole upgrade of `drive` through the engine; gives back the log.
std::vector<std::string> WholeUpgrade(const DriveRecord& drive, const std::string& image,
                                      const DriveHold& hold = {}, uint8_t usePassThrough = 1);

namespace {

struct Table {
    DriveTable table{};
    TransportState state;
    // Runs discovery on the pass-through transport, NT 4's method or NT 5's.
    void Discover(bool nt4) {
        state.UsePassThrough = 1;
        state.isNT4OrOlder = nt4 ? 1 : 0;
        DiscoverDrives(state, table);
    }
    ~Table() {
        for (int i = 0; i < table.driveCount; ++i) HeapFree(GetProcessHeap(), 0, table.records[i]);
    }
};

FakeDevice::Handler Capabilities(uint32_t alignMask, uint32_t maxTransfer) {
    return [=](const IoCall&, void* out, DWORD outSize) -> BOOL {
        if (outSize < 24) return FALSE;
        IO_SCSI_CAPABILITIES* c = static_cast<IO_SCSI_CAPABILITIES*>(out);
        c->Length = sizeof *c;
        c->MaximumTransferLength = maxTransfer;
        c->AlignmentMask = alignMask;
        return TRUE;
    };
}

// Answers IOCTL_SCSI_GET_INQUIRY_DATA per letter with a prepared reply, whole or not at
// all, as the port driver does: a buffer smaller than the reply is refused as too small.
FakeDevice::Handler InquiryData(FakeDevice& fake, std::map<char, std::vector<uint8_t>>& replies) {
    return [&fake, &replies](const IoCall& call, void* out, DWORD outSize) -> BOOL {
        auto it = replies.find(fake.LetterOf(call.handle));
        if (it == replies.end()) return FALSE;
        if (outSize < it->second.size()) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::memcpy(out, it->second.data(), it->second.size());
        return TRUE;
    };
}

struct Address {
    uint8_t port, path, target, lun;
};

// Answers IOCTL_SCSI_GET_ADDRESS with each letter's own device; other letters fail it.
FakeDevice::Handler LetterAddresses(FakeDevice& fake, std::map<char, Address> addresses) {
    return [&fake, addresses](const IoCall& call, void* out, DWORD outSize) -> BOOL {
        auto it = addresses.find(fake.LetterOf(call.handle));
        if (it == addresses.end() || outSize < sizeof(SCSI_ADDRESS)) return FALSE;
        SCSI_ADDRESS* a = static_cast<SCSI_ADDRESS*>(out);
        a->Length = sizeof *a;
        a->PortNumber = it->second.port;
        a->PathId = it->second.path;
        a->TargetId = it->second.target;
        a->Lun = it->second.lun;
        return TRUE;
    };
}

void AllLetters(FakeDevice& fake) {
    for (char l = 'c'; l <= 'z'; ++l) fake.AddLetter(l);
}

std::vector<HANDLE> HandlesOf(const FakeDevice& fake, DWORD code) {
    std::vector<HANDLE> handles;
    for (const IoCall& call : fake.calls) {
        if (call.code == code) handles.push_back(call.handle);
    }
    return handles;
}

TEST(DiscoverNt4, WalksEveryBusAndChainAndKeepsEachLettersOwnCdDvdDevice) {
    FakeDevice fake;
    AllLetters(fake);
    BusInfo info(3);
    info.SetBusOffset(0, 100);
    info.SetBusOffset(1, 0);  // a bus without devices
    info.SetBusOffset(2, 400);
    info.Entry(100, 0, 0, 200, Inquiry(0x00, "DISKCO", "HARD DISK", "0001"));
    info.Entry(200, 0, 1, 300, Inquiry(0x05, "VENDOR A", "FIRST DRIVE     ", "1.00"));
    info.Entry(300, 0, 2, 0, Inquiry(0x25, "VENDOR B", "NOT PRESENT", "9.99"));
    info.Entry(400, 2, 4, 500, Inquiry(0x05, "VENDOR C", "SECOND  ", "2.0 "));
    info.Entry(500, 2, 5, 0, Inquiry(0x01, "TAPECO", "TAPE", "0000"));
    // Every letter on the adapter gets the adapter's whole reply; h's address is read but
    // matches no entry, and every other letter's address cannot be read.
    std::map<char, std::vector<uint8_t>> replies;
    for (char l = 'c'; l <= 'y'; ++l) replies[l] = info.Bytes();
    fake.SetHandler(IOCTL_SCSI_GET_INQUIRY_DATA, InquiryData(fake, replies));
    fake.SetHandler(IOCTL_SCSI_GET_ADDRESS, LetterAddresses(fake, {{'d', {1, 0, 0, 0}},
                                                                   {'e', {1, 0, 1, 0}},
                                                                   {'f', {1, 0, 2, 0}},
                                                                   {'g', {1, 2, 4, 0}},
                                                                   {'h', {1, 2, 4, 1}},
                                                                   {'i', {1, 2, 5, 0}}}));
    fake.SetHandler(IOCTL_SCSI_GET_CAPABILITIES, Capabilities(0x1FF, 0x10000));

    Table t;
    t.Discover(true);

    ASSERT_EQ(2, t.table.driveCount);
    const DriveRecord& a = *t.table.records[0];
    EXPECT_STREQ("VENDOR AFIRST DRIVE     ", a.displayName) << "names are not trimmed";
    EXPECT_STREQ("1.00", a.revision);
    EXPECT_STREQ("FIRST DRIVE     ", a.product);
    EXPECT_EQ(0, a.adapter);
    EXPECT_EQ(1, a.target);
    EXPECT_EQ(fake.HandleFor('e'), a.handle);
    EXPECT_EQ(0x1FFu, a.alignMask);
    EXPECT_EQ(0x10000u, a.maxTransfer);
    const DriveRecord& c = *t.table.records[1];
    EXPECT_STREQ("VENDOR CSECOND          ", c.displayName);
    EXPECT_STREQ("2.0 ", c.revision);
    EXPECT_EQ(2, c.adapter);
    EXPECT_EQ(4, c.target);
    EXPECT_EQ(fake.HandleFor('g'), c.handle);

    // c through y are opened for reading and writing; z is not examined on NT 4.
    ASSERT_EQ(23u, fake.opened.size());
    EXPECT_EQ("\\\\.\\c:", fake.opened.front());
    EXPECT_EQ("\\\\.\\y:", fake.opened.back());
    EXPECT_EQ(DWORD(GENERIC_READ | GENERIC_WRITE), fake.lastAccess);
    EXPECT_EQ(DWORD(FILE_SHARE_READ | FILE_SHARE_WRITE), fake.lastShare);
    EXPECT_EQ(DWORD(OPEN_EXISTING), fake.lastDisposition);
    EXPECT_EQ(0u, fake.lastFlags);
    // The address and inquiry calls ask with no input; the inquiry with 2048 bytes out.
    // A letter whose address cannot be read is not asked for inquiry data.
    for (const IoCall& call : fake.calls) {
        if (call.code == IOCTL_SCSI_GET_ADDRESS) {
            EXPECT_EQ(0u, call.inSize);
            EXPECT_EQ(sizeof(SCSI_ADDRESS), call.outSize);
        }
        if (call.code != IOCTL_SCSI_GET_INQUIRY_DATA) continue;
        EXPECT_EQ(0u, call.inSize);
        EXPECT_EQ(2048u, call.outSize);
    }
    EXPECT_EQ(23u, HandlesOf(fake, IOCTL_SCSI_GET_ADDRESS).size());
    EXPECT_EQ(6u, HandlesOf(fake, IOCTL_SCSI_GET_INQUIRY_DATA).size());
    // Only the two letters that gave a record keep their handles open.
    for (HANDLE h : fake.handles) {
        const char l = fake.LetterOf(h);
        EXPECT_EQ(l == 'e' || l == 'g' ? 0 : 1, fake.closes[h]) << "letter " << l;
    }
}

// One adapter, as an IDE channel or a SCSI bus with the system disk and two CD/DVD
// drives on it: every letter reports all three devices, but whatever is sent on a
// letter's handle reaches the letter's own device. Each drive is listed once, with its
// own letter's handle, and a whole upgrade sends everything through that handle.
TEST(DiscoverNt4, SharedAdapterListsEachDriveOnceWithItsOwnLettersHandle) {
    FakeDevice fake;
    AllLetters(fake);
    BusInfo info(1);
    info.SetBusOffset(0, 48);
    info.Entry(48, 0, 0, 100, Inquiry(0x00, "DISKCO", "SYSTEM DISK", "0001"));
    info.Entry(100, 0, 1, 152, Inquiry(0x05, "VENDOR D", "FIRST DVD", "D100"));
    info.Entry(152, 0, 2, 0, Inquiry(0x05, "VENDOR E", "SECOND DVD", "E200"));
    std::map<char, std::vector<uint8_t>> replies{
        {'c', info.Bytes()}, {'d', info.Bytes()}, {'e', info.Bytes()}, {'g', info.Bytes()}};
    fake.SetHandler(IOCTL_SCSI_GET_INQUIRY_DATA, InquiryData(fake, replies));
    // g is a second name of d's device (the same port and address).
    fake.SetHandler(IOCTL_SCSI_GET_ADDRESS, LetterAddresses(fake, {{'c', {0, 0, 0, 0}},
                                                                   {'d', {0, 0, 1, 0}},
                                                                   {'e', {0, 0, 2, 0}},
                                                                   {'g', {0, 0, 1, 0}}}));
    // No capabilities handler: the call fails and the records keep 0.

    Table t;
    t.Discover(true);

    ASSERT_EQ(2, t.table.driveCount);
    const DriveRecord& d = *t.table.records[0];
    const DriveRecord& e = *t.table.records[1];
    EXPECT_STREQ("VENDOR DFIRST DVD       ", d.displayName);
    EXPECT_EQ(fake.HandleFor('d'), d.handle);
    EXPECT_EQ(1, d.target);
    EXPECT_STREQ("VENDOR ESECOND DVD      ", e.displayName);
    EXPECT_EQ(fake.HandleFor('e'), e.handle);
    EXPECT_EQ(2, e.target);
    for (const DriveRecord* r : {&d, &e}) {
        EXPECT_EQ(0, r->adapter);
        EXPECT_EQ(0u, r->alignMask);
        EXPECT_EQ(0u, r->maxTransfer);
    }
    EXPECT_EQ(0, fake.closes[fake.HandleFor('d')]);
    EXPECT_EQ(0, fake.closes[fake.HandleFor('e')]);
    EXPECT_EQ(1, fake.closes[fake.HandleFor('c')]) << "the disk's letter keeps nothing open";
    EXPECT_EQ(1, fake.closes[fake.HandleFor('g')]) << "a second name of a listed drive";
    EXPECT_EQ(INVALID_HANDLE_VALUE, t.state.currentHandle) << "y was opened last and closed";

    // A whole upgrade of each drive: the classification, the data blocks, the checksum
    // block and mode 7 all go through the drive's own letter.
    std::vector<std::vector<uint8_t>> cdbs;
    fake.SetHandler(IOCTL_SCSI_PASS_THROUGH_DIRECT, [&](const IoCall&, void* out, DWORD) -> BOOL {
        PassThroughBlock* b = static_cast<PassThroughBlock*>(out);
        cdbs.emplace_back(b->sptd.Cdb, b->sptd.Cdb + b->sptd.CdbLength);
        b->sptd.ScsiStatus = 0;
        return TRUE;
    });
    fake.calls.clear();
    ClassifyDrives(t.table);
    EXPECT_EQ((std::vector<HANDLE>{d.handle, e.handle}),
              HandlesOf(fake, IOCTL_SCSI_PASS_THROUGH_DIRECT));

    for (const DriveRecord* r : {&d, &e}) {
        fake.calls.clear();
        cdbs.clear();
        const std::vector<std::string> log =
            WholeUpgrade(*r, r->product + std::string(3 * 4096 - 16, '\x5A'));
        ASSERT_FALSE(log.empty());
        EXPECT_EQ("Please Restart Your Computer.", log.back()) << r->displayName;
        const std::vector<HANDLE> sent = HandlesOf(fake, IOCTL_SCSI_PASS_THROUGH_DIRECT);
        EXPECT_EQ(fake.calls.size(), sent.size()) << "nothing but pass-through requests";
        EXPECT_EQ(std::vector<HANDLE>(sent.size(), r->handle), sent) << r->displayName;
        int mode6 = 0, mode7 = 0;
        for (const auto& cdb : cdbs) {
            if (cdb.size() > 1 && cdb[0] == 0x3B && (cdb[1] & 0x1F) == 6) ++mode6;
            if (cdb.size() > 1 && cdb[0] == 0x3B && (cdb[1] & 0x1F) == 7) ++mode7;
        }
        EXPECT_EQ(4, mode6) << "three data blocks and the checksum block";
        EXPECT_EQ(1, mode7);
    }

    // At the end every handle still open is closed exactly once.
    ReleaseTransport(t.state, t.table);
    for (HANDLE h : fake.handles) EXPECT_EQ(1, fake.closes[h]) << "letter " << fake.LetterOf(h);
    ReleaseTransport(t.state, t.table);
    for (HANDLE h : fake.handles) EXPECT_EQ(1, fake.closes[h]) << "a second release closes nothing";
}

TEST(DiscoverNt4, MalformedRepliesStayInsideTheBufferAndEnd) {
    struct Case {
        const char* what;
        void (*build)(BusInfo&);
        int expected;
        const char* firstName = nullptr;
        std::vector<DWORD> asked = {2048};  // the buffer sizes of the inquiry data calls
    } cases[] = {
        {"chain points back to itself",
         [](BusInfo& b) {
             b.SetBusOffset(0, 64);
             b.Entry(64, 0, 0, 64, Inquiry(5, "LOOP", "ONE", "1"));
         },
         1},
        {"two entries point at each other",
         [](BusInfo& b) {
             b.SetBusOffset(0, 64);
             b.Entry(64, 0, 1, 128, Inquiry(5, "LOOP", "A", "1"));
             b.Entry(128, 0, 0, 64, Inquiry(5, "LOOP", "B", "1"));
         },
         1, "LOOP    B               "},
        {"the letter's address twice: the first entry is believed",
         [](BusInfo& b) {
             b.SetBusOffset(0, 64);
             b.Entry(64, 0, 0, 128, Inquiry(0, "DISK", "FIRST", "1"));
             b.Entry(128, 0, 0, 0, Inquiry(5, "DVD", "SECOND", "1"));
         },
         0},
        {"second bus starts at an entry the first bus listed",
         [](BusInfo& b) {
             b.Bytes()[0] = 2;
             b.SetBusOffset(0, 64);
             b.SetBusOffset(1, 64);
             b.Entry(64, 0, 0, 0, Inquiry(5, "ONCE", "ONLY", "1"));
         },
         1},
        {"offset past the buffer",
         [](BusInfo& b) {
             b.SetBusOffset(0, 64);
             b.Entry(64, 0, 0, 5000, Inquiry(5, "FIRST", "OK", "1"));
         },
         1},
        {"entry header runs off the end", [](BusInfo& b) { b.SetBusOffset(0, 2040); }, 0},
        {"inquiry data runs off the end",
         [](BusInfo& b) {
             b.SetBusOffset(0, 2048 - 12 - 10);
             b.Entry(2048 - 12 - 10, 0, 0, 0, Inquiry(5, "SHORTVND", "CUT OFF", "1.00"));
         },
         1},
        {"inquiry length 0: the names are read at their places all the same",
         [](BusInfo& b) {
             b.SetBusOffset(0, 64);
             b.Entry(64, 0, 0, 0, Inquiry(5, "ZERO", "LENGTH", "1"), 0);
         },
         1, "ZERO    LENGTH          "},
        {"255 buses of garbage",
         [](BusInfo& b) {
             b.Bytes()[0] = 255;
             for (unsigned i = 0; i < 255; ++i) b.SetBusOffset(i, 0xFFFFFFF0u - i);
         },
         0},
        {"a reply larger than 2 KiB: asked again with twice the buffer until it fits",
         [](BusInfo& b) {
             b.Bytes().resize(5000);
             b.SetBusOffset(0, 64);
             b.Entry(64, 0, 1, 4900, Inquiry(0, "DISK", "OTHER ADDRESS", "1"));
             b.Entry(4900, 0, 0, 0, Inquiry(5, "FAR", "AWAY", "1"));
         },
         1,
         "FAR     AWAY            ",
         {2048, 4096, 8192}},
        {"a reply larger than 64 KiB: no drive",
         [](BusInfo& b) {
             b.Bytes().resize(64 * 1024 + 1);
             b.SetBusOffset(0, 64);
             b.Entry(64, 0, 0, 0, Inquiry(5, "TOO", "MUCH", "1"));
         },
         0,
         nullptr,
         {2048, 4096, 8192, 16384, 32768, 65536}},
    };
    for (const Case& c : cases) {
        FakeDevice fake;
        fake.AddLetter('d');
        BusInfo info(1);
        c.build(info);
        std::map<char, std::vector<uint8_t>> replies{{'d', info.Bytes()}};
        fake.SetHandler(IOCTL_SCSI_GET_INQUIRY_DATA, InquiryData(fake, replies));
        fake.SetHandler(IOCTL_SCSI_GET_ADDRESS, LetterAddresses(fake, {{'d', {0, 0, 0, 0}}}));
        Table t;
        t.Discover(true);
        EXPECT_EQ(c.expected, t.table.driveCount) << c.what;
        if (c.firstName && t.table.driveCount > 0) {
            EXPECT_STREQ(c.firstName, t.table.records[0]->displayName) << c.what;
        }
        std::vector<DWORD> asked;
        for (const IoCall& call : fake.calls) {
            if (call.code == IOCTL_SCSI_GET_INQUIRY_DATA) asked.push_back(call.outSize);
        }
        EXPECT_EQ(c.asked, asked) << c.what;
    }
}

// What lies past the buffer did not come back: blanks, as a short reply's missing bytes.
TEST(DiscoverNt4, NameCutByTheBufferEndEndsInBlanks) {
    FakeDevice fake;
    fake.AddLetter('d');
    BusInfo info(1);
    const uint32_t at = 2048 - 12 - 14;  // 14 bytes of inquiry data fit: vendor ends at 13
    info.SetBusOffset(0, at);
    info.Entry(at, 0, 0, 0, Inquiry(5, "SHORTVND", "CUT OFF", "1.00"));
    std::map<char, std::vector<uint8_t>> replies{{'d', info.Bytes()}};
    fake.SetHandler(IOCTL_SCSI_GET_INQUIRY_DATA, InquiryData(fake, replies));
    fake.SetHandler(IOCTL_SCSI_GET_ADDRESS, LetterAddresses(fake, {{'d', {0, 0, 0, 0}}}));
    Table t;
    t.Discover(true);
    ASSERT_EQ(1, t.table.driveCount);
    EXPECT_EQ(std::string("SHORTV") + std::string(18, ' '), t.table.records[0]->displayName);
    EXPECT_STREQ("    ", t.table.records[0]->revision);
    EXPECT_EQ(std::string(16, ' '), t.table.records[0]->product);
}

TEST(DiscoverNt4, MoreThanEightDevicesFillTheTableAndNoMore) {
    FakeDevice fake;
    AllLetters(fake);
    BusInfo info(1);
    info.SetBusOffset(0, 100);
    std::map<char, std::vector<uint8_t>> replies;
    std::map<char, Address> addresses;
    for (int i = 0; i < 12; ++i) {
        info.Entry(100 + 60 * i, 0, uint8_t(i), i == 11 ? 0 : 100 + 60 * (i + 1),
                   Inquiry(5, "MANY", "DRIVE " + std::to_string(i), "1.00"));
        addresses['d' + i] = Address{0, 0, uint8_t(i), 0};
    }
    for (const auto& a : addresses) replies[a.first] = info.Bytes();
    fake.SetHandler(IOCTL_SCSI_GET_INQUIRY_DATA, InquiryData(fake, replies));
    fake.SetHandler(IOCTL_SCSI_GET_ADDRESS, LetterAddresses(fake, addresses));
    Table t;
    t.Discover(true);
    EXPECT_EQ(8, t.table.driveCount);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(i, t.table.records[i]->target);
        EXPECT_EQ(fake.HandleFor(char('d' + i)), t.table.records[i]->handle);
    }
    // Letters whose drives came after the table was full keep no handle open.
    EXPECT_EQ(0, fake.closes[fake.HandleFor('k')]);
    EXPECT_EQ(1, fake.closes[fake.HandleFor('l')]);
    EXPECT_EQ(1, fake.closes[fake.HandleFor('o')]);
}

// --- NT 5 and later -----------------------------------------------------------------

FakeDevice::Handler InquiryPassThrough(FakeDevice& fake, std::map<char, std::vector<uint8_t>>& replies,
                                       std::vector<PassThroughBlock>& blocks, std::vector<std::vector<uint8_t>>& before) {
    return [&](const IoCall& call, void* out, DWORD) -> BOOL {
        PassThroughBlock* b = static_cast<PassThroughBlock*>(out);
        blocks.push_back(*b);
        uint8_t* data = static_cast<uint8_t*>(b->sptd.DataBuffer);
        before.emplace_back(data, data + b->sptd.DataTransferLength);
        auto it = replies.find(fake.LetterOf(call.handle));
        if (it == replies.end()) return FALSE;
        std::memcpy(data, it->second.data(), it->second.size());
        b->sptd.ScsiStatus = 0;
        return TRUE;
    };
}

TEST(DiscoverNt5, InquiresEveryLetterThroughZ) {
    FakeDevice fake;
    AllLetters(fake);
    std::map<char, std::vector<uint8_t>> replies{
        {'d', Inquiry(0x05, "VENDOR D", "DVD DRIVE", "D1.0")},
        {'f', Inquiry(0x25, "VENDOR F", "OFFLINE", "F1.0")},
        {'g', Inquiry(0x00, "VENDOR G", "DISK", "G1.0")},
        {'z', Inquiry(0x05, "VENDOR Z", "LAST LETTER", "Z1.0")},
    };
    std::vector<PassThroughBlock> blocks;
    std::vector<std::vector<uint8_t>> before;
    fake.SetHandler(IOCTL_SCSI_PASS_THROUGH_DIRECT, InquiryPassThrough(fake, replies, blocks, before));
    Table t;
    t.Discover(false);

    ASSERT_EQ(2, t.table.driveCount);
    EXPECT_STREQ("VENDOR DDVD DRIVE       ", t.table.records[0]->displayName);
    EXPECT_STREQ("D1.0", t.table.records[0]->revision);
    EXPECT_STREQ("VENDOR ZLAST LETTER     ", t.table.records[1]->displayName);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(0, t.table.records[i]->adapter);
        EXPECT_EQ(0, t.table.records[i]->target);
        EXPECT_EQ(0x7FFu, t.table.records[i]->alignMask);
        EXPECT_EQ(0u, t.table.records[i]->maxTransfer);
    }
    EXPECT_EQ(fake.HandleFor('d'), t.table.records[0]->handle);
    EXPECT_EQ(fake.HandleFor('z'), t.table.records[1]->handle);
    EXPECT_EQ('d', t.table.records[0]->letter);
    EXPECT_EQ('z', t.table.records[1]->letter);
    EXPECT_EQ(fake.HandleFor('z'), t.state.currentHandle);
    ASSERT_EQ(24u, fake.opened.size());

    ASSERT_EQ(24u, blocks.size());
    const SCSI_PASS_THROUGH_DIRECT& s = blocks[0].sptd;
    EXPECT_EQ(sizeof(SCSI_PASS_THROUGH_DIRECT), s.Length);
    EXPECT_EQ(0, s.PathId);
    EXPECT_EQ(0, s.TargetId);
    EXPECT_EQ(0, s.Lun);
    EXPECT_EQ(6, s.CdbLength);
    EXPECT_EQ(SCSI_IOCTL_DATA_IN, s.DataIn);
    EXPECT_EQ(24, s.SenseInfoLength);
    EXPECT_EQ(offsetof(PassThroughBlock, sense), s.SenseInfoOffset);
    EXPECT_EQ(2048u, s.DataTransferLength);
    EXPECT_EQ(2u, s.TimeOutValue);
    const uint8_t cdb[16] = {0x12, 0, 0, 0, 0x7F, 0};
    EXPECT_EQ(0, std::memcmp(s.Cdb, cdb, 16));
    EXPECT_EQ(std::vector<uint8_t>(2048, 0xFF), before[0]) << "the reply buffer starts as 0xFF";
    for (const IoCall& call : fake.calls) {
        EXPECT_EQ(sizeof(PassThroughBlock), call.inSize);
        EXPECT_EQ(sizeof(PassThroughBlock), call.outSize);
    }
    // Only d and z keep their handles.
    for (HANDLE h : fake.handles) {
        const char l = fake.LetterOf(h);
        EXPECT_EQ(l == 'd' || l == 'z' ? 0 : 1, fake.closes[h]) << "letter " << l;
    }
}

// --- Classification -----------------------------------------------------------------

TEST(ClassifyDrives, CapabilityPairs) {
    struct Case {
        uint8_t readCaps, writeCaps;
        uint32_t startClass, expected;
    } cases[] = {
        {0x1F, 0x17, 0, 2}, {0x07, 0x07, 2, 0}, {0x3F, 0x37, 0, 0}, {0x3F, 0x37, 2, 2},
        {0x1F, 0x07, 0, 0}, {0x17, 0x1F, 2, 2}, {0x00, 0x00, 2, 2},
    };
    for (const Case& c : cases) {
        FakeDevice fake;
        fake.AddLetter('d');
        std::vector<PassThroughBlock> blocks;
        fake.SetHandler(IOCTL_SCSI_PASS_THROUGH_DIRECT, [&](const IoCall&, void* out, DWORD) -> BOOL {
            PassThroughBlock* b = static_cast<PassThroughBlock*>(out);
            blocks.push_back(*b);
            uint8_t* data = static_cast<uint8_t*>(b->sptd.DataBuffer);
            data[8] = 0x2A;
            data[9] = 0x18;
            data[10] = c.readCaps;
            data[11] = c.writeCaps;
            b->sptd.ScsiStatus = 2;  // the status is not looked at
            return TRUE;
        });
        DriveRecord record{};
        record.handle = Device().createFile("\\\\.\\d:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        record.driveClass = c.startClass;
        DriveTable table{};
        table.records[0] = &record;
        table.driveCount = 1;
        ClassifyDrives(table);
        EXPECT_EQ(c.expected, record.driveClass) << std::hex << int(c.readCaps) << "/" << int(c.writeCaps);
        ASSERT_EQ(1u, blocks.size());
        const SCSI_PASS_THROUGH_DIRECT& s = blocks[0].sptd;
        EXPECT_EQ(12, s.CdbLength);
        EXPECT_EQ(SCSI_IOCTL_DATA_IN, s.DataIn);
        EXPECT_EQ(64u, s.DataTransferLength);
        EXPECT_EQ(2u, s.TimeOutValue);
        EXPECT_EQ(24, s.SenseInfoLength);
        const uint8_t cdb[12] = {0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0, 0x28, 0, 0, 0};
        EXPECT_EQ(0, std::memcmp(s.Cdb, cdb, 12));
    }
}

TEST(ClassifyDrives, RecordsWithoutAWorkingHandleStayAsTheyAre) {
    FakeDevice fake;
    fake.AddLetter('d');
    fake.SetHandler(IOCTL_SCSI_PASS_THROUGH_DIRECT, [](const IoCall&, void*, DWORD) -> BOOL { return FALSE; });
    DriveRecord aspi{};  // ASPI records hold no handle
    aspi.driveClass = 0;
    DriveRecord failing{};
    failing.handle = Device().createFile("\\\\.\\d:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    failing.driveClass = 2;
    DriveTable table{};
    table.records[0] = &aspi;
    table.records[1] = &failing;
    table.driveCount = 2;
    ClassifyDrives(table);
    EXPECT_EQ(0u, aspi.driveClass);
    EXPECT_EQ(2u, failing.driveClass);
    EXPECT_EQ(2u, fake.calls.size());
}

// --- The drive held during a run ------------------------------------------------------

uint32_t AspiDone(void* srb) {
    static_cast<SRB_ExecSCSICmd*>(srb)->SRB_Status = SS_COMP;
    return SS_COMP;
}

// A run held on Windows 2000 and later opens the drive's letter a second time, quiets it
// on that handle before the first WRITE BUFFER and closes it after the run's last
// command, whatever the verdict, save when mode 7 got no answer: the drive may still be
// programming, and the handle stays open until the program ends. A control the driver
// refuses changes nothing else. A run refused before the download, and every run on NT 4
// or ASPI, holds nothing.
TEST(DriveHold, QuietsTheDriveFromTheFirstWriteBufferToTheEndOfTheRun) {
    struct Case {
        const char* what;
        uint8_t usePassThrough, nt4;
        char fill;          // the image's bytes: 0xFF is an erased image, refused
        DWORD refused;      // a hold request the driver does not know (~0: both), or 0
        bool saveFails;     // the mode 7 control call fails
        const char* steps;  // what the device table saw, commands folded into "cmd+"
    };
    const Case cases[] = {
        {"NT 5", 1, 0, 0x5A, 0, false, "open mcn eject power cmd+ close"},
        {"NT 5, mode 7 fails", 1, 0, 0x5A, 0, true, "open mcn eject power cmd+"},
        {"NT 5, no media-change control", 1, 0, 0x5A, IOCTL_STORAGE_MCN_CONTROL, false,
         "open mcn eject power cmd+ close"},
        {"NT 5, neither control", 1, 0, 0x5A, ~0u, false, "open mcn eject close cmd+"},
        {"NT 5, erased image", 1, 0, char(0xFF), 0, false, ""},
        {"NT 4", 1, 1, 0x5A, 0, false, "cmd+"},
        {"ASPI", 0, 0, 0x5A, 0, false, ""},
    };
    std::vector<std::string> goodLog;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDevice fake;
        fake.AddLetter('d');
        DriveRecord drive{};
        drive.letter = 'd';
        drive.alignMask = 0x7FF;
        if (c.usePassThrough)
            drive.handle = Device().createFile("\\\\.\\d:", 0, 0, nullptr, 0, 0, nullptr);
        fake.SetHandler(
            IOCTL_SCSI_PASS_THROUGH_DIRECT, [&c](const IoCall&, void* out, DWORD) -> BOOL {
                return !(c.saveFails && static_cast<PassThroughBlock*>(out)->sptd.Cdb[1] == 7);
            });
        for (DWORD code :
             {DWORD(IOCTL_STORAGE_MCN_CONTROL), DWORD(IOCTL_STORAGE_EJECTION_CONTROL)}) {
            fake.SetHandler(code, [&c, code](const IoCall& call, void*, DWORD) -> BOOL {
                EXPECT_EQ(std::vector<uint8_t>{1}, call.inBytes) << "PreventMediaRemoval TRUE";
                return c.refused != code && c.refused != ~0u;
            });
        }
        ASPI_CALL_SendCommand* const savedAspi = aspiSendCommand;
        aspiSendCommand = &AspiDone;
        fake.steps.clear();
        TransportState state;
        state.UsePassThrough = c.usePassThrough;
        state.isNT4OrOlder = c.nt4;
        const std::vector<std::string> log = WholeUpgrade(drive, std::string(2 * 4096, c.fill),
                                                          DriveHoldFor(state), c.usePassThrough);
        aspiSendCommand = savedAspi;

        std::string seen, last;
        for (const FakeDevice::Step& step : fake.steps) {
            const std::string name = step.kind == 'o'                              ? "open"
                                     : step.kind == 'c'                            ? "close"
                                     : step.what == IOCTL_STORAGE_MCN_CONTROL      ? "mcn"
                                     : step.what == IOCTL_STORAGE_EJECTION_CONTROL ? "eject"
                                     : step.what == kQueryStorageProperty          ? "power"
                                                                                   : "cmd";
            // Commands go through the drive's own handle, the hold through the other one.
            EXPECT_EQ(name == "cmd", step.handle == drive.handle) << name;
            EXPECT_TRUE(name == "cmd" || step.handle == fake.steps[0].handle) << name;
            EXPECT_TRUE(name != "open" || step.what == FILE_READ_ATTRIBUTES) << step.what;
            if (name != "cmd" || last != "cmd") seen += (seen.empty() ? "" : " ") + name;
            if (name == "cmd" && last != "cmd") seen += "+";
            last = name;
        }
        EXPECT_EQ(c.steps, seen);
        if (!seen.empty() && seen[0] == 'o') {
            EXPECT_EQ(DWORD(FILE_SHARE_READ | FILE_SHARE_WRITE), fake.lastShare);
            EXPECT_EQ("\\\\.\\d:", fake.opened.back());
        }
        ASSERT_FALSE(log.empty());
        if (c.fill == 0x5A && !c.saveFails) {
            // Held or not, the run is the same run.
            if (goodLog.empty()) goodLog = log;
            EXPECT_EQ(goodLog, log);
            EXPECT_EQ("Please Restart Your Computer.", log.back());
        } else {
            EXPECT_EQ("Flashing is incorrect!!", log.back());
        }
    }
}

}  // namespace
}  // namespace telvio::test
