#include "client/client_thread.h"

#include "client/client_state.h"
#include "client/shutdown.h"
#include "client/work_cycle.h"
#include "log/log.h"
#include "support/signals.h"

namespace {

// A client that cannot take signals ends with this code, not 0: under a
// service manager that restarts failures only, it starts again, and with a
// new process ID its semaphores get new names. It is the BSD sysexits code
// for a failure that may pass on a retry (EX_TEMPFAIL), which systemd shows
// by that name.
constexpr int kNoSignalsExitCode = 75;

}  // namespace

void ClientThread(void* arg) {
    auto* state = static_cast<ClientState*>(arg);
    if (v3SignalRegister(kSignalTerminate, ShutdownHandler) != 0 ||
        v3SignalRegister(kSignalInterrupt, ShutdownHandler) != 0) {
        // A name of ours that another user made first is named with its
        // owner at every level: the client cannot run until it is gone.
        char refusal[512];
        if (v3SignalRegisterRefusal(refusal, sizeof refusal) == 0) LogPrint("%s\n", refusal);
        LogAt(kLogNormal, "Signal registration failed\n");
        // The self-interrupt would find no handler of signal 2 to run (its
        // registration is what failed) and end the process without the
        // shutdown line; the shutdown it would have run is called instead.
        ShutdownWithCode(kSignalInterrupt, kNoSignalsExitCode);
    }
    RunWorkCycle(state);
}
