#include "core_side/core_process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include "contract/core_contract.h"

namespace qrvcore {

namespace {

// Written by the asynchronous handler, read by Take(): the only state an
// async-signal handler may touch.
volatile std::sig_atomic_t g_direct_int = 0;
volatile std::sig_atomic_t g_direct_term = 0;

extern "C" void OnDirectSignal(int sig) {
    if (sig == SIGINT) g_direct_int = 1;
    if (sig == SIGTERM) g_direct_term = 1;
}

sem_t* CreateFresh(const std::string& name) {
    // A semaphore of the same name can only be left over from an earlier
    // process with our ID that ended without removing it; reset it so that
    // a release meant for that process is not taken as ours.
    sem_unlink(name.c_str());
    return sem_open(name.c_str(), O_CREAT | O_EXCL, 0600, 0);
}

bool TryTake(sem_t* sem) {
    if (sem == SEM_FAILED) return false;
    while (sem_trywait(sem) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

}  // namespace

std::string CoreSignals::SemaphoreName(uint64_t pid, bool sigterm_name) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "/%016llX%s", static_cast<unsigned long long>(pid),
                  sigterm_name ? core_contract::kSemaphoreInterrupt
                               : core_contract::kSemaphoreTerminate);
    return buf;
}

std::string CoreSignals::Open() {
    struct sigaction sa = {};
    sa.sa_handler = OnDirectSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    const uint64_t pid = static_cast<uint64_t>(getpid());
    sigint_name_ = SemaphoreName(pid, false);
    sigterm_name_ = SemaphoreName(pid, true);
    sigint_ = CreateFresh(sigint_name_);
    if (sigint_ == SEM_FAILED) return "cannot create semaphore " + sigint_name_;
    sigterm_ = CreateFresh(sigterm_name_);
    if (sigterm_ == SEM_FAILED) return "cannot create semaphore " + sigterm_name_;
    return "";
}

int CoreSignals::Take() {
    if (TryTake(sigterm_) || g_direct_int) {
        g_direct_int = 0;
        return 2;
    }
    if (TryTake(sigint_) || g_direct_term) {
        g_direct_term = 0;
        return 15;
    }
    return 0;
}

void CoreSignals::Remove() {
    if (sigint_ != SEM_FAILED) {
        sem_close(sigint_);
        sem_unlink(sigint_name_.c_str());
        sigint_ = SEM_FAILED;
    }
    if (sigterm_ != SEM_FAILED) {
        sem_close(sigterm_);
        sem_unlink(sigterm_name_.c_str());
        sigterm_ = SEM_FAILED;
    }
}

bool ProcessAlive(long pid) {
    if (pid <= 0) return false;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
    // A client that died but was not yet reaped by its parent still
    // answers the probe; its state in /proc tells that it is gone.
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    std::FILE* f = std::fopen(path, "r");
    if (f == nullptr) return true;
    char line[512] = {};
    const bool got = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    const char* close_paren = got ? std::strrchr(line, ')') : nullptr;
    if (close_paren == nullptr || close_paren[1] != ' ') return true;
    const char state = close_paren[2];
    return state != 'Z' && state != 'X';
}

uint64_t MonotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

void SleepMs(unsigned ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void LowerPriority() {
    sched_param sp{};
    if (sched_setscheduler(0, SCHED_IDLE, &sp) != 0) setpriority(PRIO_PROCESS, 0, 19);
}

}  // namespace qrvcore
