// The unit progress and deadline check, run by the core's output thread each
// time the core's log reports that it wrote its local files or finished.
#pragma once

#include <cstdint>

#include "queue/work_queue.h"

// What the check needs from the rest of the client, which builds it on the
// core's output thread.
struct UnitProgressInputs {
    WorkQueue* queue = nullptr;
    bool deadlines_on = true;   // off when ignoredeadlines is set
    bool core_running = false;  // the core running mark
    uint32_t edition_code = 0;  // 5: the partner edition also writes its registry values
    int (*stop_core)() = nullptr;  // sends signal 2 to the running core
};

// Stops the core when its ACTIVE unit's deadline has passed (setting the
// deadline interrupt mark), else refreshes the status files from the core's
// progress record. 0 when the status files were refreshed, -1 otherwise.
int CheckUnitProgressWith(const UnitProgressInputs& inputs);
