// Exit codes a core reports to the client that started it, with the values
// of the contract the client reads them by.
#pragma once

#include "contract/core_contract.h"

namespace qrvcore {

namespace cc = core_contract;

enum ExitCode : int {
    kExitSettingsChanged = cc::kSettingsChanged,  // restart me with -notermcheck
    kExitFinished = cc::kFinished,                // results are ready in wuresults_NN.dat
    kExitSpecial = cc::kSpecial,                  // cleanup done (or an internal error in normal mode)
    kExitInterrupted = cc::kInterrupted,          // stopped by a signal; a checkpoint is on disk
    kExitOutOfDate = cc::kOutOfDate,              // the unit needs a newer core
    kExitBadFormat = cc::kBadFormat,              // the work file is not a unit this core reads
    kExitBadUnit = cc::kUnitInvalid,              // the unit failed validation
    kExitCorrupt = cc::kUnitCorrupt,              // the unit's files are damaged
    kExitBadArguments = cc::kBadArguments,        // the command line was not understood
    kExitNoWorkFiles = cc::kNoWorkFiles,          // the unit's work file is missing
    kExitFileError = cc::kFileError,              // a file could not be opened, read or written
};

}  // namespace qrvcore
