// libtelvio_no_interrupt.so: preloaded into 32-bit Wine running under qemu user-mode
// emulation, beside libtelvio_high_half.so (tools/wine-run.sh puts both there).
//
// qemu 7.2 keeps one descriptor table for all the threads of an emulated i386 process,
// and a thread-local segment holds whatever base the newest thread wrote there. A signal
// handler and the return from it load the segment registers again from that table, so a
// thread that takes a signal goes on with another thread's thread-local data: the C
// library's and Wine's own TEB. Wine interrupts a thread with SIGUSR1 when work for it
// comes while it runs (the result of an asynchronous device call that completed before
// the thread began to wait for it, or a suspension); the thread then speaks to the
// wineserver as another one, waits in that one's name and never wakes. Seen with the
// file dialog, whose drive query to the mount manager races its own wait: it opened in
// some runs and hung the program in the others, whatever the program or its manifest.
//
// The signal is ignored instead: the server hands such work over at the thread's next
// wait all the same, which every one of these calls makes at once. What is lost is the
// suspension of a thread that runs without ever waiting, which nothing here asks for.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <stddef.h>

typedef int (*SigactionCall)(int, const struct sigaction*, struct sigaction*);

static SigactionCall NextSigaction(void) {
    static SigactionCall next;
    if (next == NULL) next = (SigactionCall)dlsym(RTLD_NEXT, "sigaction");
    return next;
}

__attribute__((visibility("default"))) int sigaction(int sig, const struct sigaction* act,
                                                     struct sigaction* old) {
    SigactionCall next = NextSigaction();
    if (next == NULL) {
        errno = ENOSYS;
        return -1;
    }
    if (sig == SIGUSR1 && act != NULL && act->sa_handler != SIG_DFL && act->sa_handler != SIG_IGN) {
        struct sigaction ignored = *act;
        ignored.sa_flags &= ~SA_SIGINFO;
        ignored.sa_handler = SIG_IGN;
        return next(sig, &ignored, old);
    }
    return next(sig, act, old);
}

// Resolved before Wine starts any thread of its own.
__attribute__((constructor)) static void ResolveEarly(void) {
    (void)NextSigaction();
}
