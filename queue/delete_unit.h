// Removing one unit: its core deletes the unit's files, then the slot is
// emptied and the queue saved.
#pragma once

#include <cstdint>
#include <functional>

struct WorkQueue;

// How a unit's core answered the run that was to remove the unit's files.
enum class CleanupResult {
    kDone,        // the core removed them (it answered with 101)
    kCoreAbsent,  // the core file is missing: nothing could be run
    kRefused,     // the core ran but answered with another code
};

// Runs the core of core_type in cleanup mode on the unit in slot index. Only
// the client knows the edition's core file name and how a core is run; it
// binds this.
using UnitCleanup = std::function<CleanupResult(uint32_t core_type, uint32_t index)>;

// 0 when the unit's core removed its files and the queue was saved; -1
// otherwise. The slot is emptied either way; an index of 10 or more changes
// nothing and gives -1.
int DeleteUnit(WorkQueue& queue, uint32_t index, const UnitCleanup& cleanup);
