#include "queue/queue_operations.h"

#include "log/log.h"
#include "support/time_value.h"

int FindNextSlot(const WorkQueue* queue, uint32_t status, uint32_t* index) {
    if (queue == nullptr || index == nullptr) return -1;
    const uint32_t begin = *index < kQueueSlots - 1 ? *index + 1 : 0;
    for (uint32_t i = begin; i < kQueueSlots; ++i) {
        if (queue->entries[i].status == status) {
            *index = i;
            return 0;
        }
    }
    for (uint32_t i = 0; i < begin; ++i) {
        if (queue->entries[i].status == status) {
            *index = i;
            return 0;
        }
    }
    return -1;
}

int FindOldestSlot(const WorkQueue* queue, uint32_t* index) {
    if (queue == nullptr || index == nullptr) return -1;
    Int128 now{};
    v3TimeNow(&now);
    Int128 oldest = now;
    uint32_t slot = 0;
    for (uint32_t i = 0; i < kQueueSlots; ++i) {
        const QueueEntry& entry = queue->entries[i];
        if (entry.status != kSlotEmpty && v3Int128SLess(entry.received, oldest)) {
            oldest = entry.received;
            slot = i;
        }
    }
    if (v3Int128Equal(oldest, now)) return -1;
    *index = slot;
    return 0;
}

int EmptySlot(WorkQueue* queue, uint32_t index) {
    if (queue == nullptr || index >= kQueueSlots) return -1;
    QueueGuard guard(*queue);
    queue->entries[index].status = kSlotEmpty;
    return SaveQueue(queue);
}

void RemoveUnknownItems(WorkQueue* queue, const UnitDeleter& delete_unit) {
    if (queue == nullptr || !delete_unit) return;
    for (uint32_t i = 0; i < kQueueSlots; ++i) {
        const uint32_t status = queue->entries[i].status;
        if (status <= kSlotFetching) continue;
        LogAt(kLogNormal, "Deleting unknown item (%u) from queue position #%u\n", status, i);
        delete_unit(i);
    }
}

int PurgeQueue(WorkQueue* queue, const UnitDeleter& delete_unit) {
    if (queue == nullptr || !delete_unit) return -1;
    int result = 0;
    for (uint32_t i = 0; i < kQueueSlots; ++i) {
        uint32_t status = kSlotEmpty;
        {
            QueueGuard guard(*queue);
            status = queue->entries[i].status;
        }
        if (status == kSlotDone) continue;
        if (status != kSlotEmpty) LogAt(kLogNormal, "- Purging unit %02u from the queue\n", i);
        if (delete_unit(i) != 0) result = -1;
    }
    return result;
}

uint32_t CountServerDoneUnits(uint32_t address) {
    const std::unique_ptr<WorkQueue> copy = LoadQueueCopy();
    if (copy == nullptr) return 0;
    uint32_t count = 0;
    VisitSlots(copy.get(), kSlotDone, [&](uint32_t i) {
        if (copy->entries[i].server_address() == address) ++count;
    });
    return count;
}
