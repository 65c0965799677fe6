#include "queue/delete_unit.h"

#include "log/log.h"
#include "queue/queue_operations.h"
#include "queue/slot_files.h"
#include "queue/work_queue.h"
#include "support/file.h"

int DeleteUnit(WorkQueue& queue, uint32_t index, const UnitCleanup& cleanup) {
    if (index >= kQueueSlots) return -1;
    uint32_t core_type = 0;
    {
        QueueGuard guard(queue);
        core_type = queue.entries[index].core_type();
    }
    char log_path[kSlotFileNameSize];
    SlotFileName(log_path, SlotFile::kCoreLog, index);

    // The core knows which files make up its units; the client removes only
    // the core's log and the slot.
    const CleanupResult result = cleanup ? cleanup(core_type, index) : CleanupResult::kCoreAbsent;
    if (result == CleanupResult::kDone) {
        v3FileDelete(log_path);
        return EmptySlot(&queue, index);
    }
    LogAt(kLogDiagnostic, "- Warning: Could not delete all work unit files (%u): %s\n", index,
          result == CleanupResult::kRefused ? "Core returned invalid code" : "Core file absent");
    EmptySlot(&queue, index);
    return -1;
}
