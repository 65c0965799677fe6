#include "support/platform/clock.h"

#include <time.h>

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
