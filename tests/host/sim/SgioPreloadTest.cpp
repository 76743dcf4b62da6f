// The SG_IO library, loaded here with dlopen and called through its own wrappers, on a
// prefix laid out by prefix-setup.sh: what Wine's ntdll will see.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/cdrom.h>
#include <scsi/scsi.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "sim/RecordFile.h"
#include "sim/SimFile.h"

namespace {

using FstatFn = int (*)(int, struct stat*);
using IoctlFn = int (*)(int, unsigned long, ...);
using CloseFn = int (*)(int);

class SgioPreload : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/telvio-sgio-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        const std::string prefix = dir_ + "/prefix";
        ASSERT_EQ(mkdir(prefix.c_str(), 0755), 0);
        ASSERT_EQ(mkdir((prefix + "/dosdevices").c_str(), 0755), 0);
        ASSERT_EQ(symlink("/", (prefix + "/dosdevices/z:").c_str()), 0);
        const std::string setup = std::string("bash ") + TELVIO_SOURCE_DIR +
                                  "/sim/prefix-setup.sh " + prefix + " " + dir_ + "/dev";
        ASSERT_EQ(std::system(setup.c_str()), 0);
        record_ = dir_ + "/record.txt";
        const std::string scenario = dir_ + "/scenario.txt";
        ASSERT_TRUE(sim::ReplaceWholeFile(
            scenario, "record " + record_ +
                          "\n"
                          "drive main vendor=SIMVEND product=\"SG DRIVE\" revision=0.9\n"
                          "drive flaky\n"
                          "fault flaky opcode=0x12 count=1 transport\n"
                          "fault flaky opcode=0x5A count=1 sense=02/04/07\n"
                          "letter d drive=main path=2 target=1 lun=0\n"
                          "letter x drive=flaky path=0 target=3 lun=1\n"));
        setenv("WINEPREFIX", prefix.c_str(), 1);
        setenv("TELVIO_SIM_SCENARIO", scenario.c_str(), 1);
        handle_ = dlopen(TELVIO_SGIO_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
        fstat_ = reinterpret_cast<FstatFn>(dlsym(handle_, "fstat"));
        ioctl_ = reinterpret_cast<IoctlFn>(dlsym(handle_, "ioctl"));
        close_ = reinterpret_cast<CloseFn>(dlsym(handle_, "close"));
        ASSERT_NE(fstat_, nullptr);
        ASSERT_NE(ioctl_, nullptr);
        ASSERT_NE(close_, nullptr);
    }

    static void TearDownTestSuite() {
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }

    static int Open(char letter) {
        std::string path = dir_ + "/prefix/dosdevices/" + letter + "::";
        return open(path.c_str(), O_RDWR);
    }

    static std::vector<sim::RecordEntry> Records() {
        std::vector<sim::RecordEntry> entries;
        sim::ReadRecordFile(record_, entries);
        return entries;
    }

    static sg_io_hdr_t Inquiry(uint8_t* cdb, uint8_t* reply, uint32_t length, uint8_t* sense) {
        sg_io_hdr_t h{};
        h.interface_id = 'S';
        h.cmd_len = 6;
        h.cmdp = cdb;
        h.dxfer_direction = SG_DXFER_FROM_DEV;
        h.dxfer_len = length;
        h.dxferp = reply;
        h.mx_sb_len = 24;
        h.sbp = sense;
        h.timeout = 2000;
        return h;
    }

    static std::string dir_;
    static std::string record_;
    static void* handle_;
    static FstatFn fstat_;
    static IoctlFn ioctl_;
    static CloseFn close_;
};

std::string SgioPreload::dir_;
std::string SgioPreload::record_;
void* SgioPreload::handle_;
FstatFn SgioPreload::fstat_;
IoctlFn SgioPreload::ioctl_;
CloseFn SgioPreload::close_;

TEST_F(SgioPreload, PrefixSetupLinksEveryLetter) {
    for (char l = 'c'; l <= 'z'; ++l) {
        std::string base = dir_ + "/prefix/dosdevices/" + l;
        struct stat st;
        ASSERT_EQ(stat((base + "::").c_str(), &st), 0) << l;
        EXPECT_TRUE(S_ISREG(st.st_mode)) << l;
        ASSERT_EQ(stat((base + ":").c_str(), &st), 0) << l;
        EXPECT_TRUE(S_ISDIR(st.st_mode)) << l;
    }
    char target[64] = {};
    ASSERT_GT(readlink((dir_ + "/prefix/dosdevices/z:").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "/");  // kept as it was
}

TEST_F(SgioPreload, DriveLettersLookLikeOneBlockDevice) {
    int d = Open('d'), x = Open('x'), g = Open('g');
    ASSERT_GE(d, 0);
    ASSERT_GE(x, 0);
    ASSERT_GE(g, 0);
    struct stat sd, sx, sg, real;
    ASSERT_EQ(fstat_(d, &sd), 0);
    ASSERT_EQ(fstat_(x, &sx), 0);
    ASSERT_EQ(fstat_(g, &sg), 0);
    EXPECT_TRUE(S_ISBLK(sd.st_mode));
    EXPECT_EQ(major(sd.st_rdev), 11u);
    EXPECT_TRUE(S_ISBLK(sx.st_mode));
    EXPECT_NE(sd.st_rdev, sx.st_rdev);
    EXPECT_EQ(sd.st_ino, sx.st_ino);  // one identity: one slot of Wine's device cache
    EXPECT_EQ(sd.st_dev, sx.st_dev);
    EXPECT_TRUE(S_ISREG(sg.st_mode));  // no drive behind g
    EXPECT_EQ(sg.st_ino, sd.st_ino);
    // Any other file is left alone.
    int other = open(record_.c_str(), O_RDONLY | O_CREAT, 0644);
    ASSERT_GE(other, 0);
    ASSERT_EQ(fstat_(other, &sg), 0);
    ASSERT_EQ(::fstat(other, &real), 0);
    EXPECT_EQ(sg.st_ino, real.st_ino);
    EXPECT_EQ(sg.st_mode, real.st_mode);
    close(other);
    close(d);
    close(x);
    close(g);
}

TEST_F(SgioPreload, AnswersVersionAndAddress) {
    int d = Open('d'), x = Open('x'), g = Open('g');
    int version = 0;
    EXPECT_EQ(ioctl_(d, SG_GET_VERSION_NUM, &version), 0);
    EXPECT_GE(version, 30000);
    int idlun[2] = {};
    EXPECT_EQ(ioctl_(d, SCSI_IOCTL_GET_IDLUN, idlun), 0);
    EXPECT_EQ(uint32_t(idlun[0]), (2u << 24) | 1u);
    EXPECT_EQ(ioctl_(x, SCSI_IOCTL_GET_IDLUN, idlun), 0);
    EXPECT_EQ(uint32_t(idlun[0]), (1u << 8) | 3u);
    // A letter without a drive is a plain file: the real ioctl refuses.
    errno = 0;
    EXPECT_EQ(ioctl_(g, SG_GET_VERSION_NUM, &version), -1);
    EXPECT_EQ(errno, ENOTTY);
    // Requests it does not know go on to the real call even on a drive letter.
    int pending = -1;
    EXPECT_EQ(ioctl_(d, FIONREAD, &pending), 0);
    EXPECT_EQ(pending, 0);
    // Wine's ejection control, the door lock, is no command: it gets a line of its own,
    // which the command readers pass over; on a letter without a drive it is refused. So
    // does the close of a drive letter's descriptor, which passes on to the real close.
    const size_t commands = Records().size();
    EXPECT_EQ(ioctl_(d, CDROM_LOCKDOOR, 1), 0);
    EXPECT_EQ(ioctl_(d, CDROM_LOCKDOOR, 0), 0);
    errno = 0;
    EXPECT_EQ(ioctl_(g, CDROM_LOCKDOOR, 1), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(close_(d), 0);
    EXPECT_EQ(close_(g), 0);
    EXPECT_EQ(fcntl(d, F_GETFD), -1) << "closed for real";
    std::string text;
    ASSERT_TRUE(sim::ReadWholeFile(record_, text));
    const std::string pid = " pid=" + std::to_string(getpid());
    const std::string fd = " fd=" + std::to_string(d);
    const std::string lock = "lock door=sgio drive=main" + pid;
    EXPECT_NE(text.find(lock + " prevent=1" + fd + "\n" + lock + " prevent=0" + fd + "\n" +
                        "close door=sgio drive=main" + pid + fd + "\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("fd=" + std::to_string(g)), std::string::npos) << "g has no drive";
    EXPECT_EQ(Records().size(), commands);
    close(x);
}

TEST_F(SgioPreload, SgIoReachesTheDriveAndTheRecord) {
    int d = Open('d');
    uint8_t cdb[6] = {0x12, 0, 0, 0, 36, 0};
    uint8_t reply[96];
    std::memset(reply, 0xFF, sizeof reply);
    uint8_t sense[32] = {};
    sg_io_hdr_t h = Inquiry(cdb, reply, sizeof reply, sense);
    const size_t before = Records().size();
    ASSERT_EQ(ioctl_(d, SG_IO, &h), 0);
    EXPECT_EQ(h.status, 0);
    EXPECT_EQ(h.resid, int(sizeof reply - 36));
    EXPECT_EQ(h.sb_len_wr, 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply + 8), 28), "SIMVEND SG DRIVE        0.9 ");
    auto records = Records();
    ASSERT_EQ(records.size(), before + 1);
    const sim::RecordEntry& r = records.back();
    EXPECT_EQ(r.door, "sgio");
    EXPECT_EQ(r.drive, "main");
    EXPECT_EQ(r.command.adapter, 2);
    EXPECT_EQ(r.command.target, 1);
    EXPECT_EQ(r.command.dir, sim::Dir::In);
    EXPECT_EQ(r.command.length, sizeof reply);
    EXPECT_EQ(r.command.timeoutSeconds, 2u);
    EXPECT_EQ(r.command.cdbLength, 6);
    close(d);
}

TEST_F(SgioPreload, FaultsBecomeSenseOrAFailedCall) {
    int x = Open('x');
    uint8_t inquiry[6] = {0x12, 0, 0, 0, 36, 0};
    uint8_t reply[36];
    uint8_t sense[32];
    std::memset(sense, 0xEE, sizeof sense);
    sg_io_hdr_t h = Inquiry(inquiry, reply, sizeof reply, sense);
    errno = 0;
    EXPECT_EQ(ioctl_(x, SG_IO, &h), -1);
    EXPECT_EQ(errno, EIO);

    uint8_t modeSense[10] = {0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0, 0x28, 0};
    h = Inquiry(modeSense, reply, sizeof reply, sense);
    h.cmd_len = 10;
    ASSERT_EQ(ioctl_(x, SG_IO, &h), 0);
    EXPECT_EQ(h.status, 2);
    EXPECT_EQ(h.masked_status, 1);
    EXPECT_EQ(h.driver_status, 0x08);
    EXPECT_EQ(h.sb_len_wr, 18);
    EXPECT_EQ(sense[2], 0x02);
    EXPECT_EQ(sense[12], 0x04);
    EXPECT_EQ(sense[13], 0x07);
    EXPECT_EQ(sense[18], 0xEE);  // nothing written past what was reported

    h.mx_sb_len = 8;  // a short sense buffer gets no more than it asked for
    std::memset(sense, 0xEE, sizeof sense);
    uint8_t unknown[6] = {0x28, 0, 0, 0, 0, 0};
    h.cmdp = unknown;
    h.cmd_len = 6;
    ASSERT_EQ(ioctl_(x, SG_IO, &h), 0);
    EXPECT_EQ(h.sb_len_wr, 8);
    EXPECT_EQ(sense[2], 0x05);
    EXPECT_EQ(sense[8], 0xEE);
    close(x);
}

TEST_F(SgioPreload, MalformedRequestsAreRefused) {
    int d = Open('d');
    uint8_t cdb[6] = {0x12, 0, 0, 0, 36, 0};
    uint8_t reply[36];
    uint8_t sense[32];
    struct Case {
        const char* what;
        void (*spoil)(sg_io_hdr_t&);
        int error;
    };
    const Case cases[] = {
        {"interface id", [](sg_io_hdr_t& h) { h.interface_id = 'Q'; }, ENOSYS},
        {"no cdb", [](sg_io_hdr_t& h) { h.cmdp = nullptr; }, EINVAL},
        {"cdb too long", [](sg_io_hdr_t& h) { h.cmd_len = 17; }, EINVAL},
        {"no buffer", [](sg_io_hdr_t& h) { h.dxferp = nullptr; }, EFAULT},
        {"direction", [](sg_io_hdr_t& h) { h.dxfer_direction = 7; }, EINVAL},
    };
    const size_t before = Records().size();
    for (const Case& c : cases) {
        sg_io_hdr_t h = Inquiry(cdb, reply, sizeof reply, sense);
        c.spoil(h);
        errno = 0;
        EXPECT_EQ(ioctl_(d, SG_IO, &h), -1) << c.what;
        EXPECT_EQ(errno, c.error) << c.what;
    }
    EXPECT_EQ(Records().size(), before);  // none of them reached the drive
    close(d);
}

}  // namespace
