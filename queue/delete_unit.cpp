#include "queue/delete_unit.h"

#include <cstdio>

#include "client/client_state.h"
#include "core/core_file.h"
#include "client/core_launch.h"
#include "log/log.h"
#include "queue/queue_operations.h"
#include "queue/slot_files.h"
#include "queue/work_queue.h"
#include "support/file.h"

int DeleteUnit(uint32_t index) {
    WorkQueue* queue = gClientState.work_queue;
    if (queue == nullptr || index >= kQueueSlots) return -1;
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "%02d", static_cast<int>(index));
    char core_file[kCoreFileNameSize];
    {
        QueueGuard guard;
        MakeCoreFileName(core_file, gClientState.edition_code, queue->entries[index].core_type());
    }
    char log_path[kSlotFileNameSize];
    SlotFileName(log_path, SlotFile::kCoreLog, index);

    // The core knows which files make up its units; the client removes only
    // the core's log and the slot.
    const bool present = CorePresent(core_file);
    if (present && RunCore(core_file, "work/", suffix, 1) == kCoreSpecialExit) {
        v3FileDelete(log_path);
        return EmptySlot(queue, index);
    }
    if (LogLevelOn(6)) {
        LogPrint("- Warning: Could not delete all work unit files (%u): %s\n", index,
                 present ? "Core returned invalid code" : "Core file absent");
    }
    EmptySlot(queue, index);
    return -1;
}
