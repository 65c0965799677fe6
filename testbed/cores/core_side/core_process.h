// How a core learns that it should stop: the client's signals arrive through
// two named semaphores that the core creates for its own process ID, a user
// may send SIGINT/SIGTERM directly, and the client's process (the lifeline)
// may simply be gone.
#pragma once

#include <semaphore.h>

#include <cstdint>
#include <string>

namespace qrvcore {

// The core's two signal semaphores. The name carries the other signal's
// name: a release of "<PID>-SIGTERM" means signal 2 (interrupt) and a
// release of "<PID>-SIGINT" means signal 15 (terminate). Both senders and
// receivers of the family use this crossed mapping.
class CoreSignals {
public:
    CoreSignals() = default;
    CoreSignals(const CoreSignals&) = delete;
    CoreSignals& operator=(const CoreSignals&) = delete;
    ~CoreSignals() { Remove(); }

    // Creates both semaphores (count 0, mode 0600), replacing stale ones of
    // the same names, and routes SIGINT/SIGTERM of this process to Take().
    // Returns "" or what failed; signals sent directly work either way.
    std::string Open();
    // 2 or 15 when a signal arrived since the last call, else 0. A pending
    // signal 2 is reported before a pending 15.
    int Take();
    // Closes and unlinks both semaphores; later releases find no receiver.
    void Remove();

    // "/" + 16 upper-case hex digits of pid + "-SIGINT" or "-SIGTERM".
    static std::string SemaphoreName(uint64_t pid, bool sigterm_name);

private:
    sem_t* sigint_ = SEM_FAILED;   // "-SIGINT": signal 15
    sem_t* sigterm_ = SEM_FAILED;  // "-SIGTERM": signal 2
    std::string sigint_name_, sigterm_name_;
};

// True while pid exists (including one we may not signal).
bool ProcessAlive(long pid);

// Milliseconds of a clock that never jumps.
uint64_t MonotonicMs();
void SleepMs(unsigned ms);

// Lowers the scheduling priority to the weakest there is (the client's
// low-priority request). Best effort.
void LowerPriority();

}  // namespace qrvcore
