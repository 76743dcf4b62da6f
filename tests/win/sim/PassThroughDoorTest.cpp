// The pass-through door: drive letters opened as a program opens them, DeviceIoControl
// through Wine's own implementation, the SG_IO library behind it. What reaches the drive
// is read back from the record file named in the scenario.
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "sim/RecordFile.h"
#include "sim/Scenario.h"
#include "sim/SimFile.h"

namespace {

// The block as a program builds it from the platform's own structure.
struct PassThroughBlock {
    SCSI_PASS_THROUGH_DIRECT spt;
    ULONG filler;
    UCHAR sense[32];
};

class PassThroughDoor : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        sim::ScenarioError error;
        ASSERT_TRUE(sim::LoadScenario(sim::GetEnv("TELVIO_SIM_SCENARIO"), scenario_, error))
            << error.Describe();
        ASSERT_FALSE(scenario_.recordPath.empty());
    }

    void TearDown() override {
        for (HANDLE h : open_) CloseHandle(h);
    }

    HANDLE Open(char letter) {
        char path[] = "\\\\.\\?:";
        path[4] = letter;
        HANDLE h =
            CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) open_.push_back(h);
        return h;
    }

    static std::vector<sim::RecordEntry> Records() {
        std::vector<sim::RecordEntry> entries;
        sim::ReadRecordFile(scenario_.recordPath, entries);
        return entries;
    }

    static void Fill(PassThroughBlock& b, const std::vector<uint8_t>& cdb, UCHAR dataIn, void* data,
                     ULONG length, ULONG timeout) {
        std::memset(&b, 0, sizeof b);
        b.spt.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
        b.spt.CdbLength = UCHAR(cdb.size());
        b.spt.SenseInfoLength = 24;
        b.spt.SenseInfoOffset = offsetof(PassThroughBlock, sense);
        b.spt.DataIn = dataIn;
        b.spt.DataTransferLength = length;
        b.spt.TimeOutValue = timeout;
        b.spt.DataBuffer = data;
        std::memcpy(b.spt.Cdb, cdb.data(), cdb.size());
    }

    static BOOL Send(HANDLE h, PassThroughBlock& b, DWORD* error = nullptr) {
        DWORD returned = 0;
        SetLastError(0xDEADBEEF);
        BOOL ok =
            DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &b, sizeof(SCSI_PASS_THROUGH_DIRECT),
                            &b, sizeof b, &returned, nullptr);
        if (error != nullptr) *error = GetLastError();
        return ok;
    }

    static sim::Scenario scenario_;
    std::vector<HANDLE> open_;
};

sim::Scenario PassThroughDoor::scenario_;

const std::vector<uint8_t> kInquiry = {0x12, 0, 0, 0, 0x7F, 0, 0, 0, 0, 0, 0, 0};

TEST_F(PassThroughDoor, BlockIsThePlatformsOwn) {
    // x86-64: 56 bytes, the sense area after the 4-byte filler.
    EXPECT_EQ(sizeof(SCSI_PASS_THROUGH_DIRECT), 56u);
    EXPECT_EQ(offsetof(PassThroughBlock, sense), 60u);
}

TEST_F(PassThroughDoor, InquiryReachesTheDriveAsSent) {
    HANDLE d = Open('d');
    ASSERT_NE(d, INVALID_HANDLE_VALUE) << GetLastError();
    std::vector<uint8_t> reply(2048, 0xFF);
    PassThroughBlock b;
    Fill(b, kInquiry, SCSI_IOCTL_DATA_IN, reply.data(), 2048, 2);
    const size_t before = Records().size();
    ASSERT_TRUE(Send(d, b)) << GetLastError();
    EXPECT_EQ(b.spt.ScsiStatus, 0);
    EXPECT_EQ(b.spt.DataTransferLength, 36u);  // Wine takes off what the drive did not send
    EXPECT_EQ(b.spt.SenseInfoLength, 0);
    EXPECT_EQ(reply[0], 0x05);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&reply[8]), 28), "ABCDEFGHSAMPLE DRIVE 0011.00");
    EXPECT_EQ(reply[36], 0xFF);

    auto records = Records();
    ASSERT_EQ(records.size(), before + 1);
    const sim::CommandRecord& c = records.back().command;
    EXPECT_EQ(records.back().door, "sgio");
    EXPECT_EQ(records.back().drive, "main");
    EXPECT_EQ(c.cdbLength, 12);
    EXPECT_EQ(0, std::memcmp(c.cdb.data(), kInquiry.data(), 12));
    EXPECT_EQ(c.dir, sim::Dir::In);
    EXPECT_EQ(c.length, 2048u);
    EXPECT_EQ(c.timeoutSeconds, 2u);
    EXPECT_EQ(c.adapter, 2);  // the letter's path id and target id
    EXPECT_EQ(c.target, 1);
}

TEST_F(PassThroughDoor, DataOutArrivesWholeAndTheLongTimeOutSurvives) {
    HANDLE d = Open('d');
    std::vector<uint8_t> block(4096);
    for (size_t i = 0; i < block.size(); ++i) block[i] = uint8_t(i * 13 + 1);
    const std::vector<uint8_t> cdb = {0x3B, 6, 0, 0, 0x10, 0x20, 0, 0x10, 0, 0, 0, 0};
    PassThroughBlock b;
    Fill(b, cdb, SCSI_IOCTL_DATA_OUT, block.data(), 4096, 0xFFFF);
    ASSERT_TRUE(Send(d, b)) << GetLastError();
    EXPECT_EQ(b.spt.ScsiStatus, 0);
    const sim::CommandRecord c = Records().back().command;
    EXPECT_EQ(c.dir, sim::Dir::Out);
    EXPECT_EQ(c.length, 4096u);
    EXPECT_EQ(c.dataDigest, sim::Fnv1a(block.data(), block.size()));
    EXPECT_EQ(c.timeoutSeconds, 0xFFFFu);
}

TEST_F(PassThroughDoor, CheckConditionPutsSenseAtTheOffset) {
    HANDLE e = Open('e');
    std::vector<uint8_t> reply(64, 0xAA);
    const std::vector<uint8_t> cdb = {0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0, 0x28, 0, 0, 0};
    PassThroughBlock b;
    Fill(b, cdb, SCSI_IOCTL_DATA_IN, reply.data(), 64, 2);
    std::memset(b.sense, 0xEE, sizeof b.sense);
    ASSERT_TRUE(Send(e, b)) << GetLastError();  // the call works; the command did not
    EXPECT_EQ(b.spt.ScsiStatus, 2);
    EXPECT_EQ(b.spt.SenseInfoLength, 18);
    EXPECT_EQ(b.sense[0], 0x70);
    EXPECT_EQ(b.sense[2], 0x02);
    EXPECT_EQ(b.sense[12], 0x04);
    EXPECT_EQ(b.sense[13], 0x07);
    EXPECT_EQ(b.sense[18], 0xEE);
    EXPECT_EQ(reply[0], 0xAA);
}

TEST_F(PassThroughDoor, TransportFaultFailsTheCall) {
    HANDLE e = Open('e');
    std::vector<uint8_t> block(32, 1);
    const std::vector<uint8_t> cdb = {0x3B, 6, 0, 0, 0, 0, 0, 0, 0x20, 0, 0, 0};
    PassThroughBlock b;
    Fill(b, cdb, SCSI_IOCTL_DATA_OUT, block.data(), 32, 0xFFFF);
    DWORD error = 0;
    EXPECT_FALSE(Send(e, b, &error));
    EXPECT_NE(error, 0xDEADBEEFu);
    EXPECT_NE(error, 0u);
    std::printf("transport fault: DeviceIoControl error %lu\n", error);
    EXPECT_TRUE(Records().back().command.transportFailed);
    // Once only: the next one goes through.
    EXPECT_TRUE(Send(e, b));
}

TEST_F(PassThroughDoor, WineChecksTheBlockAsWindowsDoes) {
    HANDLE d = Open('d');
    std::vector<uint8_t> reply(36);
    struct Case {
        const char* what;
        USHORT length;
        UCHAR cdbLength;
        UCHAR dataIn;
        DWORD error;
    };
    const Case cases[] = {
        {"32-bit length", 44, 12, SCSI_IOCTL_DATA_IN, ERROR_INSUFFICIENT_BUFFER},
        {"cdb of 17", sizeof(SCSI_PASS_THROUGH_DIRECT), 17, SCSI_IOCTL_DATA_IN,
         ERROR_INVALID_PARAMETER},
        {"direction 3", sizeof(SCSI_PASS_THROUGH_DIRECT), 12, 3, ERROR_INVALID_PARAMETER},
    };
    const size_t before = Records().size();
    for (const Case& c : cases) {
        PassThroughBlock b;
        Fill(b, kInquiry, c.dataIn, reply.data(), 36, 2);
        b.spt.Length = c.length;
        b.spt.CdbLength = c.cdbLength;
        DWORD error = 0;
        EXPECT_FALSE(Send(d, b, &error)) << c.what;
        EXPECT_EQ(error, c.error) << c.what;
    }
    EXPECT_EQ(Records().size(), before);
}

TEST_F(PassThroughDoor, InquiryDataListsTheLettersDrive) {
    HANDLE d = Open('d');
    std::vector<uint8_t> out(2048, 0xCC);
    DWORD returned = 0;
    const size_t before = Records().size();
    ASSERT_TRUE(DeviceIoControl(d, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, out.data(), 2048,
                                &returned, nullptr))
        << GetLastError();
    auto* info = reinterpret_cast<SCSI_ADAPTER_BUS_INFO*>(out.data());
    EXPECT_EQ(info->NumberOfBuses, 1);
    EXPECT_EQ(info->BusData[0].NumberOfLogicalUnits, 1);
    ASSERT_EQ(info->BusData[0].InquiryDataOffset, sizeof(SCSI_ADAPTER_BUS_INFO));
    auto* entry =
        reinterpret_cast<SCSI_INQUIRY_DATA*>(out.data() + info->BusData[0].InquiryDataOffset);
    EXPECT_EQ(entry->PathId, 2);
    EXPECT_EQ(entry->TargetId, 1);
    EXPECT_EQ(entry->Lun, 0);
    EXPECT_EQ(entry->InquiryDataLength, 36u);
    EXPECT_EQ(entry->NextInquiryDataOffset, 0u);
    EXPECT_EQ(entry->InquiryData[0], 0x05);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&entry->InquiryData[8]), 8), "ABCDEFGH");
    std::printf("IOCTL_SCSI_GET_INQUIRY_DATA: %lu bytes returned, bus id %u\n", returned,
                info->BusData[0].InitiatorBusId);

    auto records = Records();
    ASSERT_EQ(records.size(), before + 1);  // Wine's own 6-byte INQUIRY
    const sim::CommandRecord& c = records.back().command;
    EXPECT_EQ(c.cdbLength, 6);
    EXPECT_EQ(c.cdb[4], 36);
    EXPECT_EQ(c.length, 36u);
    EXPECT_EQ(c.timeoutSeconds, 1u);
}

// Wine does not look at the result of its own INQUIRY: the call succeeds and the entry
// holds whatever the caller's buffer held.
TEST_F(PassThroughDoor, InquiryDataSucceedsEvenWhenTheInquiryFails) {
    HANDLE m = Open('m');
    std::vector<uint8_t> out(2048, 0xCC);
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(m, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, out.data(), 2048,
                                &returned, nullptr))
        << GetLastError();
    auto* info = reinterpret_cast<SCSI_ADAPTER_BUS_INFO*>(out.data());
    auto* entry =
        reinterpret_cast<SCSI_INQUIRY_DATA*>(out.data() + info->BusData[0].InquiryDataOffset);
    EXPECT_EQ(entry->PathId, 3);
    EXPECT_EQ(entry->InquiryData[0], 0xCC);
    EXPECT_TRUE(Records().back().command.transportFailed);
}

TEST_F(PassThroughDoor, CapabilitiesAreWinesFixedValues) {
    for (char letter : {'d', 'g'}) {
        HANDLE h = Open(letter);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        IO_SCSI_CAPABILITIES caps;
        std::memset(&caps, 0xCC, sizeof caps);
        DWORD returned = 0;
        const size_t before = Records().size();
        ASSERT_TRUE(DeviceIoControl(h, IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0, &caps, sizeof caps,
                                    &returned, nullptr))
            << letter << " " << GetLastError();
        SYSTEM_INFO si;
        GetSystemInfo(&si);
        // The page size itself, not the page size - 1 a mask would be.
        EXPECT_EQ(caps.AlignmentMask, si.dwPageSize) << letter;
        EXPECT_EQ(caps.MaximumTransferLength, 32768u) << letter;
        EXPECT_EQ(Records().size(), before) << letter;  // the drive is not asked
    }
}

TEST_F(PassThroughDoor, LetterWithoutDriveIsAPlainFile) {
    HANDLE g = Open('g');
    ASSERT_NE(g, INVALID_HANDLE_VALUE) << GetLastError();
    std::vector<uint8_t> reply(36);
    PassThroughBlock b;
    Fill(b, kInquiry, SCSI_IOCTL_DATA_IN, reply.data(), 36, 2);
    DWORD error = 0;
    EXPECT_FALSE(Send(g, b, &error));
    std::vector<uint8_t> out(2048);
    DWORD returned = 0;
    EXPECT_FALSE(DeviceIoControl(g, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, out.data(), 2048,
                                 &returned, nullptr));
}

// Wine keeps at most five devices per process; the letters share one identity, so a
// discovery over every letter still reaches all the drives.
TEST_F(PassThroughDoor, EveryLetterWithADriveAnswersInOneProcess) {
    int answered = 0;
    for (char letter = 'c'; letter <= 'z'; ++letter) {
        HANDLE h = Open(letter);
        if (h == INVALID_HANDLE_VALUE) continue;
        std::vector<uint8_t> reply(2048, 0xFF);
        PassThroughBlock b;
        Fill(b, kInquiry, SCSI_IOCTL_DATA_IN, reply.data(), 2048, 2);
        // m's drive fails every INQUIRY call.
        const bool drive = scenario_.Letter(letter) != nullptr && letter != 'm';
        EXPECT_EQ(Send(h, b) != FALSE, drive) << letter;
        if (drive && reply[0] == 0x05) ++answered;
    }
    EXPECT_EQ(answered, int(scenario_.letters.size()) - 1);
    EXPECT_GT(answered, 5);
}

TEST_F(PassThroughDoor, VersionIsTheOneAskedFor) {
    const std::string winver = sim::GetEnv("TELVIO_WINVER");
    OSVERSIONINFOA v;
    std::memset(&v, 0, sizeof v);
    v.dwOSVersionInfoSize = sizeof v;
    ASSERT_TRUE(GetVersionExA(&v));
    std::printf("TELVIO_WINVER=%s: platform %lu, version %lu.%lu\n", winver.c_str(), v.dwPlatformId,
                v.dwMajorVersion, v.dwMinorVersion);
    EXPECT_EQ(v.dwPlatformId, DWORD(VER_PLATFORM_WIN32_NT));
    if (winver == "nt40") {
        EXPECT_EQ(v.dwMajorVersion, 4u);
    }
    if (winver == "winxp") {
        EXPECT_EQ(v.dwMajorVersion, 5u);
    }
}

}  // namespace
