// libtelvio_high_half.so: preloaded into 32-bit Wine running under qemu user-mode
// emulation (tools/wine-run.sh puts it there).
//
// At start Wine reserves the address space above its user-space limit with PROT_NONE +
// MAP_FIXED_NOREPLACE mappings, halving any range it does not get at the address asked
// for. qemu 7.2 does not fail such a call, it places the mapping elsewhere; Wine then
// unmaps it and tries both halves, down to 64 KiB pieces: tens of thousands of tries,
// about a minute of every 32-bit start. A 32-bit Windows program without the
// large-address flag never uses the upper 2 GiB, so a reservation there is answered at
// once as made; every other call goes on to the system unchanged.
#define _GNU_SOURCE
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

#define UPPER_HALF ((uintptr_t)0x80000000u)
#define PAGE_MASK_BITS 4095

static int IsUpperHalfReservation(void* addr, size_t length, int prot, int flags) {
    uintptr_t start = (uintptr_t)addr;
    if (prot != PROT_NONE || (flags & (MAP_FIXED_NOREPLACE | MAP_ANONYMOUS)) !=
                                 (MAP_FIXED_NOREPLACE | MAP_ANONYMOUS))
        return 0;
    // Wine's last range ends at the top of the address space: start + length wraps to 0.
    return start >= UPPER_HALF && length != 0 && length <= (uintptr_t)0 - start;
}

// What the C library's own mmap does here: the offset goes to the kernel in pages.
static void* MapPages(void* addr, size_t length, int prot, int flags, int fd,
                      unsigned long long offset) {
    if (offset & PAGE_MASK_BITS) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    return (void*)syscall(SYS_mmap2, addr, length, prot, flags, fd, (unsigned long)(offset >> 12));
}

__attribute__((visibility("default"))) void* mmap64(void* addr, size_t length, int prot,
                                                    int flags, int fd, off64_t offset) {
    if (IsUpperHalfReservation(addr, length, prot, flags)) return addr;
    return MapPages(addr, length, prot, flags, fd, (unsigned long long)offset);
}

__attribute__((visibility("default"))) void* mmap(void* addr, size_t length, int prot,
                                                  int flags, int fd, off_t offset) {
    if (IsUpperHalfReservation(addr, length, prot, flags)) return addr;
    return MapPages(addr, length, prot, flags, fd, (unsigned long long)(unsigned long)offset);
}

// The emulated process's LD_PRELOAD names i386 libraries. Wine hands its environment to
// every process it starts, and a 64-bit one would complain about each of them; a 32-bit
// one gets them again from the loader wrapper (tools/wine32/make-loader.sh).
__attribute__((constructor)) static void ForgetPreloadList(void) { unsetenv("LD_PRELOAD"); }
