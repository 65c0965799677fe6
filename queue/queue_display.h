// The queue display of the queue-information run mode: one line per slot.
#pragma once

#include <string>

#include "queue/work_queue.h"

// The whole table, heading included; it grows with the core names, so any
// queue fits.
std::string FormatQueueInfo(const WorkQueue& queue);

// Prints "Printing Queue Information" at level 3, then writes the table to
// the console and the log without time stamps, whatever the level. 0.
int PrintQueueInfo(const WorkQueue* queue);
