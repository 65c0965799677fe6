#include <memory>
#include <new>

#include "log/log.h"
#include "queue/queue_file_io.h"
#include "queue/queue_record.h"
#include "queue/work_queue.h"
#include "support/atomic_file.h"
#include "support/byte_order.h"
#include "support/file.h"
#include "support/sleep.h"

namespace {

// A file that exists but cannot be used is kept for inspection instead of
// being replaced by the new queue that start-up makes when loading fails.
void SetAsideDamagedQueue() {
    const int rc = v3FileMoveAside(kQueueFileName, ".bad");
    if (rc == kFileErrNotFound) return;
    if (!LogLevelOn(kLogNormal)) return;
    if (rc == 0) {
        LogPrint("- Damaged work queue renamed to queue.dat.bad\n");
    } else {
        LogPrint("- Damaged work queue could not be renamed to queue.dat.bad\n");
    }
}

enum class LoadResult { kDone, kMissing, kUnusable };

// Reads the current layout (version 324 or later) after its version word;
// a file shorter than the record is damaged, not a queue.
LoadResult ReadCurrentLayout(v3File* file, const uint8_t* version_bytes, WorkQueue* queue) {
    uint8_t bytes[kQueueFileSize];
    for (size_t i = 0; i < 4; ++i) bytes[i] = version_bytes[i];
    if (ReadQueueBytes(file, bytes + 4, kQueueFileSize - 4) != kQueueFileSize - 4) {
        return LoadResult::kUnusable;
    }
    // The pause looks idle and stays: the client has always held queue.dat
    // open this long while loading, and monitors that read the file beside
    // a running client expect that; it costs 150 ms per load.
    v3Sleep(150);
    DecodeWorkQueue(bytes, queue);
    return LoadResult::kDone;
}

// may_change_disk: false for a read-only copy, which neither converts an old
// file (the conversion saves) nor moves a damaged one.
LoadResult LoadInto(WorkQueue* queue, bool may_change_disk) {
    ScopedFile file;
    const int rc = v3FileOpen(file.get(), kQueueFileName, kFileModeRead);
    if (rc == kFileErrNotFound) return LoadResult::kMissing;
    if (rc != 0) return LoadResult::kUnusable;
    uint8_t version_bytes[4];
    if (ReadQueueBytes(file.get(), version_bytes, 4) != 4) return LoadResult::kUnusable;
    const uint32_t version = LoadLE32(version_bytes);
    if (version >= kQueueVersion) return ReadCurrentLayout(file.get(), version_bytes, queue);
    if (!may_change_disk) return LoadResult::kUnusable;
    LogAt(kLogNormal, "Old queue version detected... converting\n");
    v3FileClose(file.get());
    return ConvertQueue(version, queue) == 0 ? LoadResult::kDone : LoadResult::kUnusable;
}

std::unique_ptr<WorkQueue> LoadRecord(bool may_change_disk) {
    std::unique_ptr<WorkQueue> queue = NewWorkQueue();
    if (!queue) return nullptr;
    const LoadResult outcome = LoadInto(queue.get(), may_change_disk);
    if (outcome == LoadResult::kUnusable && may_change_disk) SetAsideDamagedQueue();
    if (outcome != LoadResult::kDone) return nullptr;
    LogAt(kLogNormal, "Loaded queue successfully.\n");
    return queue;
}

}  // namespace

std::unique_ptr<WorkQueue> LoadQueue() { return LoadRecord(true); }

std::unique_ptr<WorkQueue> LoadQueueCopy() { return LoadRecord(false); }

std::unique_ptr<WorkQueue> NewWorkQueue() { return std::unique_ptr<WorkQueue>(new (std::nothrow) WorkQueue); }

int SaveQueue(WorkQueue* queue) {
    if (queue == nullptr) return -1;
    // One save at a time, from the status rewrite to the rename: two threads'
    // saves never mix, and an older snapshot never lands after a newer one.
    QueueGuard guard(*queue);
    for (QueueEntry& entry : queue->entries) {
        if (entry.status == kSlotActive) entry.status = kSlotReady;
    }
    uint8_t bytes[kQueueFileSize];
    EncodeWorkQueue(*queue, bytes);
    // A slot is FETCHING only while a fetch fills a copy of its own on the
    // client thread; the slot itself holds no data yet. Stored as such, a
    // client killed during the fetch would find the slot taken for good at
    // its next start, so the file says EMPTY. The running fetch keeps its
    // claim in memory.
    for (uint32_t i = 0; i < kQueueSlots; ++i) {
        if (queue->entries[i].status != kSlotFetching) continue;
        StoreLE32(bytes + kQueueEntriesOffset + i * kQueueEntrySize + kEntryStatus, kSlotEmpty);
    }
    if (v3FileReplaceAtomically(kQueueFileName, bytes, sizeof bytes) == 0) return 0;
    // The file is the only record of the units: left stale on a full disk,
    // the next start fetches over a unit it still names as empty, and the
    // unit is lost. Its size never changes, so the old blocks take the new
    // record where a replacement found no room.
    return v3FileOverwriteInPlace(kQueueFileName, bytes, sizeof bytes) == 0 ? 0 : -1;
}
