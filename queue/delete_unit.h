// Removing one unit: its core deletes the unit's files, then the slot is
// emptied and the queue saved.
#pragma once

#include <cstdint>

// 0 when the unit's core removed its files (answering its cleanup run with
// 101) and the queue was saved; -1 otherwise. The slot of the process-wide
// Work queue is emptied either way; an index of 10 or more changes nothing
// and gives -1.
int DeleteUnit(uint32_t index);
