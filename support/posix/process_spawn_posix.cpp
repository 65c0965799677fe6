#include "support/platform/process.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "support/platform/signal_dispatch.h"

extern char** environ;

namespace {

// The highest descriptor number a fallback close must reach, read before
// fork: sysconf is not safe to call in the child of a threaded process.
int HighestDescriptor() {
    const long most = sysconf(_SC_OPEN_MAX);
    if (most <= 0 || most > 65536) return 65536;
    return static_cast<int>(most);
}

// Closes every descriptor from 3 up except keep.
void CloseAllBut(int keep, int highest) {
    const unsigned k = static_cast<unsigned>(keep);
    const bool closed = (k <= 3 || close_range(3, k - 1, 0) == 0) && close_range(k + 1, ~0u, 0) == 0;
    if (closed) return;
    for (int fd = 3; fd < highest; ++fd) {
        if (fd != keep) close(fd);
    }
}

// Runs in the forked child, where only async-signal-safe calls are allowed.
// report is the write end of the pipe that tells the parent whether the
// program could be run: it closes on a successful exec.
[[noreturn]] void BecomeCore(const char* path, char* const argv[], int report, int highest) {
    setsid();
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
    }
    // Every descriptor the client makes is close-on-exec already; closing
    // the rest also covers those opened by libraries (libcurl's sockets).
    CloseAllBut(report, highest);
    // The client blocks its console signals in every thread for its
    // dispatcher; a blocked mask would survive exec and deafen the core.
    v3PlatformSignalsRestore();
    // Last, so that the few steps above are not slowed on a busy machine
    // while the parent waits for the exec.
    sched_param idle{};
    if (sched_setscheduler(0, SCHED_IDLE, &idle) != 0) {
        // nice() reports -1 both as a result and as a failure; either way
        // the core runs on, so its result is not looked at. (A plain void
        // cast does not quiet glibc's warn_unused_result under
        // _FORTIFY_SOURCE.)
        (void)!nice(19);
    }
    execve(path, argv, environ);
    const int reason = errno;
    (void)!write(report, &reason, sizeof reason);
    // A core that cannot be run ends without a code, which the client counts
    // as a start failure.
    _exit(0);
}

bool ToPid(uint64_t id, pid_t* pid) {
    if (id == 0 || id > static_cast<uint64_t>(INT_MAX)) return false;
    *pid = static_cast<pid_t>(id);
    return true;
}

}  // namespace

int v3PlatformProcessSpawn(const char* path, char* const argv[], uint64_t* pid) {
    if (pid != nullptr) *pid = 0;
    if (path == nullptr || argv == nullptr || argv[0] == nullptr || pid == nullptr) return -1;
    const int highest = HighestDescriptor();
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) BecomeCore(path, argv, report[1], highest);
    close(report[1]);
    if (child < 0) {
        close(report[0]);
        return -1;
    }
    // The pipe closes at the exec; a reason arrives only when it failed. So
    // a program that cannot be run is known at once, as a failed creation.
    int reason = 0;
    ssize_t got;
    do {
        got = read(report[0], &reason, sizeof reason);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got > 0) {
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        return -1;
    }
    *pid = static_cast<uint64_t>(static_cast<uint32_t>(child));
    return 0;
}

namespace {

// What waitpid returned for pid: the child's state as the callers report it.
int ChildState(pid_t pid, pid_t got, int status, uint32_t* code) {
    if (got == 0) return kChildRunning;
    if (got != pid) return -1;
    if (WIFEXITED(status)) {
        *code = static_cast<uint32_t>(WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
        *code = 128u + static_cast<uint32_t>(WTERMSIG(status));
    }
    return kChildEnded;
}

int CollectChild(uint64_t id, uint32_t* code, int options) {
    if (code != nullptr) *code = 0;
    pid_t pid;
    if (!ToPid(id, &pid) || code == nullptr) return -1;
    int status = 0;
    pid_t got;
    do {
        got = waitpid(pid, &status, options);
    } while (got < 0 && errno == EINTR);
    return ChildState(pid, got, status, code);
}

}  // namespace

int v3PlatformProcessPollExit(uint64_t id, uint32_t* code) {
    return CollectChild(id, code, WNOHANG);
}

// A plain blocking waitpid: the kernel wakes the waiter as the child ends,
// and only the waiting thread is held (the console signals are taken by the
// dispatcher thread, so an interruption here is rare and simply retried).
int v3PlatformProcessWaitExit(uint64_t id, uint32_t* code) {
    return CollectChild(id, code, 0);
}
