#include "conversation/return_results.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "log/log.h"
#include "net/network_permission.h"
#include "conversation/result_upload.h"
#include "queue/deadline.h"
#include "queue/slot_files.h"
#include "support/file.h"
#include "support/sleep.h"
#include "support/time_value.h"

namespace {

// Held while one unit is being sent. The work cycle and the autosend thread
// both send; their uploads never overlap. A pass that finds it held skips
// the unit (a later pass sends it); the work cycle waits for it instead.
std::mutex g_sending;

// The slots with status, in the visiting order 1..9, 0, as they stand now.
uint32_t SlotsWithStatus(WorkQueue* queue, uint32_t status, uint32_t out[kQueueSlots]) {
    QueueGuard guard(*queue);
    uint32_t n = 0;
    VisitSlots(queue, status, [&](uint32_t i) { out[n++] = i; });
    return n;
}

// True while slot still holds the unit that was taken out for sending: the
// upload runs without the guard, and meanwhile another thread may have
// emptied the slot and fetched a new unit into it.
bool SameUnit(const QueueEntry& slot, const QueueEntry& sent) {
    return slot.status == kSlotDone && v3Int128Equal(slot.received, sent.received) &&
           std::memcmp(slot.work_header, sent.work_header, sizeof slot.work_header) == 0;
}

// What becomes of the slot after the upload's result.
int Settle(WorkQueue* queue, uint32_t index, const QueueEntry& sent, int result,
           const char* results_file) {
    QueueGuard guard(*queue);
    const bool same = SameUnit(queue->entries[index], sent);
    if (result == kUploadOk) {
        // The server has the results: only now may they go.
        if (same) {
            EmptySlot(queue, index);
            v3FileDelete(results_file);
        }
        return 0;
    }
    if (result == kUploadUnusable) {
        LogAt(kLogNormal, "- Error: Could not read unit %02d file. Removing from queue.\n",
              static_cast<int>(index));
        if (same) EmptySlot(queue, index);
        return -1;
    }
    if (result == kUploadRefused) {
        if (same) EmptySlot(queue, index);
        return -1;
    }
    CalendarTime when{};
    v3TimeToCalendar(&when, sent.completed);
    LogAt(kLogNormal, "- Error: Could not transmit unit %02d (completed %s %u). Keeping unit in queue.\n",
          static_cast<int>(index), kMonthNames[when.month], when.day + 1);
    return -1;
}

int SendUnit(WorkQueue* queue, uint32_t index, const ResultUploader& upload) {
    if (index >= kQueueSlots) {
        LogAt(kLogDiagnostic, "- Error: Bad queue index while trying to send finished unit\n");
        return -1;
    }
    QueueEntry unit;
    {
        QueueGuard guard(*queue);
        unit = queue->entries[index];
    }
    if (unit.status != kSlotDone) {
        LogAt(kLogDiagnostic, "- Warning: Asked to send unfinished unit to server\n");
        return -1;
    }
    char results_file[kSlotFileNameSize];
    SlotFileName(results_file, SlotFile::kResults, index);
    return Settle(queue, index, unit, upload(&unit, results_file), results_file);
}

// Reports every slot with status whose deadline has passed and, when
// remove is set, deletes it. The guard is held from the test to the end of
// the deletion, so that the work cycle cannot start the unit in between.
void ExpireSlots(WorkQueue* queue, uint32_t status, bool remove, UnitDeleter delete_unit) {
    uint32_t slots[kQueueSlots];
    const uint32_t n = SlotsWithStatus(queue, status, slots);
    for (uint32_t k = 0; k < n; ++k) {
        const uint32_t i = slots[k];
        QueueGuard guard(*queue);
        const QueueEntry& e = queue->entries[i];
        if (e.status != status || e.has_deadline == 0 || !DeadlinePassed(e.deadline)) continue;
        CalendarTime when{};
        v3TimeToCalendar(&when, e.deadline);
        LogAt(kLogNormal, "Unit %i's deadline (%s %u %02u:%02u) has passed.\n", static_cast<int>(i),
              kMonthNames[when.month], when.day + 1, when.hour, when.minute);
        if (remove) delete_unit(i);
    }
}

}  // namespace

int SendFinishedUnit(const ResultReturn& r, uint32_t index) {
    std::unique_lock<std::mutex> hold(g_sending, std::try_to_lock);
    if (!hold.owns_lock()) {
        LogAt(kLogFullTrace, "- Already sending work\n");
        return -1;
    }
    return r.queue != nullptr && r.upload ? SendUnit(r.queue, index, r.upload) : -1;
}

int SendFinishedUnitInTurn(const ResultReturn& r, uint32_t index) {
    // Skipped while the autosend pass was busy with another unit, the unit
    // just finished would wait for the next pass, hours away; the send in
    // progress ends within its exchange deadline.
    std::lock_guard<std::mutex> hold(g_sending);
    return r.queue != nullptr && r.upload ? SendUnit(r.queue, index, r.upload) : -1;
}

int SendAllFinished(const ResultReturn& r) {
    WorkQueue* queue = r.queue;
    if (queue == nullptr) return -1;
    LogAt(kLogDiagnostic, "Trying to send all finished work units\n");
    uint32_t slots[kQueueSlots];
    const uint32_t n = SlotsWithStatus(queue, kSlotDone, slots);
    uint32_t sent = 0;
    uint32_t failed = 0;
    for (uint32_t k = 0; k < n; ++k) {
        {
            // A unit that another thread sent meanwhile is no longer due.
            QueueGuard guard(*queue);
            if (queue->entries[slots[k]].status != kSlotDone) continue;
        }
        if (SendFinishedUnit(r, slots[k]) == 0) {
            ++sent;
        } else {
            ++failed;
        }
    }
    LogAt(kLogDiagnostic, "+ Sent %u completed units to the server\n", sent);
    return failed > 0 ? -1 : 0;
}

void CheckDeadlines(const ResultReturn& r) {
    if (r.queue == nullptr || !r.delete_unit) return;
    // A finished unit may still be worth sending when the volunteer says
    // deadlines are to be ignored; one not yet computed never is.
    ExpireSlots(r.queue, kSlotDone, r.deadlines_on, r.delete_unit);
    ExpireSlots(r.queue, kSlotReady, true, r.delete_unit);
}

void AutosendPass(const ResultReturn& r) {
    CheckDeadlines(r);
    // Without a permission record nobody could have given one: nothing goes.
    if (r.permission != nullptr &&
        (r.permission->asknet == 0 || NetworkPermissionGiven(*r.permission) != 0)) {
        LogAt(kLogDiagnostic, "- Autosending finished units...\n");
        SendAllFinished(r);
        LogAt(kLogDiagnostic, "- Autosend completed\n");
    }
}

void AutosendThread(void* arg) {
    const auto* r = static_cast<const ResultReturn*>(arg);
    for (;;) {
        AutosendPass(*r);
        v3Sleep(kAutosendPeriodMs);
    }
}
