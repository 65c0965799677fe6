#include "queue/queue_record.h"

#include <cstring>

#include "support/byte_order.h"
#include "support/text.h"

namespace {

// A stored Time value: the signed seconds (the Int128's high half) first,
// then the binary fraction.
Int128 LoadTime(const uint8_t* p) { return Int128{LoadLE64(p), LoadLE64(p + 8)}; }

void StoreTime(uint8_t* p, const Int128& t) {
    StoreLE64(p, t.high);
    StoreLE64(p + 8, t.low);
}

}  // namespace

uint32_t QueueEntry::HeaderWord(size_t offset) const { return LoadLE32(work_header + offset); }

void QueueEntry::SetHeaderWord(size_t offset, uint32_t value) {
    StoreLE32(work_header + offset, value);
}

std::string QueueEntry::core_name() const {
    const char* name = reinterpret_cast<const char*>(work_header + kWhCoreName);
    std::string shown(name, strnlen(name, kCoreNameSize - 1));
    // The work server wrote the name, and it is only ever shown: on the
    // console and in the log, where its control characters would act.
    v3StrMaskControls(shown.data(), shown.size());
    return shown;
}

void QueueEntry::set_core_name(const char* name) {
    char* field = reinterpret_cast<char*>(work_header + kWhCoreName);
    memset(field, 0, kCoreNameSize);
    if (name != nullptr) memcpy(field, name, strnlen(name, kCoreNameSize - 1));
}

void DecodeQueueEntry(const uint8_t* bytes, QueueEntry* entry) {
    entry->status = LoadLE32(bytes + kEntryStatus);
    entry->reserved = LoadLE32(bytes + kEntryReserved);
    entry->received = LoadTime(bytes + kEntryReceived);
    entry->completed = LoadTime(bytes + kEntryCompleted);
    entry->has_deadline = LoadLE32(bytes + kEntryHasDeadline);
    entry->core_finished = LoadLE32(bytes + kEntryCoreFinished);
    memcpy(entry->core_location, bytes + kEntryCoreLocation, kCoreLocationSize);
    entry->download_options = bytes[kEntryDownloadOptions];
    memcpy(entry->work_header, bytes + kEntryWorkHeader, kWorkHeaderBytes);
    entry->deadline = LoadTime(bytes + kEntryDeadline);
}

void EncodeQueueEntry(const QueueEntry& entry, uint8_t* bytes) {
    StoreLE32(bytes + kEntryStatus, entry.status);
    StoreLE32(bytes + kEntryReserved, entry.reserved);
    StoreTime(bytes + kEntryReceived, entry.received);
    StoreTime(bytes + kEntryCompleted, entry.completed);
    StoreLE32(bytes + kEntryHasDeadline, entry.has_deadline);
    StoreLE32(bytes + kEntryCoreFinished, entry.core_finished);
    memcpy(bytes + kEntryCoreLocation, entry.core_location, kCoreLocationSize);
    bytes[kEntryDownloadOptions] = entry.download_options;
    memcpy(bytes + kEntryWorkHeader, entry.work_header, kWorkHeaderBytes);
    StoreTime(bytes + kEntryDeadline, entry.deadline);
}

void DecodeWorkQueue(const uint8_t* bytes, WorkQueue* queue) {
    queue->version = LoadLE32(bytes + kQueueVersionOffset);
    queue->current = LoadLE32(bytes + kQueueCurrentOffset);
    for (uint32_t i = 0; i < kQueueSlots; ++i) {
        DecodeQueueEntry(bytes + kQueueEntriesOffset + i * kQueueEntrySize, &queue->entries[i]);
    }
    const uint32_t bits = LoadLE32(bytes + kQueueFractionOffset);
    static_assert(sizeof(float) == 4, "the fraction is an IEEE single");
    memcpy(&queue->performance_fraction, &bits, sizeof bits);
    queue->performance_count = LoadLE32(bytes + kQueueCountOffset);
}

void EncodeWorkQueue(const WorkQueue& queue, uint8_t* bytes) {
    StoreLE32(bytes + kQueueVersionOffset, queue.version);
    StoreLE32(bytes + kQueueCurrentOffset, queue.current);
    for (uint32_t i = 0; i < kQueueSlots; ++i) {
        EncodeQueueEntry(queue.entries[i], bytes + kQueueEntriesOffset + i * kQueueEntrySize);
    }
    uint32_t bits = 0;
    memcpy(&bits, &queue.performance_fraction, sizeof bits);
    StoreLE32(bytes + kQueueFractionOffset, bits);
    StoreLE32(bytes + kQueueCountOffset, queue.performance_count);
}
