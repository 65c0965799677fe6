// Returning finished units to the servers that issued them, and removing
// units whose deadline has passed.
#pragma once

#include <cstdint>

#include "queue/queue_operations.h"
#include "queue/work_queue.h"

// Stack of the autosend thread, in bytes.
inline constexpr uint32_t kAutosendThreadStack = 4096;

// Sends the results of the DONE unit in slot index. 0 when the server took
// them (the slot is then EMPTY), -1 otherwise.
int SendFinishedUnit(WorkQueue* queue, uint32_t index);

// Sends every DONE unit. 0 when every send succeeded or there was nothing
// to send, -1 when at least one failed.
int SendAllFinished(WorkQueue* queue);

// Reports, and deletes, the DONE and READY units whose deadline has passed.
void CheckDeadlines(WorkQueue* queue);

// Thread body (arg: the WorkQueue): the deadline pass and, when the network
// may be used, a send of all finished units, every six hours. Runs until
// the process ends.
void AutosendThread(void* arg);

// Time between two passes of the autosend thread: six hours.
inline constexpr uint32_t kAutosendPeriodMs = 21600000;

// The upload of one unit's results (SendResults, or another in tests): 0
// accepted, 22 refused for good, -2 nothing usable to send, anything else a
// transfer failure worth another try.
using ResultUploader = int (*)(const QueueEntry* entry, const char* results_file);

// The same operations with their collaborators given (tests give fakes).
int SendFinishedUnitWith(WorkQueue* queue, uint32_t index, ResultUploader upload);
int SendAllFinishedWith(WorkQueue* queue, ResultUploader upload);
void CheckDeadlinesWith(WorkQueue* queue, UnitDeleter delete_unit);

// One pass of the autosend thread: the deadline pass, then a send of all
// finished units unless asknet is on and no permission is given.
void AutosendPass(WorkQueue* queue);
