#include "client/core_launch.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "client/client_state.h"
#include "client/core_output.h"
#include "client/shutdown.h"
#include "log/log.h"
#include "queue/deadline.h"
#include "support/child_process.h"
#include "support/file.h"
#include "support/process.h"
#include "support/signals.h"
#include "support/sleep.h"
#include "support/thread.h"

CoreRecord gCoreRecord;
std::atomic<uint16_t> gSettingsRestartMark{0};

namespace {

constexpr uint32_t kStartFailedPollMs = 2000;
constexpr uint32_t kOutputWaitMs = 250;
constexpr uint32_t kCoreEndWaitStepMs = 1000;

// Appends one piece; false (and out unchanged) when it does not fit.
bool Append(char* out, size_t* length, const char* format, ...) __attribute__((format(printf, 3, 4)));

bool Append(char* out, size_t* length, const char* format, ...) {
    char piece[kCoreCommandLineMax + 2];
    va_list args;
    va_start(args, format);
    const int n = vsnprintf(piece, sizeof piece, format, args);
    va_end(args);
    if (n < 0 || *length + static_cast<size_t>(n) > kCoreCommandLineMax) return false;
    std::memcpy(out + *length, piece, static_cast<size_t>(n) + 1);
    *length += static_cast<size_t>(n);
    return true;
}

// Starts the command line and waits for its end. A core that could not be
// started reads as 0 after one poll interval, like one that ended without a
// code: the interval keeps a core that cannot start from being retried at
// full speed.
uint32_t Supervise(const char* command, bool cleanup) {
    uint64_t pid = 0;
    const bool started = command[0] != '\0' && v3ProcessCreate(command, &pid) == 0;
    // Cleanup runs may happen beside a computing core (a deadline pass on
    // another thread): they keep their process ID to themselves, so that the
    // record, and a stop request, always mean the core that computes.
    if (started && !cleanup) {
        gCoreRecord.ended.Rearm();
        gCoreRecord.process_id.store(pid);
        gCoreRecord.running.store(1);
    }
    uint32_t code = 0;
    if (!started) {
        v3Sleep(kStartFailedPollMs);
    } else if (v3ProcessWaitExit(pid, &code) != 0) {
        code = 0;
    }
    // The end is marked before the shutdown check: a shutdown waits for it
    // to let the core finish its checkpoint before the client ends.
    if (started && !cleanup) {
        gCoreRecord.running.store(0);
        gCoreRecord.ended.Wake();
    }
    // The shutdown's stop request ends a core within moments; its answer is
    // the shutdown's business, not a unit's outcome to be logged after the
    // shutdown line.
    WaitIfShuttingDown();
    return code == 0 ? kCoreStartFailed : code;
}

void AnnounceRun(const char* suffix, const char* command, bool output_started) {
    if (!output_started) LogAt(kLogNormal, "Warning: Couldn't start output thread for work unit %s\n", suffix);
    const char* stamp = MakeTimeStamp(kStampFull);
    LogAt(kLogNormal, "Working on Unit %s %s\n", suffix, stamp);
    LogAt(kLogNormal, "+ Working ...\n");
    LogAt(kLogTrace, "- Calling '%s'\n\n", command);
}

}  // namespace

int BuildCoreCommandLine(char* out, const char* core_file, const char* work_dir,
                         const char* suffix, const CoreCommandOptions& o) {
    out[0] = '\0';
    size_t n = 0;
    namespace cc = core_contract;
    bool fits = Append(out, &n, "%s %s %s %s %s", core_file, cc::kArgDir, work_dir, cc::kArgSuffix, suffix);
    if (fits && o.cleanup) fits = Append(out, &n, " %s", cc::kArgCleanup);
    if (fits && o.priority != 0) {
        fits = Append(out, &n, " %s %d", cc::kArgPriority, static_cast<int>(o.priority));
    }
    if (fits && o.cpu_usage != 100) {
        fits = Append(out, &n, " %s %d", cc::kArgCpu, static_cast<int>(o.cpu_usage));
    }
    if (fits && o.no_assembly) fits = Append(out, &n, " %s", cc::kArgNoAssembly);
    if (fits && o.notermcheck) fits = Append(out, &n, " %s", cc::kArgNoTermCheck);
    if (fits && o.service) fits = Append(out, &n, " %s", cc::kArgService);
    if (fits && o.forceasm) fits = Append(out, &n, " %s", cc::kArgForceAsm);
    if (fits) fits = Append(out, &n, " %s %u\n", cc::kArgLifeline, static_cast<unsigned>(o.lifeline));
    if (!fits) out[0] = '\0';
    return fits ? 0 : -1;
}

CoreCommandOptions NextCoreOptions(ClientState& s, bool cleanup) {
    CoreCommandOptions o;
    o.cleanup = cleanup;
    o.priority = s.core_priority;
    o.cpu_usage = s.cpu_usage;
    o.no_assembly = s.use_assembly == 0;
    o.service = s.service.load() != 0;
    o.lifeline = v3ProcessID();
    if (!cleanup) {
        o.notermcheck = gSettingsRestartMark.exchange(0) != 0;
        o.forceasm = s.forceasm != 0 && s.forceasm_passed.exchange(1) == 0;
    }
    return o;
}

uint32_t RunCore(ClientState& state, const char* core_file, const char* work_dir,
                 const char* suffix, int cleanup) {
    char command[kCoreCommandLineMax + 1];
    const CoreCommandOptions options = NextCoreOptions(state, cleanup != 0);
    if (BuildCoreCommandLine(command, core_file, work_dir, suffix, options) != 0) {
        LogAt(kLogNormal, "- Command line for %s too long; core not started\n", core_file);
    }
    CoreOutputHandshake handshake;
    std::snprintf(handshake.log_path, sizeof handshake.log_path, "%s%s%s%s", work_dir,
                  core_contract::kCoreLogStem, suffix, core_contract::kLogExtension);
    // Only this run's output is to be copied.
    v3FileDelete(handshake.log_path);
    if (cleanup != 0) return Supervise(command, true);

    gCoreRecord.output_quiet.store(0);
    handshake.progress.queue = state.work_queue.get();
    handshake.progress.deadlines_on = state.deadline != 0;
    handshake.progress.edition_code = state.edition_code;
    handshake.progress.stop_core = StopCore;

    const bool output_started =
        v3ThreadStart(nullptr, CoreOutputThread, &handshake, kOutputThreadStack) == 0;
    AnnounceRun(suffix, command, output_started);
    const uint32_t code = Supervise(command, false);
    handshake.done.store(1);
    handshake.exited.Wake();
    // The core's last lines are in the log before its exit is acted on.
    while (output_started && !handshake.stopped.Sleep(kOutputWaitMs)) {
    }
    return code;
}

int StopCore() {
    if (gDeadlineInterruptMark.load() == 0) gCoreRecord.output_quiet.store(1);
    if (gCoreRecord.running.load() == 0) return 0;
    return v3SignalSend(gCoreRecord.process_id.load(), kSignalInterrupt);
}

bool WaitForCoreEnd(uint32_t ms) {
    // Steps, so that a test's sleep hook sees the bound pass in its own time.
    for (uint32_t waited = 0; gCoreRecord.running.load() != 0; waited += kCoreEndWaitStepMs) {
        if (waited >= ms) return false;
        gCoreRecord.ended.Sleep(std::min(kCoreEndWaitStepMs, ms - waited));
    }
    return true;
}
