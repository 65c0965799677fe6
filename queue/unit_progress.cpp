#include "queue/unit_progress.h"

#include <cstdio>

#include "log/log.h"
#include "queue/deadline.h"
#include "queue/slot_files.h"
#include "queue/unit_status.h"
#include "queue/whole_file.h"
#include "support/time_value.h"

namespace {

constexpr uint32_t kPartnerEdition = 5;

bool DeadlineInterrupt(const UnitProgressInputs& in, uint32_t slot, const QueueEntry& entry) {
    if (!in.deadlines_on || !in.core_running || entry.status != kSlotActive ||
        entry.has_deadline == 0 || DeadlinePassed(entry.deadline) == 0) {
        return false;
    }
    CalendarTime c{};
    v3TimeToCalendar(&c, entry.deadline);
    LogAt(kLogNormal, "Unit %i's deadline (%s %u %02u:%02u) has passed.\n", static_cast<int>(slot),
          kMonthNames[c.month], c.day + 1, c.hour, c.minute);
    LogAt(kLogNormal, "Going to interrupt core and move on to next unit...\n");
    gDeadlineInterruptMark.store(1);
    if (in.stop_core != nullptr) in.stop_core();
    return true;
}

}  // namespace

int CheckUnitProgressWith(const UnitProgressInputs& in) {
    if (in.queue == nullptr) return -1;
    // A copy taken under the guard: the work cycle and the autosend thread
    // change and save the queue while this runs on the core's output thread.
    uint32_t slot = 0;
    QueueEntry entry;
    {
        QueueGuard guard(*in.queue);
        slot = in.queue->current;
        if (slot >= kQueueSlots) return -1;
        entry = in.queue->entries[slot];
    }
    if (entry.status != kSlotActive && entry.status != kSlotReady) return -1;
    if (DeadlineInterrupt(in, slot, entry)) return -1;

    char path[kSlotFileNameSize];
    SlotFileName(path, SlotFile::kProgress, slot);
    uint8_t record[kProgressRecordSize];
    uint64_t length = 0;
    if (ReadWholeFile(record, sizeof record, &length, path) != 0 || length != sizeof record) {
        return -1;
    }
    if (in.edition_code == kPartnerEdition) WritePartnerRegistry(record);
    WriteUnitInfo(record, &entry.received, entry.has_deadline != 0 ? &entry.deadline : nullptr);
    return 0;
}
