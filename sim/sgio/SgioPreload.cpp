// libtelvio_sgio.so: put in LD_PRELOAD for Wine, it answers the Linux calls that Wine's
// ntdll makes for the SCSI control codes on a drive letter's device file, so Wine's own
// pass-through code reaches the simulated drive:
//   fstat                 a block device, so Wine asks for the SCSI address; all device
//                         files share one identity, so they take one of Wine's five
//                         per-process cache slots
//   SG_GET_VERSION_NUM    a version new enough for IOCTL_SCSI_GET_INQUIRY_DATA
//   SCSI_IOCTL_GET_IDLUN  the path id / target id / lun the scenario gives the letter;
//                         Wine reads it for the inquiry data's entry and for the
//                         letter's own address (IOCTL_SCSI_GET_ADDRESS) alike
//   SG_IO                 the command itself
//   CDROM_LOCKDOOR        what Wine makes of IOCTL_STORAGE_EJECTION_CONTROL: noted in the
//                         record file, since a real door lock never reaches the drive
//                         as a command the simulator would see
//   close                 of a drive letter's file: noted too, and passed on. Wine
//                         closes its copy of the descriptor when the program closes the
//                         handle, so the record tells how long a handle stayed open
// Every other call, and every call on any other file, goes straight on. It is loaded
// into every Wine process, so it does nothing until a device file is seen.
//
// The i386 build serves 32-bit Wine under qemu. Debian builds that Wine with 64-bit time
// and file offsets, so its ntdll calls the C library's time64 entry points; this library,
// built the same way, answers under those names (the headers rename fstat, ioctl is
// renamed here).
#include <dlfcn.h>
#include <errno.h>
#include <linux/cdrom.h>
#include <scsi/scsi.h>
#include <scsi/sg.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <atomic>
#include <mutex>

#include "sim/RecordFile.h"
#include "sim/SimFile.h"
#include "sim/SimRuntime.h"
#include "sim/TransportRules.h"

namespace {

#if defined(__USE_TIME_BITS64) && __TIMESIZE == 32
#define SGIO_TIME64 1
#define SGIO_FSTAT_NAME "__fstat64_time64"
#define SGIO_IOCTL_NAME "__ioctl_time64"
#else
#define SGIO_FSTAT_NAME "fstat"
#define SGIO_IOCTL_NAME "ioctl"
#endif

using FstatFn = int (*)(int, struct stat*);
using IoctlFn = int (*)(int, unsigned long, void*);
using CloseFn = int (*)(int);

constexpr int kLetters = 'z' - 'c' + 1;
constexpr unsigned kScsiCdromMajor = 11;  // not an IDE major: Wine then asks for the id/lun
constexpr int kSgVersion = 30536;
constexpr size_t kSenseMax = 18;

FstatFn RealFstat() {
    static std::atomic<FstatFn> fn{nullptr};
    FstatFn f = fn.load(std::memory_order_acquire);
    if (f == nullptr) {
        f = reinterpret_cast<FstatFn>(dlsym(RTLD_NEXT, SGIO_FSTAT_NAME));
        fn.store(f, std::memory_order_release);
    }
    return f;
}

IoctlFn RealIoctl() {
    static std::atomic<IoctlFn> fn{nullptr};
    IoctlFn f = fn.load(std::memory_order_acquire);
    if (f == nullptr) {
        f = reinterpret_cast<IoctlFn>(dlsym(RTLD_NEXT, SGIO_IOCTL_NAME));
        fn.store(f, std::memory_order_release);
    }
    return f;
}

CloseFn RealClose() {
    static std::atomic<CloseFn> fn{nullptr};
    CloseFn f = fn.load(std::memory_order_acquire);
    if (f == nullptr) {
        f = reinterpret_cast<CloseFn>(dlsym(RTLD_NEXT, "close"));
        fn.store(f, std::memory_order_release);
    }
    return f;
}

// The device files of the letters, found once through the prefix's dosdevices links.
struct DeviceFiles {
    bool active = false;
    dev_t dev[kLetters] = {};
    ino_t ino[kLetters] = {};
    bool present[kLetters] = {};
    int first = -1;  // its identity is the one all of them report
};

bool IsWineServer() {
    const char* name = program_invocation_short_name;
    return name != nullptr && strncmp(name, "wineserver", 10) == 0;
}

void FindDeviceFiles(DeviceFiles& files) {
    // The server keeps the files' true identities: it shares objects by them.
    if (IsWineServer()) return;
    char dir[4096];
    const char* prefix = getenv("WINEPREFIX");
    const char* home = getenv("HOME");
    if (prefix != nullptr && *prefix != '\0') {
        snprintf(dir, sizeof dir, "%s/dosdevices", prefix);
    } else if (home != nullptr) {
        snprintf(dir, sizeof dir, "%s/.wine/dosdevices", home);
    } else {
        return;
    }
    for (int i = 0; i < kLetters; ++i) {
        char path[4200];
        snprintf(path, sizeof path, "%s/%c::", dir, 'c' + i);
        struct stat st;
        // stat follows the link to the regular file prefix-setup.sh made.
        if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) continue;
        files.present[i] = true;
        files.dev[i] = st.st_dev;
        files.ino[i] = st.st_ino;
        if (files.first < 0) files.first = i;
        files.active = true;
    }
}

const DeviceFiles& Devices() {
    static DeviceFiles files;
    static std::once_flag once;
    std::call_once(once, [] { FindDeviceFiles(files); });
    return files;
}

// The letter index (0 = c) of the device file `st` describes, or -1.
int LetterOf(const struct stat& st) {
    if (!S_ISREG(st.st_mode)) return -1;
    const DeviceFiles& files = Devices();
    if (!files.active) return -1;
    for (int i = 0; i < kLetters; ++i) {
        if (files.present[i] && files.ino[i] == st.st_ino && files.dev[i] == st.st_dev) return i;
    }
    return -1;
}

const sim::LetterSpec* DriveLetter(int index) {
    sim::SimRuntime& runtime = sim::ProcessRuntime();
    const sim::LetterSpec* spec = runtime.GetScenario().Letter(char('c' + index));
    if (spec == nullptr || spec->drive >= runtime.DriveCount()) return nullptr;
    return spec;
}

void DisguiseAsDrive(int index, struct stat* st) {
    const DeviceFiles& files = Devices();
    st->st_dev = files.dev[files.first];
    st->st_ino = files.ino[files.first];
    if (DriveLetter(index) == nullptr) return;  // no drive: a plain file
    st->st_mode = S_IFBLK | (st->st_mode & 07777);
    st->st_rdev = makedev(kScsiCdromMajor, unsigned(index));
    st->st_size = 0;
}

int ServeSgIo(const sim::LetterSpec& letter, sg_io_hdr_t* h) {
    if (h == nullptr) return errno = EFAULT, -1;
    if (h->interface_id != 'S') return errno = ENOSYS, -1;
    if (h->iovec_count != 0 || h->cmd_len == 0 || h->cmd_len > 16 || h->cmdp == nullptr)
        return errno = EINVAL, -1;
    if (h->dxfer_len > 0 && h->dxferp == nullptr) return errno = EFAULT, -1;
    sim::Dir dir;
    switch (h->dxfer_direction) {
        case SG_DXFER_NONE:
            dir = sim::Dir::None;
            break;
        case SG_DXFER_TO_DEV:
            dir = sim::Dir::Out;
            break;
        case SG_DXFER_FROM_DEV:
        case SG_DXFER_TO_FROM_DEV:
            dir = sim::Dir::In;
            break;
        default:
            return errno = EINVAL, -1;
    }
    const uint32_t length = dir == sim::Dir::None ? 0 : h->dxfer_len;
    sim::Result r = sim::ProcessRuntime().Execute(
        letter.drive, "sgio", h->cmdp, h->cmd_len, dir,
        static_cast<uint8_t*>(dir == sim::Dir::None ? nullptr : h->dxferp), length, letter.pathId,
        letter.targetId, letter.lun, h->timeout / 1000);
    // A time-out the drive let run out is reported at once; the record keeps what it was.
    if (!r.transportOk) return errno = r.timedOut ? ETIMEDOUT : EIO, -1;
    h->status = r.status;
    h->masked_status = uint8_t(r.status >> 1);
    h->msg_status = 0;
    h->host_status = 0;
    h->driver_status = r.status == 2 ? 0x08 : 0;  // DRIVER_SENSE
    h->resid = dir == sim::Dir::In ? int(length - r.transferred) : 0;
    h->duration = 0;
    h->info = r.status != 0 ? SG_INFO_CHECK : SG_INFO_OK;
    h->sb_len_wr = 0;
    if (r.status == 2 && h->sbp != nullptr && h->mx_sb_len > 0) {
        size_t n = h->mx_sb_len < kSenseMax ? h->mx_sb_len : kSenseMax;
        memcpy(h->sbp, r.sense.data(), n);
        h->sb_len_wr = uint8_t(n);
    }
    return 0;
}

// The lock's argument is an int passed by value, not an address: nonzero locks.
void NoteDoorLock(const sim::LetterSpec& letter, int fd, void* arg) {
    const bool prevent = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(arg)) != 0;
    sim::SimRuntime& runtime = sim::ProcessRuntime();
    const std::string& record = runtime.GetScenario().recordPath;
    if (record.empty()) return;
    sim::AppendLine(record,
                    sim::FormatDoorLockLine("sgio", runtime.GetScenario().drives[letter.drive].name,
                                            sim::ProcessId(), prevent, fd));
}

void NoteClose(int fd) {
    if (!Devices().active) return;
    struct stat st;
    if (RealFstat()(fd, &st) != 0) return;
    const int index = LetterOf(st);
    if (index < 0) return;
    const sim::LetterSpec* letter = DriveLetter(index);
    if (letter == nullptr) return;
    sim::SimRuntime& runtime = sim::ProcessRuntime();
    const std::string& record = runtime.GetScenario().recordPath;
    if (record.empty()) return;
    sim::AppendLine(record,
                    sim::FormatCloseLine("sgio", runtime.GetScenario().drives[letter->drive].name,
                                         sim::ProcessId(), fd));
}

// Answers `request` for a simulated drive; false hands it to the real ioctl.
bool Serve(int fd, unsigned long request, void* arg, int& result) {
    if (request != SG_IO && request != SG_GET_VERSION_NUM && request != SCSI_IOCTL_GET_IDLUN &&
        request != SCSI_IOCTL_GET_BUS_NUMBER && request != SG_GET_SCSI_ID &&
        request != CDROM_LOCKDOOR)
        return false;
    struct stat st;
    if (RealFstat()(fd, &st) != 0) return false;
    int index = LetterOf(st);
    if (index < 0) return false;
    const sim::LetterSpec* letter = DriveLetter(index);
    if (letter == nullptr) return false;
    if (request == CDROM_LOCKDOOR) {
        NoteDoorLock(*letter, fd, arg);
        result = 0;
        return true;
    }
    if (arg == nullptr) {
        result = -1;
        errno = EFAULT;
        return true;
    }
    result = 0;
    switch (request) {
        case SG_IO:
            result = ServeSgIo(*letter, static_cast<sg_io_hdr_t*>(arg));
            break;
        case SG_GET_VERSION_NUM:
            *static_cast<int*>(arg) = kSgVersion;
            break;
        case SCSI_IOCTL_GET_IDLUN: {
            // Wine reads the host number as PathId, the channel (+2) as the bus.
            int* idlun = static_cast<int*>(arg);
            idlun[0] = int(uint32_t(letter->targetId) | (uint32_t(letter->lun) << 8) |
                           (uint32_t(letter->pathId) << 24));
            idlun[1] = letter->pathId;
            break;
        }
        case SCSI_IOCTL_GET_BUS_NUMBER:
            *static_cast<int*>(arg) = letter->pathId;
            break;
        case SG_GET_SCSI_ID: {
            auto* id = static_cast<struct sg_scsi_id*>(arg);
            memset(id, 0, sizeof *id);
            id->host_no = letter->pathId;
            id->scsi_id = letter->targetId;
            id->lun = letter->lun;
            id->scsi_type =
                sim::ProcessRuntime().GetScenario().drives[letter->drive].config.peripheral & 0x1F;
            break;
        }
    }
    return true;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int fstat(int fd, struct stat* st) {
    FstatFn real = RealFstat();
    if (real == nullptr) return errno = ENOSYS, -1;
    int r = real(fd, st);
    if (r == 0 && S_ISREG(st->st_mode)) {
        int index = LetterOf(*st);
        if (index >= 0) DisguiseAsDrive(index, st);
    }
    return r;
}

#ifndef SGIO_TIME64  // there the headers give fstat64 the same name as fstat
__attribute__((visibility("default"))) int fstat64(int fd, struct stat64* st) {
    // On x86-64 the two structures are one.
    static_assert(sizeof(struct stat) == sizeof(struct stat64), "stat layouts");
    return fstat(fd, reinterpret_cast<struct stat*>(st));
}
#endif

int ioctl(int fd, unsigned long request, ...) __asm__(SGIO_IOCTL_NAME);

__attribute__((visibility("default"))) int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    int result = 0;
    const int saved = errno;
    if (Serve(fd, request, arg, result)) return result;
    errno = saved;
    IoctlFn real = RealIoctl();
    if (real == nullptr) return errno = ENOSYS, -1;
    return real(fd, request, arg);
}

__attribute__((visibility("default"))) int close(int fd) {
    const int saved = errno;
    NoteClose(fd);
    errno = saved;
    CloseFn real = RealClose();
    if (real == nullptr) return errno = ENOSYS, -1;
    return real(fd);
}

}  // extern "C"
