// Exit codes a core reports to the client that started it. The client knows
// no other channel for a unit's outcome, so every core of the family uses
// exactly these numbers.
#pragma once

namespace qrvcore {

enum ExitCode : int {
    kExitSettingsChanged = 98,   // restart me with -notermcheck
    kExitFinished = 100,         // results are ready in wuresults_NN.dat
    kExitSpecial = 101,          // cleanup done (or an internal error in normal mode)
    kExitInterrupted = 102,      // stopped by a signal; a checkpoint is on disk
    kExitOutOfDate = 110,        // the unit needs a newer core
    kExitBadFormat = 111,        // the work file is not a unit this core reads
    kExitBadUnit = 112,          // the unit failed validation
    kExitCorrupt = 113,          // the unit's files are damaged
    kExitBadArguments = 115,     // the command line was not understood
    kExitNoWorkFiles = 116,      // the unit's work file is missing
    kExitFileError = 117,        // a file could not be opened, read or written
};

}  // namespace qrvcore
