// The script language of the test core: which behaviour each start of the
// core shows. One command per line; '#' starts a comment line.
//
//   run N | run N-M | run N+ | run *   the commands below apply to those
//                                       starts (counted per script, from 1)
//   cleanup                             the commands below answer -cleanup
//
// Lines before the first header apply to starts no "run" header names.
// Commands: log TEXT, nolog, name TEXT, progress DONE [TOTAL], result TEXT,
// result_size N, sleep_ms N, on_sigint ANSWER, on_sigterm ANSWER,
// remove_files, crash, exit N. ANSWER is "exit N", "checkpoint MS", "ignore" or
// "crash".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testcore {

struct Command {
    std::string verb;
    std::string text;   // everything after the verb and one blank
    int64_t a = 0, b = 0;  // numeric operands, when the verb takes them
    int line = 0;
};

struct Section {
    enum Kind { kRun, kCleanup, kUnnamed } kind = kUnnamed;
    int64_t first = 1, last = 0;  // run range; last < 0 means no upper end
    std::vector<Command> commands;
};

struct Script {
    std::vector<Section> sections;
    // The section for a normal start number n (from 1), or for cleanup;
    // nullptr when none applies.
    const Section* ForRun(long n) const;
    const Section* ForCleanup() const;
};

// Parses text; on failure returns "line N: what" and leaves script empty.
std::string ParseScript(const std::string& text, Script* script);

// What a core does when no script is given: a unit that finishes normally.
const char* DefaultScriptText();

}  // namespace testcore
