// The command line a client gives a core:
//   NAME -dir work/ -suffix 03 [-cleanup] [-priority N] [-cpu N] [-noassembly]
//        [-notermcheck] [-service] [-forceasm] -lifeline PID
// The client builds it as one text and splits it at blanks, so every piece
// arrives as its own argument.
#pragma once

#include <string>

namespace qrvcore {

struct CoreArgs {
    std::string dir;        // work directory, always ending in "/"
    std::string suffix;     // two decimal digits naming the unit's files
    long lifeline = 0;      // process to watch; 0 when none was given
    int cpu = 100;          // percent of one processor to use (1..100)
    int priority = 0;       // 0, or the client's low-priority request
    bool cleanup = false;
    bool noassembly = false;
    bool notermcheck = false;
    bool service = false;
    bool forceasm = false;
    bool cpu_clamped = false;  // -cpu was outside 1..100 and was clamped

    // dir + stem + suffix + ext, e.g. UnitFile("wudata_", ".dat").
    std::string UnitFile(const char* stem, const char* ext) const;
};

// Fills out from argv[1..argc-1]. Returns "" on success, else what was wrong
// (the core then exits with kExitBadArguments).
std::string ParseCoreArgs(int argc, const char* const* argv, CoreArgs* out);

// The arguments after the program name joined with blanks, for logs.
std::string JoinArgs(int argc, const char* const* argv);

}  // namespace qrvcore
