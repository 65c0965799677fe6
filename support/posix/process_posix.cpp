#include "support/platform/process.h"

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <climits>

namespace {

// Only a positive process ID names one process: kill() reads 0 as our
// process group and -1 as every process we may signal.
bool ToPid(uint64_t id, pid_t* pid) {
    if (id == 0 || id > static_cast<uint64_t>(INT_MAX)) return false;
    *pid = static_cast<pid_t>(id);
    return true;
}

}  // namespace

uint64_t v3PlatformProcessID() {
    return static_cast<uint64_t>(static_cast<uint32_t>(getpid()));
}

int v3PlatformProcessProbe(uint64_t id) {
    pid_t pid;
    if (!ToPid(id, &pid)) return -1;
    if (kill(pid, 0) != 0 && errno != EPERM) return -1;
    // An ended child of ours still answers kill() until it is collected. Look
    // at it without collecting (WNOWAIT): its exit status belongs to the code
    // that supervises it.
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == pid) {
        return -1;
    }
    return 0;
}

int v3PlatformProcessKill(uint64_t id) {
    pid_t pid;
    if (!ToPid(id, &pid)) return -1;
    return kill(pid, SIGKILL) == 0 ? 0 : -1;
}
