#include "support/platform/clock.h"

#include <time.h>

// Time values run far past 2038, so the clock must never pass through a
// 32-bit time_t. glibc still gives 32-bit processors one unless a program
// asks for 64 bits (_TIME_BITS=64, set for the whole build in CMakeLists.txt).
static_assert(sizeof(time_t) >= 8, "the clock needs a 64-bit time_t (build with _TIME_BITS=64)");

int v3PlatformClockRead(int64_t* unix_seconds, uint32_t* milliseconds) {
    if (!unix_seconds || !milliseconds) return -1;
    // One reading gives the second and its milliseconds together, so they
    // cannot straddle a second boundary.
    struct timespec ts;
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return -1;
    *unix_seconds = static_cast<int64_t>(ts.tv_sec);
    *milliseconds = static_cast<uint32_t>(ts.tv_nsec / 1000000);
    return 0;
}
