// One work fetch: the assignment server names a work server, the work server
// answers a 512-byte work request with a work assignment header and the
// unit's data on the same connection.
#include <cstring>
#include <memory>
#include <new>

#include "log/log.h"
#include "net/assignment.h"
#include "net/client_identity.h"
#include "net/network_permission.h"
#include "net/server_access.h"
#include "net/transport.h"
#include "net/work_header.h"
#include "queue/queue_operations.h"
#include "conversation/work_fetch.h"
#include "support/atomic_file.h"
#include "support/file.h"
#include "support/format.h"
#include "support/time_value.h"

namespace {

constexpr uint32_t kRequestCoreType = 101;
constexpr uint32_t kRequestCoreTypeSister = 201;  // client type 2 asks for the sister project's units

float PerformanceFraction(WorkQueue* queue) {
    QueueGuard guard(*queue);
    return queue->performance_fraction;
}

void Dotted(char out[16], uint32_t a) {
    v3StringPrint(out, 16, "%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
}

// The assignment's download fields and the time of receipt go into the
// entry with the converted header.
void FillEntry(QueueEntry* entry, const AssignmentReply& assignment, const WorkHeader& header) {
    std::memset(entry->core_location, 0, sizeof entry->core_location);
    std::memcpy(entry->core_location, assignment.core_location,
                strnlen(assignment.core_location, sizeof entry->core_location));
    entry->download_options = assignment.download_options;
    v3TimeNow(&entry->received);
    std::memcpy(entry->work_header, header.bytes, kWorkHeaderBytes);
    const int32_t period = entry->deadline_seconds();
    if (period >= 1) {
        entry->has_deadline = 1;
        entry->deadline = MakeTimeValue(TimeSeconds(entry->received) + period, 0);
    } else {
        entry->has_deadline = 0;
    }
}

// The work data replaces the unit's data file whole: a crash leaves the old
// file or the new one, never a part. -1 when the file could not be made at
// all, -2 when writing it failed.
int WriteWorkData(const char* work_file, const uint8_t* data, uint32_t size) {
    static const uint8_t kNothing = 0;
    const int r = v3FileReplaceAtomically(work_file, size > 0 ? data : &kNothing, size);
    if (r == kFileOk) return 0;
    if (r == kFileErrNotFound || r == kFileErrReadOnlyFs || r == kFileErrPathTooLong ||
        r == kFileErrMissingArgument) {
        return -1;
    }
    return -2;
}

// Sends the work request and reads the work assignment header into header,
// leaving the connection open for the data. 0 or -1.
int RequestUnit(const ServerAccess& access, const AssignmentReply& assignment, WorkHeader* header,
                std::unique_ptr<Connection>* conn) {
    const uint32_t address = assignment.server_address;
    uint8_t* h = header->bytes;
    StoreHeaderWord(h, kWhCoreType,
                    access.identity.client_type == 2 ? kRequestCoreTypeSister : kRequestCoreType);
    StoreHeaderWord(h, kWhDoneFromServer, CountServerDoneUnits(address));
    BuildClientHeader(access.identity, kPacketWorkRequest, 0, address, h);
    char host[16];
    Dotted(host, address);
    if (access.transport.Post(host, CurrentServerPort(), h, kWorkHeaderBytes, h, kWorkHeaderBytes, conn) != 0) {
        LogAt(kLogNormal, "+ Could not connect to Work Server\n");
        return -1;
    }
    WorkHeaderFromWire(h);
    return 0;
}

// Checks the work assignment header; closes the connection when it is
// refused. 0 or -1.
int CheckAssignmentHeader(const WorkHeader& header, Connection& conn) {
    if (LoadHeaderWord(header.bytes, kWhPacketType) != kPacketWorkAssignment) {
        LogAt(kLogDetail, "- Error: Bad packet type from server, expected work assignment\n");
        conn.Close();
        return -1;
    }
    if (LoadHeaderWord(header.bytes, kWhPayloadSize) > kMaxWorkPayload) {
        LogAt(kLogDetail, "- Error: Work packet too large\n");
        conn.Close();
        return -1;
    }
    if (static_cast<int32_t>(LoadHeaderWord(header.bytes, kWhDeadlineSeconds)) < 1) {
        LogAt(kLogNormal, "- Deadline time not received.\n");
    }
    return 0;
}

// Reads the unit's data and closes the connection. nullptr on failure (the
// connection is closed then too).
std::unique_ptr<uint8_t[]> ReceivePayload(uint32_t size, Connection& conn) {
    LogAt(kLogTrace, "- Receiving payload (expected size: %u)\n", size);
    std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[size > 0 ? size : 1]());
    const bool read = data != nullptr && conn.Read(data.get(), size) == 0;
    conn.Close();
    if (!read) {
        LogAt(kLogNormal, "+ Could not get Work unit data from Work Server\n");
        return nullptr;
    }
    return data;
}

void ReportConnectionsClosed(NetworkPermission& permission) {
    LogAt(kLogDetail, "+ Received work.\n");
    if (permission.asknet) {
        LogAt(kLogEssential, "+ Connections closed: You may now disconnect\n");
        ClearNetworkPermission(permission);
    } else {
        LogAt(kLogNormal, "+ Closed connections\n");
    }
}

// Less free space than this on the work folder's disk, and no unit is asked
// for: one page, the least any file takes.
constexpr uint64_t kFetchRoomBytes = 4096;

// On a disk without a free block a unit's data has nowhere to go: asked for
// anyway, the unit is thrown away (or held until the client stops) while
// the server waits for its return. When the space cannot be told, the fetch
// goes ahead and the write decides.
bool DiskHasRoom(const char* work_file) {
    char folder[kFilePathMax + 1];
    const char* slash = strrchr(work_file, '/');
    const size_t n = slash == nullptr ? 0 : static_cast<size_t>(slash - work_file);
    if (n == 0 || n > kFilePathMax) {
        strcpy(folder, ".");
    } else {
        memcpy(folder, work_file, n);
        folder[n] = '\0';
    }
    uint64_t free_bytes = 0;
    if (v3FileFreeBytes(folder, &free_bytes) != kFileOk || free_bytes >= kFetchRoomBytes) return true;
    LogAt(kLogNormal, "- Error: No room on the disk for a unit's data in %s; no work is fetched\n", folder);
    return false;
}

// A held unit's second chance at the disk; no server is asked.
int WriteHeldUnit(HeldUnit* held, QueueEntry* entry, const char* work_file) {
    const int written = WriteWorkData(work_file, held->data.get(), held->size);
    if (written != 0) {
        LogAt(kLogNormal, "- Error: Could not write the unit's data to %s\n", work_file);
        return written;
    }
    LogAt(kLogNormal, "+ Wrote the unit kept since the last try\n");
    *entry = held->entry;
    held->data.reset();
    held->size = 0;
    return 0;
}

}  // namespace

int FetchWork(const ServerAccess& access, QueueEntry* entry, const char* work_file, WorkQueue* queue,
              HeldUnit* held) {
    if (entry == nullptr || work_file == nullptr || queue == nullptr) return -1;
    if (held != nullptr && held->data) return WriteHeldUnit(held, entry, work_file);
    if (!DiskHasRoom(work_file)) return -1;
    WorkHeader header{};
    AssignmentReply assignment{};
    LogAt(kLogNormal, "+ Attempting to get work packet\n");
    AskNetworkPermission(access.permission);
    if (RequestAssignment(access, &assignment, PerformanceFraction(queue)) != 0) {
        LogAt(kLogNormal, "+ Couldn't get work instructions.\n");
        return -1;
    }
    if (assignment.server_address == 0) {
        LogAt(kLogNormal, "Work Unit has an invalid address.\n");
        return -1;
    }
    if (assignment.core_location[0] == '\0') {
        LogAt(kLogNormal, "The core URL is invalid.\n");
        return -1;
    }

    std::unique_ptr<Connection> conn;
    if (RequestUnit(access, assignment, &header, &conn) != 0) return -1;
    if (CheckAssignmentHeader(header, *conn) != 0) return -1;
    const uint32_t size = LoadHeaderWord(header.bytes, kWhPayloadSize);
    std::unique_ptr<uint8_t[]> data = ReceivePayload(size, *conn);
    if (data == nullptr) return -1;
    ReportConnectionsClosed(access.permission);

    // The entry is filled in a copy and handed over only once the unit is
    // usable and its data is on disk: a failure leaves the caller's entry as
    // it was.
    QueueEntry filled = *entry;
    FillEntry(&filled, assignment, header);
    // A unit whose server cannot be named could never be returned.
    if (filled.server_address() == 0) {
        LogAt(kLogDetail, "+ Work Unit has an invalid address\n");
        return -1;
    }
    // The port field is 32 bits wide but a TCP port is 16: only the low 16
    // bits name the port, and they are what is kept, so the results go back
    // to that port (0 there still means the assignment server's port).
    filled.set_server_port(filled.server_port() & 0xFFFF);
    if (filled.server_port() == 0) filled.set_server_port(CurrentServerPort());
    filled.set_packet_type(kStoredHeaderType);
    const int written = WriteWorkData(work_file, data.get(), size);
    if (written == 0) {
        *entry = filled;
        return 0;
    }
    LogAt(kLogNormal, "- Error: Could not write the unit's data to %s\n", work_file);
    if (held != nullptr) {
        held->entry = filled;
        held->data = std::move(data);
        held->size = size;
    }
    return written;
}
