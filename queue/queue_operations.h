// Operations over the ten slots of the Work queue.
#pragma once

#include <cstdint>
#include <functional>

#include "queue/work_queue.h"

// The next slot after *index (wrapping round, *index itself last) whose
// status is status. 0 with *index set to it, or -1 with *index unchanged.
int FindNextSlot(const WorkQueue* queue, uint32_t status, uint32_t* index);

// Calls visit(index) once for every slot with the given status, in the order
// 1, 2, ..., 9, 0. A visit may change the slot it is on (empty it, say); the
// walk goes on from that slot's index and never visits a slot twice.
template <typename Visit>
void VisitSlots(const WorkQueue* queue, uint32_t status, Visit&& visit) {
    uint32_t index = 0;
    uint32_t visited = 0;  // one bit per slot
    while (FindNextSlot(queue, status, &index) == 0 && (visited & (1u << index)) == 0) {
        visited |= 1u << index;
        visit(index);
    }
}

// The slot, other than an EMPTY one, whose unit was received first (the
// lower index on a tie). 0 with *index set, or -1 when no unit was received
// before now.
int FindOldestSlot(const WorkQueue* queue, uint32_t* index);

// Marks the slot EMPTY and saves the queue; the unit's files stay. The save's
// result, or -1 at once for an index of 10 or more.
int EmptySlot(WorkQueue* queue, uint32_t index);

// Removes one unit's files and slot: DeleteUnit (queue/delete_unit.h) on the
// client's queue with its core cleanup, as the client binds it, or another
// deleter in tests. 0 when the unit was removed cleanly.
using UnitDeleter = std::function<int(uint32_t index)>;

// Start-up: deletes every slot whose status is none of the five known ones.
void RemoveUnknownItems(WorkQueue* queue, const UnitDeleter& delete_unit);

// Deletes every slot except the finished ones (DONE), whose results are
// good work waiting for the network, not part of what keeps failing; each
// unit deleted is named in the log. 0 when every deletion was clean.
int PurgeQueue(WorkQueue* queue, const UnitDeleter& delete_unit);

// The number of DONE units issued by the server at address, counted in a
// fresh read-only copy of queue.dat (0 when it cannot be read).
uint32_t CountServerDoneUnits(uint32_t address);
