#include "support/platform/signal_dispatch.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>

namespace {

void TakenSet(sigset_t* set) {
    sigemptyset(set);
    sigaddset(set, SIGINT);
    sigaddset(set, SIGTERM);
    sigaddset(set, SIGHUP);
    sigaddset(set, SIGQUIT);
}

}  // namespace

int v3PlatformSignalsBlock() {
    sigset_t set;
    TakenSet(&set);
    return pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0 ? 0 : -1;
}

int v3PlatformSignalsWait(v3OsSignal* which) {
    sigset_t set;
    TakenSet(&set);
    for (;;) {
        int sig = 0;
        int rc = sigwait(&set, &sig);
        if (rc == EINTR) continue;
        if (rc != 0) return -1;
        switch (sig) {
            case SIGINT: *which = v3OsSignal::kInterrupt; return 0;
            case SIGTERM: *which = v3OsSignal::kTerminate; return 0;
            case SIGHUP: *which = v3OsSignal::kHangUp; return 0;
            case SIGQUIT: *which = v3OsSignal::kQuit; return 0;
            default: continue;
        }
    }
}

void v3PlatformSignalsRestore() {
    // sigaction and sigprocmask are async-signal-safe, as a forked child of a
    // threaded process requires.
    struct sigaction dfl = {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(SIGINT, &dfl, nullptr);
    sigaction(SIGTERM, &dfl, nullptr);
    sigaction(SIGHUP, &dfl, nullptr);
    sigaction(SIGQUIT, &dfl, nullptr);
    sigset_t set;
    TakenSet(&set);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
}
