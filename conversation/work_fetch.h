// The work fetch: asks the assignment server for a work server, fetches a
// unit from it, stores its work data and fills its Queue entry. Built with
// the server conversation.
#pragma once

#include <cstdint>
#include <memory>

#include "queue/work_queue.h"

struct ServerAccess;

// A unit received whole whose data could not yet be written; owned by the
// caller across the retries of one fetch.
struct HeldUnit {
    QueueEntry entry;
    std::unique_ptr<uint8_t[]> data;
    uint32_t size = 0;
};

// Fills entry (received, has_deadline, deadline, core_location,
// download_options, work_header, server_port) and writes the unit's work
// data to work_file. queue supplies the performance fraction reported to the
// assignment server. The request names the core type that the identity's
// client type asks for; with asknet on, a fetch that worked withdraws the
// network permission. 0 when the unit and its data file are in place.
//
// A unit whose data the disk refuses (full, read-only) is said so and, with
// held, kept there: the next call with the same held writes that unit again
// instead of fetching another, so the server does not hand out unit after
// unit that nobody will ever return.
int FetchWork(const ServerAccess& access, QueueEntry* entry, const char* work_file, WorkQueue* queue,
              HeldUnit* held = nullptr);
