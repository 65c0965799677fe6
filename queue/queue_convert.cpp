// Queue files written by older clients, converted to the current layout.
//
//   version < 10     no version word: the first word is the current index and
//                    ten 704-byte entries start at offset 4
//   215 .. 299       today's 7056-byte layout, but the server address was
//                    kept at entry offset 40 and no port was stored
//   10..214, 300..323  an 8-byte header and ten 688-byte entries (no deadline)
#include "log/log.h"
#include "queue/queue_file_io.h"
#include "queue/queue_record.h"
#include "queue/work_queue.h"
#include "support/byte_order.h"
#include "support/file.h"

namespace {

constexpr size_t kOldestHeaderSize = 4;
constexpr size_t kShortEntrySize = 688;
constexpr uint32_t kDefaultWorkPort = 8080;

bool IsSecondGeneration(uint32_t version) { return version >= 215 && version <= 299; }

// Only READY and DONE units of the oldest format are taken over.
int ConvertOldest(v3File* file, uint32_t first_word, WorkQueue* record) {
    uint8_t old[kQueueFileSize - 4];
    // The entries end at 4 + 7040; anything after them is not used.
    constexpr size_t kNeeded = kOldestHeaderSize + kQueueSlots * kQueueEntrySize;
    if (ReadQueueBytes(file, old, sizeof old) < kNeeded) return -1;
    record->current = first_word;
    for (uint32_t i = 0; i < kQueueSlots; ++i) {
        QueueEntry entry;
        DecodeQueueEntry(old + kOldestHeaderSize + i * kQueueEntrySize, &entry);
        if (entry.status == kSlotReady || entry.status == kSlotDone) record->entries[i] = entry;
    }
    return 0;
}

int ConvertSecondGeneration(v3File* file, WorkQueue* record) {
    uint8_t bytes[kQueueFileSize];
    if (ReadQueueBytes(file, bytes, sizeof bytes) != sizeof bytes) return -1;
    DecodeWorkQueue(bytes, record);
    for (QueueEntry& entry : record->entries) {
        if (entry.server_address() == 0) {
            entry.set_server_address(entry.has_deadline);
            // That word was the address, not a deadline flag: left set, it
            // would make the zero bytes after the header a deadline in 2000
            // and the next deadline pass would throw the unit away.
            entry.has_deadline = 0;
        }
        if (entry.server_port() == 0) entry.set_server_port(kDefaultWorkPort);
    }
    return 0;
}

int ConvertShortEntries(v3File* file, WorkQueue* record) {
    uint8_t header[8];
    if (ReadQueueBytes(file, header, sizeof header) != sizeof header) return -1;
    record->current = LoadLE32(header + 4);
    for (QueueEntry& entry : record->entries) {
        uint8_t bytes[kQueueEntrySize] = {};
        if (ReadQueueBytes(file, bytes, kShortEntrySize) != kShortEntrySize) return -1;
        DecodeQueueEntry(bytes, &entry);
        entry.has_deadline = 0;
    }
    return 0;
}

}  // namespace

int ConvertQueue(uint32_t version, WorkQueue* record) {
    if (record == nullptr || version >= kQueueVersion) return -1;
    *record = WorkQueue{};
    ScopedFile file;
    if (v3FileOpen(file.get(), kQueueFileName, kFileModeRead) != 0) {
        LogAt(kLogNormal, "Couldn't load old queue for conversion\n");
        return -1;
    }
    int rc = 0;
    if (version < 10) {
        rc = ConvertOldest(file.get(), version, record);
    } else {
        LogAt(kLogNormal, "Queue v%.02f detected... converting\n", version * 0.01);
        rc = IsSecondGeneration(version) ? ConvertSecondGeneration(file.get(), record)
                                         : ConvertShortEntries(file.get(), record);
    }
    v3FileClose(file.get());
    record->version = kQueueVersion;
    if (rc != 0) return -1;
    return SaveQueue(record);
}
