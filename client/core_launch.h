// Launching and supervising a core: the command line that names its unit,
// the child process at idle priority, the copy of its log into the client's
// log, and its exit code, which is the unit's outcome.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "contract/core_contract.h"
#include "support/sleep.h"

struct ClientState;

// Exit codes of a core, as the contract with the cores fixes them, and the
// one the client gives a core that could not be started.
inline constexpr uint32_t kCoreSettingsChanged = core_contract::kSettingsChanged;
inline constexpr uint32_t kCoreStartFailed = 99;      // also an exit with 0
inline constexpr uint32_t kCoreFinished = core_contract::kFinished;
inline constexpr uint32_t kCoreSpecialExit = core_contract::kSpecial;  // cleanup done; in normal mode an error
inline constexpr uint32_t kCoreInterrupted = core_contract::kInterrupted;
inline constexpr uint32_t kCoreOutOfDate = core_contract::kOutOfDate;
inline constexpr uint32_t kCoreBadFormat = core_contract::kBadFormat;
inline constexpr uint32_t kCoreUnitInvalid = core_contract::kUnitInvalid;
inline constexpr uint32_t kCoreUnitCorrupt = core_contract::kUnitCorrupt;
inline constexpr uint32_t kCoreUnitEnded = core_contract::kUnitEnded;
inline constexpr uint32_t kCoreBadArguments = core_contract::kBadArguments;
inline constexpr uint32_t kCoreNoWorkFiles = core_contract::kNoWorkFiles;
inline constexpr uint32_t kCoreFileError = core_contract::kFileError;
inline constexpr uint32_t kCoreMissing = core_contract::kMissing;  // also: the core file is absent

// Longest core command line, in characters (without the terminator).
inline constexpr size_t kCoreCommandLineMax = 374;

// The process-wide record of the core that runs in normal mode (one at a
// time). Read by the shutdown handler and the progress check on other
// threads, hence atomic.
struct CoreRecord {
    std::atomic<uint64_t> process_id{0};
    std::atomic<uint32_t> running{0};          // 1 from creation until the code is read
    std::atomic<uint32_t> output_quiet{0};     // the client is ending: copy no more core output
    v3Waker ended;                             // woken when the running core has ended
};
extern CoreRecord gCoreRecord;

// Set by the work cycle when a core stopped because its settings changed:
// the next core is told " -notermcheck", which clears the mark.
extern std::atomic<uint16_t> gSettingsRestartMark;

// Everything a command line says besides the core, directory and suffix.
struct CoreCommandOptions {
    bool cleanup = false;
    uint32_t priority = 0;      // passed when not 0
    uint32_t cpu_usage = 100;   // passed when not 100
    bool no_assembly = false;
    bool notermcheck = false;
    bool service = false;
    bool forceasm = false;
    uint64_t lifeline = 0;      // the client's process ID
};

// Writes "%s -dir %s -suffix %s", the optional pieces in their fixed order
// and " -lifeline %u\n" into out (kCoreCommandLineMax + 1 bytes). 0, or -1
// with out empty when the whole would not fit: a command line cut short
// could end in a wrong lifeline number, so none is made at all.
int BuildCoreCommandLine(char* out, const char* core_file, const char* work_dir,
                         const char* suffix, const CoreCommandOptions& options);

// The options state and the process-wide marks give the next core. A normal
// run takes the settings-restart mark and the one-time " -forceasm"; a
// cleanup run leaves both for the core that computes.
CoreCommandOptions NextCoreOptions(ClientState& state, bool cleanup);

// Runs core_file on the unit suffix in work_dir and returns its exit code
// (0 and a core that could not be started read as 99). In normal mode the
// core's log is copied into the client's log while it runs, and the call
// returns only after that copy is complete. The core's end is waited for,
// not polled, so it is acted on at once (a core that could not be started
// is given up after 2 seconds). Once the client is shutting down, the call
// does not return. The settings and, in normal mode, the Work queue come
// from state.
uint32_t RunCore(ClientState& state, const char* core_file, const char* work_dir,
                 const char* suffix, int cleanup);

// Asks a running core to stop (signal 2), without waiting for it. 0, or -1
// when the signal could not be sent; 0 when no core runs. Unless the
// deadline check asks (it sets the deadline interrupt mark first), the stop
// is the shutdown's: the core's log is no longer copied, so that nothing
// follows the shutdown line while the process ends.
int StopCore();

// Waits up to ms milliseconds for the computing core to end; true when none
// runs (any more). Used by the shutdown after StopCore, so that the core's
// checkpoint is written before the client's end lets the service manager
// take what is left.
bool WaitForCoreEnd(uint32_t ms);
