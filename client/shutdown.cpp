#include "client/shutdown.h"

#include <atomic>

#include "client/client_state.h"
#include "client/core_launch.h"
#include "core/core_parts.h"
#include "log/log.h"
#include "support/exit.h"
#include "support/platform/folder_lock.h"
#include "support/process.h"
#include "support/signals.h"
#include "support/sleep.h"

namespace {

// Set by the first caller of the shutdown handler. Ctrl-C and a terminate
// signal can arrive together on different threads; the core is asked to stop
// and the shutdown line is written once.
std::atomic<bool> g_shutting_down{false};

// How long the shutdown gives a core that was asked to stop to write its
// checkpoint and end. Once the client has ended, a service manager ends what
// is left of the service at once; the bound stays well below the unit's stop
// timeout. A core that does not end by then is left to the service manager
// and to its lifeline.
constexpr uint32_t kCoreStopWaitMs = 30000;

[[noreturn]] void WaitForEnd() {
    for (;;) v3Sleep(268435455);
}

}  // namespace

void ShutdownHandler(int signal) {
    ShutdownWithCode(signal, 0);
}

void ShutdownWithCode(int signal, int exit_code) {
    if (g_shutting_down.exchange(true)) WaitForEnd();
    // The words are swapped on purpose: users' log readers and the project's
    // help pages quote these lines as they stand, so signal 2 stays "SIGTERM".
    if (signal == kSignalInterrupt) {
        LogAt(kLogDiagnostic, "***** Got a SIGTERM signal (%u) from OS\n", 2u);
    } else if (signal == kSignalTerminate) {
        LogAt(kLogDiagnostic, "***** Got an Activate signal (%u) from OS\n", 15u);
    }
    // A core that could not be told has nothing to answer: no wait for it.
    if (StopCore() == 0) WaitForCoreEnd(kCoreStopWaitMs);
    // A core download that is under way ends with the process, and with it
    // the download's own clean-up: its part file goes here. The folder is
    // this client's alone while it holds the lock, so every part file in it
    // is this client's.
    if (PlatformFolderLockHeld()) RemoveCoreBundleParts();
    // Its data never reached the disk, so no later start knows of it: the
    // server sees it return only after its deadline.
    if (gClientState.unit_held.load() != 0) {
        LogAt(kLogNormal, "- Giving up the unit whose data the disk refused: it was never written\n");
    }
    // Other threads may still be at work (an upload, the autosend pass):
    // nothing they say may follow the shutdown line.
    LogLastWords("\nQuorvel Client Shutdown.\n");
    v3Exit(exit_code);
}

void WaitIfShuttingDown() {
    if (g_shutting_down.load()) WaitForEnd();
}

int ConsoleEventHandler(uint32_t event) {
    if (event == kConsoleLogoff && gClientState.service.load()) return 1;
    ShutdownHandler(kSignalInterrupt);
}

void SelfInterrupt() {
    // Sending to the own process runs the registered handler, which ends the
    // process; should the send fail, the handler is called all the same.
    v3SignalSend(v3ProcessID(), kSignalInterrupt);
    ShutdownHandler(kSignalInterrupt);
}
