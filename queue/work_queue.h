// The Work queue: the client's only persistent record of work units, ten
// slots held in memory as one record and on disk as queue.dat.
//
// queue.dat is 7056 bytes, every integer little-endian whatever the CPU:
//   0  u32 version           4  u32 current (0..9)
//   8  ten 704-byte entries, slot i at 8 + 704 * i
//   7048 f32 performance_fraction   7052 u32 performance_count
// The in-memory record below carries the same fields; queue_record.h turns
// it into those bytes and back, field by field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "queue/work_header_layout.h"
#include "support/int128.h"

inline constexpr uint32_t kQueueVersion = 324;  // client 3.24 times 100
inline constexpr uint32_t kQueueSlots = 10;
inline constexpr size_t kQueueEntrySize = 704;
inline constexpr size_t kQueueFileSize = 7056;
inline constexpr size_t kCoreLocationSize = 127;
inline constexpr size_t kCoreNameSize = 64;

inline constexpr const char* kQueueFileName = "queue.dat";

// Slot status values. Anything above FETCHING is an unknown item.
inline constexpr uint32_t kSlotEmpty = 0;
inline constexpr uint32_t kSlotReady = 1;
inline constexpr uint32_t kSlotDone = 2;
inline constexpr uint32_t kSlotActive = 3;  // in memory only: saved as READY
inline constexpr uint32_t kSlotFetching = 4;  // in memory only: saved as EMPTY

// The stored work header (entry offset 176) is the work server's reply kept
// as received, with the fields the client interprets in little-endian order
// (queue/work_header_layout.h); every other byte is the server's and is
// kept untouched.

// Type word of a work header kept in a Queue entry.
inline constexpr uint32_t kStoredHeaderType = 500;

// One slot (704 bytes on disk).
struct QueueEntry {
    uint32_t status = kSlotEmpty;
    uint32_t reserved = 0;
    Int128 received{};   // when the unit arrived
    Int128 completed{};  // when the core finished it
    uint32_t has_deadline = 0;
    uint32_t core_finished = 0;  // the core ended the unit with code 100
    char core_location[kCoreLocationSize] = {};  // zero-terminated when filled by us
    uint8_t download_options = 0;
    uint8_t work_header[kWorkHeaderBytes] = {};  // as stored in queue.dat
    Int128 deadline{};  // received seconds + deadline_seconds; fraction 0

    // The interpreted fields of the work header.
    uint32_t packet_type() const { return HeaderWord(kWhPacketType); }
    uint32_t core_type() const { return HeaderWord(kWhCoreType); }
    uint32_t protocol_version() const { return HeaderWord(kWhProtocolVersion); }
    uint32_t payload_size() const { return HeaderWord(kWhPayloadSize); }
    // a.b.c.d as a * 2^24 + b * 2^16 + c * 2^8 + d; 0 means none.
    uint32_t server_address() const { return HeaderWord(kWhServerAddress); }
    uint32_t server_port() const { return HeaderWord(kWhServerPort); }
    int32_t deadline_seconds() const {
        return static_cast<int32_t>(HeaderWord(kWhDeadlineSeconds));
    }
    // The core's display name, at most 63 characters: a header from a server
    // need not terminate it, so it is never read past its 64 bytes.
    std::string core_name() const;

    void set_packet_type(uint32_t v) { SetHeaderWord(kWhPacketType, v); }
    void set_core_type(uint32_t v) { SetHeaderWord(kWhCoreType, v); }
    void set_protocol_version(uint32_t v) { SetHeaderWord(kWhProtocolVersion, v); }
    void set_payload_size(uint32_t v) { SetHeaderWord(kWhPayloadSize, v); }
    void set_server_address(uint32_t v) { SetHeaderWord(kWhServerAddress, v); }
    void set_server_port(uint32_t v) { SetHeaderWord(kWhServerPort, v); }
    void set_deadline_seconds(int32_t v) {
        SetHeaderWord(kWhDeadlineSeconds, static_cast<uint32_t>(v));
    }
    // Stores name, cut to 63 characters, zero-filling the rest of the field.
    void set_core_name(const char* name);

    uint32_t HeaderWord(size_t offset) const;
    void SetHeaderWord(size_t offset, uint32_t value);
};

// The lock of one queue. Re-entrant, so a holder may call SaveQueue and the
// slot operations. A copy of the record is a record of its own, with a lock
// of its own: copying or assigning one never copies a lock's state.
class QueueLock {
public:
    QueueLock() = default;
    QueueLock(const QueueLock&) {}
    QueueLock& operator=(const QueueLock&) { return *this; }

private:
    friend class QueueGuard;
    std::recursive_mutex mutex_;
};

// The whole queue (7056 bytes on disk).
struct WorkQueue {
    uint32_t version = kQueueVersion;
    uint32_t current = 0;
    QueueEntry entries[kQueueSlots];
    float performance_fraction = 0.0f;
    uint32_t performance_count = 0;  // 0..4
    QueueLock lock;                  // in memory only
};

// Serialises slot changes and saves of one queue between the threads that
// share it (the work cycle, the autosend thread, the progress check).
class QueueGuard {
public:
    explicit QueueGuard(WorkQueue& queue) : hold_(queue.lock.mutex_) {}
    QueueGuard(const QueueGuard&) = delete;
    QueueGuard& operator=(const QueueGuard&) = delete;

private:
    std::unique_lock<std::recursive_mutex> hold_;
};

// Reads queue.dat into a new record (converting, and saving, a file of an
// older format). nullptr when the file cannot be opened or used (or no
// memory can be had); a file that exists but cannot be used is first
// renamed to queue.dat.bad, so that the new queue made in its place destroys
// nothing.
std::unique_ptr<WorkQueue> LoadQueue();

// Reads queue.dat without changing anything on disk: an older format or a
// damaged file gives nullptr. Prints "Loaded queue successfully." like
// LoadQueue. For counts that only look at a copy.
std::unique_ptr<WorkQueue> LoadQueueCopy();

// Fills record from queue.dat written by an older client whose version word
// (already read) is version, and saves it as the current format. 0, or -1
// when the file cannot be reopened or is too short for its format, or the
// save fails.
int ConvertQueue(uint32_t version, WorkQueue* record);

// A new Work queue: every slot EMPTY, current 0, version 324; nullptr when no
// memory can be had.
std::unique_ptr<WorkQueue> NewWorkQueue();

// Rewrites every ACTIVE slot to READY (in memory too), stores every FETCHING
// slot as EMPTY (in the file only), and replaces queue.dat with the record
// atomically: a crash or a full disk at any moment leaves the
// old file or the new one whole. 0, or -1.
int SaveQueue(WorkQueue* queue);
