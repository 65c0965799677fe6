#include "queue/deadline.h"

#include "log/log.h"
#include "support/time_value.h"

std::atomic<uint32_t> gDeadlineInterruptMark{0};

namespace {

// The average holds at most this many units; from then on every new unit
// weighs 1/5, so old results fade out.
constexpr uint32_t kMaxPerformanceCount = 4;

}  // namespace

int DeadlinePassed(const Int128& deadline) {
    Int128 now{};
    v3TimeNow(&now);
    return v3Int128SGreater(now, deadline) ? 1 : 0;
}

void UpdatePerformanceFraction(WorkQueue* queue, uint32_t slot) {
    if (queue == nullptr || slot >= kQueueSlots) return;
    const QueueEntry& entry = queue->entries[slot];
    const int32_t period = entry.deadline_seconds();
    if (entry.has_deadline == 0 || period < 1) return;
    // Whole seconds; the subtraction wraps instead of overflowing on times
    // read from a damaged file.
    const int64_t elapsed = static_cast<int64_t>(
        static_cast<uint64_t>(TimeSeconds(entry.completed)) -
        static_cast<uint64_t>(TimeSeconds(entry.received)));
    const double f = 1.0 - static_cast<double>(elapsed) / period;
    const uint32_t n = queue->performance_count;
    const double average = (n * static_cast<double>(queue->performance_fraction) + f) / (n + 1.0);
    queue->performance_fraction = static_cast<float>(average);
    if (n < kMaxPerformanceCount) queue->performance_count = n + 1;
    LogAt(kLogDiagnostic, "Unit %i finished with %.0f percent of time to deadline remaining.\n",
          static_cast<int>(slot), f * 100.0);
    LogAt(kLogDetail, "Updated performance fraction: %f\n",
          static_cast<double>(queue->performance_fraction));
}
