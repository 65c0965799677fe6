// Returning finished units to the servers that issued them, and removing
// units whose deadline has passed.
#pragma once

#include <cstdint>
#include <functional>

#include "queue/queue_operations.h"
#include "queue/work_queue.h"

struct NetworkPermission;

// Stack of the autosend thread, in bytes.
inline constexpr uint32_t kAutosendThreadStack = 4096;

// Time between two passes of the autosend thread: six hours.
inline constexpr uint32_t kAutosendPeriodMs = 21600000;

// The upload of one unit's results (SendResults, bound by the client to its
// records, or another in tests): 0 accepted, 22 refused for good, -2
// nothing usable to send, anything else a transfer failure worth another try.
using ResultUploader = std::function<int(const QueueEntry* entry, const char* results_file)>;

// What returning results works with. The client binds it once at start-up;
// it must outlive every thread that uses it (the autosend thread runs until
// the process ends).
struct ResultReturn {
    WorkQueue* queue = nullptr;
    ResultUploader upload;
    UnitDeleter delete_unit = nullptr;         // removes a unit whose deadline passed
    NetworkPermission* permission = nullptr;   // the autosend pass sends only with it
    bool deadlines_on = true;                  // off: finished units outlive their deadline
};

// Sends the results of the DONE unit in slot index. 0 when the server took
// them (the slot is then EMPTY), -1 otherwise.
int SendFinishedUnit(const ResultReturn& r, uint32_t index);
// As SendFinishedUnit, but a send in progress (the autosend pass's) is
// waited for rather than taken as a reason to skip: the work cycle's own
// unit goes now, not at the next pass.
int SendFinishedUnitInTurn(const ResultReturn& r, uint32_t index);

// Sends every DONE unit. 0 when every send succeeded or there was nothing
// to send, -1 when at least one failed.
int SendAllFinished(const ResultReturn& r);

// Reports, and deletes, the DONE and READY units whose deadline has passed;
// with deadlines off, DONE units are only reported.
void CheckDeadlines(const ResultReturn& r);

// One pass of the autosend thread: the deadline pass, then a send of all
// finished units unless asknet is on and no permission is given.
void AutosendPass(const ResultReturn& r);

// Thread body (arg: the ResultReturn): an autosend pass every six hours,
// until the process ends.
void AutosendThread(void* arg);
