// Removing one unit: its core deletes the unit's files, then the slot is
// emptied and the queue saved. Built with the main work cycle.
#pragma once

#include <cstdint>

// 0 when the unit's core removed its files and the queue was saved; -1
// otherwise. The slot of the process-wide Work queue is emptied either way.
int DeleteUnit(uint32_t index);
