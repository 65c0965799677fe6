#include "support/exit.h"

#include <atomic>
#include <cstdlib>

#include "support/signals.h"
#include "support/sleep.h"

namespace {

std::atomic<void (*)()> g_exit_cleanup{nullptr};
std::atomic<bool> g_exiting{false};

}  // namespace

void v3SetExitCleanup(void (*cleanup)()) {
    g_exit_cleanup.store(cleanup);
}

void v3Exit(int code) {
    // exit() is not safe to run twice at once (it destroys the statics the
    // other run is using). The shutdown handler, a fatal start-up error and a
    // forced end can meet here from different threads: the first one ends
    // the process, the others wait for that.
    if (g_exiting.exchange(true)) {
        for (;;) v3Sleep(1000);
    }
    if (void (*cleanup)() = g_exit_cleanup.exchange(nullptr); cleanup != nullptr) cleanup();
    v3SignalRemoveSemaphores();
    std::exit(code);
}
