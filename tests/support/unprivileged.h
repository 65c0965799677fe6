// Runs a check in a child process without root's power to ignore file
// permissions, so that tests of read-only files and folders mean the same
// under root (CI containers) and under a normal user.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace qrvtest {

inline constexpr uid_t kNobody = 65534;

// Gives path to the user the check will run as (a no-op for a normal user).
inline bool GiveToChecker(const std::string& path) {
    if (geteuid() != 0) return true;
    return chown(path.c_str(), kNobody, kNobody) == 0;
}

// Runs check in a child, as user nobody when the test runs as root; gives
// the check's result, or -1000 when the child could not run it.
inline int RunUnprivileged(const std::function<int()>& check) {
    pid_t pid = fork();
    if (pid < 0) return -1000;
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(255);
        // Results are small negative codes; shift them into exit-status range.
        _exit(check() + 100);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1000;
    int code = WEXITSTATUS(status);
    return code == 255 ? -1000 : code - 100;
}

}  // namespace qrvtest
