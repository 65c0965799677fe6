#include "support/signals.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "contract/core_contract.h"
#include "support/exit.h"
#include "support/format.h"
#include "support/platform/process.h"
#include "support/platform/semaphore.h"
#include "support/platform/signal_dispatch.h"
#include "support/process.h"
#include "support/thread.h"

namespace {

using SignalHandler = void (*)(int);
using ConsoleHandler = int (*)(uint32_t);

constexpr uint32_t kWatcherStack = 4096;     // raised by v3ThreadStart as the platform needs
constexpr uint32_t kDispatcherStack = 4096;
constexpr uint64_t kNameSize = 128;
constexpr uint64_t kRefusalSize = 512;

// Semaphore slot 0 is "-SIGINT" and delivers 15; slot 1 is "-SIGTERM" and
// delivers 2. The crossing is the contract with the cores.
constexpr int kSlotSignal[2] = {kSignalTerminate, kSignalInterrupt};

// Exit codes when an event or signal finds nobody to handle it: what a shell
// reports for a process ended by the corresponding system signal.
constexpr int kUnhandledCtrlC = 130;
constexpr int kUnhandledCtrlBreak = 131;
constexpr int kUnhandledLogoff = 129;

struct SignalState {
    std::mutex register_guard;
    v3PlatformNamedSemaphore* semaphores[2] = {nullptr, nullptr};
    bool watching[2] = {false, false};
    bool exit_hook_set = false;
    char names[2][kNameSize] = {};
    // Why the last registration failed, when another user owns one of the
    // names; "" otherwise. Guarded by register_guard.
    char refusal[kRefusalSize] = {};
    std::atomic<bool> names_made{false};
    // Per slot: the semaphore under that name is ours. Only those names are
    // removed at the end; one another user made stays theirs.
    std::atomic<bool> created[2] = {false, false};
    std::atomic<bool> names_removed{false};

    std::atomic<SignalHandler> interrupt_handler{nullptr};
    std::atomic<SignalHandler> terminate_handler{nullptr};
    std::atomic<ConsoleHandler> console_handler{nullptr};

    // Handlers run one at a time, whichever thread brings the signal: two
    // shutdowns at once would close the log twice and race exit(). Recursive,
    // so that a handler may send a signal to its own process.
    std::recursive_mutex run_guard;

    std::mutex dispatch_guard;
    bool dispatching = false;
};

// Allocated once and never destroyed: watcher threads keep using it while
// exit() runs the static destructors.
SignalState& State() {
    static SignalState* state = new SignalState;
    return *state;
}

void RunSignal(int sig) {
    SignalState& st = State();
    std::lock_guard<std::recursive_mutex> one_at_a_time(st.run_guard);
    SignalHandler h = (sig == kSignalInterrupt ? st.interrupt_handler : st.terminate_handler).load();
    if (h == nullptr) v3Exit(128 + sig);  // the runtime's default: the signal ends the process
    h(sig);
}

void RunConsoleEvent(uint32_t event, int unhandled_code) {
    SignalState& st = State();
    std::lock_guard<std::recursive_mutex> one_at_a_time(st.run_guard);
    ConsoleHandler h = st.console_handler.load();
    if (h == nullptr || h(event) == 0) v3Exit(unhandled_code);
}

void WatchSemaphore(void* arg) {
    int slot = static_cast<int>(reinterpret_cast<intptr_t>(arg));
    v3PlatformNamedSemaphore* sem = State().semaphores[slot];
    // Each release is taken only after the previous signal's handler has
    // returned, so releases sent meanwhile fold into one pending signal.
    while (v3PlatformNamedSemaphoreWait(sem) == 0) RunSignal(kSlotSignal[slot]);
}

void RemoveAtProcessEnd() {
    v3SignalRemoveSemaphores();
}

// A name made from our process ID that another user owns keeps the client
// from taking signals; the user who made it is named, so that the cause can
// be found. Holds the register guard.
void NoteForeignOwner(SignalState& st, const char* name) {
    v3PlatformSemaphoreOwner owner{};
    if (v3PlatformNamedSemaphoreForeignOwner(name, &owner) != 1) return;
    if (owner.user[0] != '\0') {
        v3StringPrint(st.refusal, kRefusalSize,
                      "Signal semaphore %s belongs to another user, %s (uid %u)", owner.path,
                      owner.user, owner.uid);
    } else {
        v3StringPrint(st.refusal, kRefusalSize,
                      "Signal semaphore %s belongs to another user, uid %u", owner.path, owner.uid);
    }
}

// Creates whatever of the semaphores and watchers is still missing, so that
// a failed first registration can be completed by a later one. Holds the
// register guard.
int EnsureRegisteredLocked(SignalState& st) {
    st.refusal[0] = '\0';
    uint64_t pid = v3ProcessID();
    if (pid == 0) return -1;
    if (!st.names_made.load()) {
        v3StringPrint(st.names[0], kNameSize, "%016Y%s", pid, core_contract::kSemaphoreTerminate);
        v3StringPrint(st.names[1], kNameSize, "%016Y%s", pid, core_contract::kSemaphoreInterrupt);
    }
    for (int slot = 0; slot < 2; ++slot) {
        if (st.semaphores[slot] != nullptr) continue;
        st.semaphores[slot] = v3PlatformNamedSemaphoreCreate(st.names[slot]);
        if (st.semaphores[slot] == nullptr) {
            NoteForeignOwner(st, st.names[slot]);
            return -1;
        }
        st.names_made.store(true);
        st.created[slot].store(true);
        if (!st.exit_hook_set) st.exit_hook_set = std::atexit(RemoveAtProcessEnd) == 0;
    }
    for (int slot = 0; slot < 2; ++slot) {
        if (st.watching[slot]) continue;
        uint64_t tid = 0;
        void* arg = reinterpret_cast<void*>(static_cast<intptr_t>(slot));
        if (v3ThreadStart(&tid, WatchSemaphore, arg, kWatcherStack) != 0) return -1;
        st.watching[slot] = true;
    }
    return 0;
}

void DispatchOsSignals(void*) {
    v3OsSignal which;
    while (v3PlatformSignalsWait(&which) == 0) {
        switch (which) {
            case v3OsSignal::kInterrupt: RunConsoleEvent(kConsoleCtrlC, kUnhandledCtrlC); break;
            case v3OsSignal::kQuit: RunConsoleEvent(kConsoleCtrlBreak, kUnhandledCtrlBreak); break;
            case v3OsSignal::kHangUp: RunConsoleEvent(kConsoleLogoff, kUnhandledLogoff); break;
            case v3OsSignal::kTerminate: RunSignal(kSignalTerminate); break;
        }
    }
}

}  // namespace

int v3SignalRegister(int sig, void (*handler)(int)) {
    SignalState& st = State();
    {
        std::lock_guard<std::mutex> hold(st.register_guard);
        if (EnsureRegisteredLocked(st) != 0) return -1;
    }
    return v3SignalHandlerInstall(sig, handler);
}

int v3SignalRegisterRefusal(char* out, uint64_t size) {
    if (out == nullptr || size == 0) return -1;
    SignalState& st = State();
    std::lock_guard<std::mutex> hold(st.register_guard);
    v3StringPrint(out, size, "%s", st.refusal);
    return st.refusal[0] == '\0' ? -1 : 0;
}

int v3SignalHandlerInstall(int sig, void (*handler)(int)) {
    SignalState& st = State();
    if (sig == kSignalInterrupt) {
        st.interrupt_handler.store(handler);
    } else if (sig == kSignalTerminate) {
        st.terminate_handler.store(handler);
    } else {
        return -1;
    }
    return 0;
}

int v3SignalSend(uint64_t pid, int sig) {
    if (sig == kSignalProbe) return v3PlatformProcessProbe(pid);
    if (pid == v3ProcessID()) {
        if (sig == kSignalInterrupt || sig == kSignalTerminate) {
            RunSignal(sig);
            return 0;
        }
        if (sig == kSignalKill) v3Exit(-1);
        return -1;
    }
    if (sig == kSignalKill) return v3PlatformProcessKill(pid);

    char name[kNameSize];
    if (sig == kSignalInterrupt) {
        v3StringPrint(name, sizeof name, "%016Y%s", pid, core_contract::kSemaphoreInterrupt);
    } else if (sig == kSignalTerminate) {
        v3StringPrint(name, sizeof name, "%016Y%s", pid, core_contract::kSemaphoreTerminate);
    } else {
        return -1;
    }
    v3PlatformNamedSemaphore* sem = v3PlatformNamedSemaphoreOpen(name);
    if (sem == nullptr) return -1;
    int rc = v3PlatformNamedSemaphoreRelease(sem);
    v3PlatformNamedSemaphoreClose(sem);
    return rc;
}

void v3ConsoleHandlerRegister(int (*handler)(uint32_t event)) {
    State().console_handler.store(handler);
}

int v3SignalDispatchStart() {
    SignalState& st = State();
    std::lock_guard<std::mutex> hold(st.dispatch_guard);
    if (st.dispatching) return 0;
    if (v3PlatformSignalsBlock() != 0) return -1;
    uint64_t tid = 0;
    if (v3ThreadStart(&tid, DispatchOsSignals, nullptr, kDispatcherStack) != 0) {
        // Nobody would take them: leave the signals to the system again.
        v3PlatformSignalsRestore();
        return -1;
    }
    st.dispatching = true;
    return 0;
}

void v3SignalRemoveSemaphores() {
    SignalState& st = State();
    // Only the names go: the watchers keep their handles until the process
    // is gone.
    if (!st.names_made.load() || st.names_removed.exchange(true)) return;
    for (int slot = 0; slot < 2; ++slot) {
        if (st.created[slot].load()) v3PlatformNamedSemaphoreRemove(st.names[slot]);
    }
}
