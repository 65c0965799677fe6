// The contract between the client and the cores it runs: the one header both
// sides include (the client's core launch and unit files, and the testbed's
// cores), so that neither side can drift from the other. The cores are
// separate programs of the project; the client knows a unit's outcome only
// from their exit code, and its progress only from their files.
//
// Plain constants only: the cores link nothing of the client.
#pragma once

#include <cstddef>
#include <cstdint>

namespace core_contract {

// ---- Exit codes: a core's answer for the unit it ran -----------------------
inline constexpr uint32_t kSettingsChanged = 98;  // restart me at once with -notermcheck
inline constexpr uint32_t kFinished = 100;        // results are in wuresults_NN.dat
inline constexpr uint32_t kSpecial = 101;         // cleanup done; in normal mode an internal error
inline constexpr uint32_t kInterrupted = 102;     // stopped by signal 2; a checkpoint is on disk
inline constexpr uint32_t kOutOfDate = 110;       // the unit needs a newer core
inline constexpr uint32_t kBadFormat = 111;       // the work file is not a unit this core reads
inline constexpr uint32_t kUnitInvalid = 112;     // the unit failed validation
inline constexpr uint32_t kUnitCorrupt = 113;     // the unit's files are damaged
inline constexpr uint32_t kUnitEnded = 114;       // the unit ended; its result is to be returned
inline constexpr uint32_t kBadArguments = 115;    // the command line was not understood
inline constexpr uint32_t kNoWorkFiles = 116;     // the unit's work file is missing
inline constexpr uint32_t kFileError = 117;       // a file could not be opened, read or written
inline constexpr uint32_t kMissing = 120;         // the core is missing or corrupt

// ---- The command line ------------------------------------------------------
// NAME -dir DIR -suffix NN [-cleanup] [-priority N] [-cpu N] [-noassembly]
//      [-notermcheck] [-service] [-forceasm] -lifeline PID
// in this order, as one text that the client splits at blanks, so every
// word arrives as its own argument.
inline constexpr const char* kArgDir = "-dir";
inline constexpr const char* kArgSuffix = "-suffix";
inline constexpr const char* kArgCleanup = "-cleanup";        // remove the unit's files, exit 101
inline constexpr const char* kArgPriority = "-priority";      // the client's priority setting
inline constexpr const char* kArgCpu = "-cpu";                // percent of a processor to use
inline constexpr const char* kArgNoAssembly = "-noassembly";  // no processor-specific code
inline constexpr const char* kArgNoTermCheck = "-notermcheck";
inline constexpr const char* kArgService = "-service";
inline constexpr const char* kArgForceAsm = "-forceasm";
inline constexpr const char* kArgLifeline = "-lifeline";      // the client's process ID

// ---- The unit's files -----------------------------------------------------
// DIR + stem + NN + extension; DIR is "work/" and NN the slot's two digits.
inline constexpr const char* kWorkDir = "work/";
inline constexpr const char* kWorkDataStem = "wudata_";   // the unit, from the work server
inline constexpr const char* kResultsStem = "wuresults_"; // the result, for the work server
inline constexpr const char* kProgressStem = "wuinfo_";   // the progress record below
inline constexpr const char* kCoreLogStem = "logfile_";   // the core's log, copied line by line
inline constexpr const char* kDataExtension = ".dat";
inline constexpr const char* kLogExtension = ".txt";

// ---- The progress record ("wuinfo_NN.dat") ----------------------------------
// Exactly 512 bytes, little-endian on every CPU, replaced whole by the core:
//   0 u32 (unused by the client, 0)   4 char[80] unit name, zero-terminated
//  84 u32 total steps                88 u32 steps done      92..511 zero
inline constexpr size_t kProgressRecordSize = 512;
inline constexpr size_t kProgressName = 4;
inline constexpr size_t kProgressNameSize = 80;
inline constexpr size_t kProgressTotal = 84;
inline constexpr size_t kProgressDone = 88;

// ---- Signals ----------------------------------------------------------------
// Every process (client and core) makes two named semaphores, "%016llX" of its
// process ID followed by these suffixes. A release of the "-SIGTERM" one
// delivers signal 2 and of the "-SIGINT" one signal 15: each name carries the
// other signal's name, and cores rely on exactly these names.
inline constexpr const char* kSemaphoreInterrupt = "-SIGTERM";  // delivers signal 2
inline constexpr const char* kSemaphoreTerminate = "-SIGINT";   // delivers signal 15

}  // namespace core_contract
