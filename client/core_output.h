// The output thread of one core run: copies the core's log into the client's
// log while the core runs, and runs the unit progress check on the lines
// that report written progress.
#pragma once

#include <atomic>
#include <cstdint>

#include "queue/unit_progress.h"
#include "support/file.h"
#include "support/sleep.h"

inline constexpr uint32_t kOutputThreadStack = 8192;
// Longest line printed at once, in characters; a longer line goes out in
// pieces of this size.
inline constexpr size_t kCoreLogLineMax = 999;

// Shared by the launcher and its output thread; the launcher owns it and
// keeps it alive until the thread has woken `stopped`. The wakers carry the
// two marks across at once, so neither side learns of the other's step a
// polling interval late.
struct CoreOutputHandshake {
    std::atomic<uint32_t> done{0};      // set by the launcher: the core has exited
    std::atomic<uint32_t> finished{0};  // set by the thread: it reads no more
    v3Waker exited;                     // woken by the launcher after done
    v3Waker stopped;                    // woken by the thread after finished, its last step
    char log_path[kFilePathMax + 1] = {};
    // What the unit progress check works with; the thread adds the core
    // running mark as it sees it at each check.
    UnitProgressInputs progress;
};

// Thread body; arg is the CoreOutputHandshake.
void CoreOutputThread(void* arg);

// True for a core log line after which the core's progress record is new.
bool IsProgressLine(const char* line);
