// A client stand-in that does nothing but save its Work queue, for the test
// that kills it at random moments. Every round writes one generation number
// into fields spread over the whole record, so a reader can tell a record
// that mixes two saves from a whole one.
//
//   queue_saver   save in a loop in the current directory; print "ready"
//                 after the first save; end by itself after kLifetime.
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "queue/work_queue.h"
#include "support/time_value.h"

namespace {

constexpr auto kLifetime = std::chrono::seconds(20);

void Fill(WorkQueue* q, uint32_t generation) {
    q->current = generation % kQueueSlots;
    q->performance_count = generation;
    for (uint32_t i = 0; i < kQueueSlots; ++i) {
        QueueEntry& e = q->entries[i];
        e.status = (generation + i) % 2 == 0 ? kSlotReady : kSlotDone;
        e.received = MakeTimeValue(generation, i);
        e.set_server_address(generation);
        e.deadline = MakeTimeValue(generation, 0);
        char name[32];
        snprintf(name, sizeof name, "gen-%u", generation);
        e.set_core_name(name);
    }
}

}  // namespace

int main() {
    std::unique_ptr<WorkQueue> q = NewWorkQueue();
    if (q == nullptr) return 2;
    const auto end = std::chrono::steady_clock::now() + kLifetime;
    for (uint32_t generation = 1; std::chrono::steady_clock::now() < end; ++generation) {
        Fill(q.get(), generation);
        if (SaveQueue(q.get()) != 0) return 3;
        if (generation == 1 && write(1, "ready\n", 6) != 6) return 4;
    }
    return 0;
}
