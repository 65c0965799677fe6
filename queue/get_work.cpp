#include "queue/get_work.h"

#include <cstdio>

#include "log/log.h"
#include "queue/queue_operations.h"
#include "queue/slot_files.h"
#include "support/retry_backoff.h"

namespace {

constexpr uint32_t kFirstWaitMs = 5000;
constexpr uint32_t kLongestWaitMs = 2880000;
constexpr uint32_t kSpreadMs = 15000;

// Picks the slot to fetch into and marks it FETCHING; -1 when the queue is
// full and no slot could be freed.
int ClaimSlot(WorkQueue* queue, uint32_t start, uint32_t* slot) {
    *slot = start;
    if (FindNextSlot(queue, kSlotEmpty, slot) != 0) {
        LogAt(kLogNormal, "- Work queue full. Deleting oldest item\n");
        if (FindOldestSlot(queue, slot) != 0 || EmptySlot(queue, *slot) != 0) {
            LogAt(kLogEssential, "- Fatal Error: Queue full, but delete failed\n");
            return -1;
        }
    }
    queue->entries[*slot] = QueueEntry{};
    queue->entries[*slot].status = kSlotFetching;
    return 0;
}

}  // namespace

int GetWork(WorkQueue* queue, uint32_t* index, const WorkFetcher& fetch) {
    if (queue == nullptr || index == nullptr || !fetch) return -1;
    uint32_t slot = *index;
    {
        QueueGuard guard(*queue);
        if (FindNextSlot(queue, kSlotReady, &slot) == 0) {
            queue->current = slot;
            SaveQueue(queue);
            *index = slot;
            return 0;
        }
        if (ClaimSlot(queue, *index, &slot) != 0) return -1;
    }
    char work_file[kSlotFileNameSize];
    SlotFileName(work_file, SlotFile::kWorkData, slot);
    RetryBackoff(kFirstWaitMs, kLongestWaitMs, kSpreadMs);
    // The fetch fills a copy of its own, outside the guard: it may take hours
    // of retries, and a save by another thread meanwhile must neither wait
    // for it nor store a half-filled entry.
    QueueEntry fetched;
    fetched.status = kSlotFetching;
    int attempt = 1;
    while (fetch(&fetched, work_file, queue) != 0) {
        LogAt(kLogNormal, "- Error: Getwork #%d failed, and no other work to do. Waiting before retry\n",
              attempt);
        attempt = static_cast<int>(RetryBackoff(0, 0, 0)) + 1;
    }
    QueueGuard guard(*queue);
    fetched.status = kSlotReady;
    queue->entries[slot] = fetched;
    queue->current = slot;
    SaveQueue(queue);
    *index = slot;
    return 0;
}
