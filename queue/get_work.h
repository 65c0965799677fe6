// The fetch driver: finds the unit to work on next, fetching one when the
// queue holds none.
#pragma once

#include <cstdint>
#include <functional>

#include "queue/work_queue.h"

// The work fetch GetWork uses: the server conversation's FetchWork, bound by
// the client to its records, or another in tests.
using WorkFetcher = std::function<int(QueueEntry* entry, const char* work_file, WorkQueue* queue)>;

// Takes the next READY slot after *index; else fetches a unit into the next
// EMPTY slot, emptying the oldest unit's slot first when all ten are in use.
// A failing fetch is retried without limit, with growing waits. 0 with
// *index (and the queue's current) set to a READY slot, or -1 when the queue
// is full and no slot could be freed.
int GetWork(WorkQueue* queue, uint32_t* index, const WorkFetcher& fetch);
