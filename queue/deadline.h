// Unit deadlines and the performance fraction.
#pragma once

#include <atomic>
#include <cstdint>

#include "queue/work_queue.h"
#include "support/int128.h"

// Set by the progress check when it stops a core because its unit's
// deadline passed; the work cycle reads it when the core ends with its
// interrupted code, deletes the unit instead of shutting down, and clears it.
extern std::atomic<uint32_t> gDeadlineInterruptMark;

// 1 when now is strictly later than deadline, else 0.
int DeadlinePassed(const Int128& deadline);

// Folds the unit in slot (just marked DONE with its completion time) into
// the queue's running average of the fraction of the deadline period left
// at the finish. Units without a deadline change nothing.
void UpdatePerformanceFraction(WorkQueue* queue, uint32_t slot);
