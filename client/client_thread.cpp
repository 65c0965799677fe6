#include "client/client_thread.h"

#include "client/client_state.h"
#include "client/shutdown.h"
#include "client/work_cycle.h"
#include "log/log.h"
#include "support/signals.h"

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
        // shutdown line; the handler it would have run is called instead.
        ShutdownHandler(kSignalInterrupt);
    }
    RunWorkCycle(state);
}
