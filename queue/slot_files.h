// The files of a queued unit under "work/", named from its slot's two-digit
// index with the stems that the contract with the cores fixes
// ("work/wudata_03.dat").
#pragma once

#include <cstddef>
#include <cstdint>

enum class SlotFile {
    kWorkData,  // wudata_NN.dat: the unit, as the work server sent it
    kResults,   // wuresults_NN.dat: the core's result
    kProgress,  // wuinfo_NN.dat: the core's progress record
    kCoreLog,   // logfile_NN.txt: the core's log
};

// Room for the longest name and its terminator.
inline constexpr size_t kSlotFileNameSize = 32;

// Writes the path of the slot's file into out (kSlotFileNameSize bytes).
void SlotFileName(char out[kSlotFileNameSize], SlotFile file, uint32_t slot);
