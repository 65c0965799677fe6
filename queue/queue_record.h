// The byte form of the Work queue: queue.dat is little-endian on every CPU
// and is encoded and decoded field by field at its offsets, never by copying
// the in-memory record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "queue/work_queue.h"

// Offsets within a 704-byte entry.
inline constexpr size_t kEntryStatus = 0;
inline constexpr size_t kEntryReserved = 4;
inline constexpr size_t kEntryReceived = 8;
inline constexpr size_t kEntryCompleted = 24;
inline constexpr size_t kEntryHasDeadline = 40;
inline constexpr size_t kEntryCoreFinished = 44;
inline constexpr size_t kEntryCoreLocation = 48;
inline constexpr size_t kEntryDownloadOptions = 175;
inline constexpr size_t kEntryWorkHeader = 176;
inline constexpr size_t kEntryDeadline = 688;
static_assert(kEntryCoreLocation + kCoreLocationSize == kEntryDownloadOptions);
static_assert(kEntryWorkHeader + kWorkHeaderBytes == kEntryDeadline);
static_assert(kEntryDeadline + 16 == kQueueEntrySize, "a Queue entry is 704 bytes");

// Offsets within the 7056-byte record.
inline constexpr size_t kQueueVersionOffset = 0;
inline constexpr size_t kQueueCurrentOffset = 4;
inline constexpr size_t kQueueEntriesOffset = 8;
inline constexpr size_t kQueueFractionOffset = 7048;
inline constexpr size_t kQueueCountOffset = 7052;
static_assert(kQueueEntriesOffset + kQueueSlots * kQueueEntrySize == kQueueFractionOffset);
static_assert(kQueueCountOffset + 4 == kQueueFileSize, "queue.dat is 7056 bytes");

// One entry from/to its 704 bytes.
void DecodeQueueEntry(const uint8_t* bytes, QueueEntry* entry);
void EncodeQueueEntry(const QueueEntry& entry, uint8_t* bytes);

// The whole record from/to kQueueFileSize bytes.
void DecodeWorkQueue(const uint8_t* bytes, WorkQueue* queue);
void EncodeWorkQueue(const WorkQueue& queue, uint8_t* bytes);
