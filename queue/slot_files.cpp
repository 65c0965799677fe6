#include "queue/slot_files.h"

#include <cstdio>

#include "contract/core_contract.h"

void SlotFileName(char out[kSlotFileNameSize], SlotFile file, uint32_t slot) {
    namespace cc = core_contract;
    const char* stem = cc::kWorkDataStem;
    const char* extension = cc::kDataExtension;
    switch (file) {
        case SlotFile::kWorkData: break;
        case SlotFile::kResults: stem = cc::kResultsStem; break;
        case SlotFile::kProgress: stem = cc::kProgressStem; break;
        case SlotFile::kCoreLog:
            stem = cc::kCoreLogStem;
            extension = cc::kLogExtension;
            break;
    }
    std::snprintf(out, kSlotFileNameSize, "%s%s%02u%s", cc::kWorkDir, stem, slot % 100, extension);
}
