#include "client/start_up.h"

#include "client/arguments.h"
#include "client/benchmark.h"
#include "client/client_records.h"
#include "client/client_thread.h"
#include "client/shutdown.h"
#include "config/interactive_config.h"
#include "config/settings.h"
#include "core/core_parts.h"
#include "log/banner.h"
#include "log/log.h"
#include "queue/queue_operations.h"
#include "queue/status_page.h"
#include "queue/work_queue.h"
#include "support/console_input.h"
#include "support/dir.h"
#include "support/exit.h"
#include "support/file.h"
#include "support/format.h"
#include "support/platform/folder_lock.h"
#include "support/signals.h"
#include "support/sleep.h"
#include "support/thread.h"

namespace {

constexpr uint32_t kConsoleEdition = 2;
// A second client in a folder that another one works in ends with this code.
constexpr int kFolderTakenExitCode = 1;

void WriteArgumentLine(const ClientState* state) {
    if (state->argument_count <= 1) return;
    LogWrite("Arguments: ");
    for (int i = 1; i < state->argument_count; ++i) LogWrite("%s ", state->argument_list[i]);
    LogWrite("\n\n");
}

// Only one client works in a folder at a time: two would run cores on the
// same unit, overwrite each other's work data and return the same result
// twice. The lock is taken before the log is opened, since opening the log
// already rotates or creates log files; a refused client ends touching
// nothing. Showing the queue only reads, so it needs no lock; a -queueinfo
// that has to configure first takes it then, as it goes on to work.
void TakeFolderLock(const ClientState* state) {
    if (state->run_mode == MODE_QUEUEINFO) return;
    // Where the lock file cannot even be made (a read-only folder), no second
    // client can change anything there either.
    if (PlatformFolderLockTake("queue.lock") != FolderLockResult::kTaken) return;
    char folder[4096];
    if (PlatformCurrentDirectory(folder, sizeof folder) != 0) v3StringPrint(folder, sizeof folder, ".");
    v3Print("Another Quorvel client is already working in %s; exiting.\n", folder);
    v3Exit(kFolderTakenExitCode);
}

int Load(ClientState* state) {
    return LoadSettings(*state, state->edition_code, state->program_name,
                        [state](Settings&, char* text, uint64_t size) {
                            return ObtainUserIDFor(*state, text, size);
                        });
}

void LoadOrConfigure(ClientState* state) {
    if (Load(state) != 0) {
        state->run_mode = MODE_CONFIG;
        TakeFolderLock(state);
        WriteDefaultSettings(state->edition_code);
    }
    // The run mode stays MODE_CONFIG afterwards; the client thread treats it
    // like MODE_NORMAL.
    while (state->run_mode == MODE_CONFIG) {
        LogPrint("Configuring Quorvel...\n\n");
        const int saved = RunConfiguration(*state, state->program_name);
        WriteStatusPage();
        if (Load(state) == 0) break;
        if (saved != 0) StopForUnsavedConfiguration(state->program_name);
    }
}

void EnsureStatusPage() {
    v3FileStatusRecord status{};
    if (v3FileStatus(&status, "MyQuorvel.html") != 0 || status.size == 0) WriteStatusPage();
}

// A client killed during a core download leaves its part file; only a
// client that holds the folder may take it away, as no download of its own
// has begun yet. A client without the lock (showing the queue, or in a
// folder where no lock can be made) leaves the folder as it is.
void RemoveInterruptedDownloads() {
    if (!PlatformFolderLockHeld()) return;
    const uint32_t removed = RemoveCoreBundleParts();
    if (removed > 0) {
        LogAt(kLogDiagnostic, "- Removed %u part file(s) of interrupted core downloads\n", removed);
    }
}

void EnsureWorkDirectory() {
    v3Dir test{};
    if (v3DirOpen(&test, "work/", kDirModeTest) == 0) return;
    LogAt(kLogNormal, "Work directory not found. Creating...\n");
    v3Dir made{};
    if (v3DirOpen(&made, "work/", kDirModeCreate) != 0) {
        LogAt(kLogEssential, "+ Could not access or create work directory, exiting.\n");
        v3Exit(-1);
    }
}

void LoadOrCreateQueue(ClientState* state) {
    state->work_queue = LoadQueue();
    if (state->work_queue) return;
    LogAt(kLogNormal, "Could not open work queue, generating new queue...\n");
    state->work_queue = NewWorkQueue();
    if (!state->work_queue || SaveQueue(state->work_queue.get()) != 0) {
        // Level 6, not 2, as this line has always been: scripts and service
        // managers read the exit code, and the default log users compare stays as it was.
        LogAt(kLogDiagnostic, "Fatal: Could not save work queue to disk\n");
        v3Exit(-1);
    }
}

void MeasureMachine(ClientState* state) {
    if (state->run_mode == MODE_QUEUEINFO) return;
    LogAt(kLogNormal, "+ Benchmarking ...\n");
    state->benchmark = RunBenchmark() * 4;
    LogAt(kLogDetail, "The benchmark result is %u\n", static_cast<uint32_t>(state->benchmark));
}

[[noreturn]] void RefuseCommandLine(const ClientState* state) {
    v3Print("Bad Argument(s) received\n\n");
    PrintUsage(state->program_name);
    v3Print("Please note the above recognized flags and try again.\n");
    v3Print("Press any key to exit.\n");
    char key = 0;
    v3ReadKeys(&key, 1, 0);
    ShutdownHandler(kSignalInterrupt);
}

}  // namespace

int StartUp(ClientState* state) {
    if (!state->local && SetWorkingDirectory(state->edition_code) != 0) {
        v3Print("No directory settings found in registry. Using current directory...\n");
    }
    TakeFolderLock(state);
    OpenLog(&state->log_fallback);
    PrintBanner(state->edition_code);
    WriteArgumentLine(state);
    LoadOrConfigure(state);
    RemoveInterruptedDownloads();
    EnsureStatusPage();
    EnsureWorkDirectory();
    LoadOrCreateQueue(state);
    RemoveUnknownItems(state->work_queue.get(), UnitDeleterOf(*state));
    MeasureMachine(state);
    BuildRecords(*state);
    return 0;
}

void ClientMain(int argument_count, char** argument_list) {
    LogSetConsoleEcho(true);
    // The handlers are in place before the dispatcher takes the first signal:
    // a terminate signal during the questions, the benchmark or the key wait
    // must end the client through the shutdown handler, as an interrupt
    // does, not by the system's default with no shutdown line. The client
    // thread registers them again together with the signal semaphores.
    v3ConsoleHandlerRegister(ConsoleEventHandler);
    v3SignalHandlerInstall(kSignalTerminate, ShutdownHandler);
    v3SignalHandlerInstall(kSignalInterrupt, ShutdownHandler);
    // Signals are taken over before any thread exists, so that every thread
    // inherits the mask and none is ended by Ctrl-C behind the handler's back.
    v3SignalDispatchStart();

    ClientState* state = &gClientState;
    state->argument_count = argument_count;
    state->argument_list = argument_list;
    state->program_name =
        ProgramNameFromArgument(argument_count > 0 ? argument_list[0] : nullptr);
    state->run_mode = MODE_NORMAL;
    state->local = 0;
    state->edition_code = kConsoleEdition;
    if (ParseArguments(argument_count, argument_list, state) != 0) RefuseCommandLine(state);

    StartUp(state);

    if (v3ThreadStart(nullptr, ClientThread, state, kClientThreadStack) != 0) {
        LogAt(kLogNormal, "Error starting client thread\n");
        v3Exit(-1);
    }
    for (;;) v3Sleep(268435455);
}
