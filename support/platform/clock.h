// The platform's wall clock, UTC.
#pragma once

#include <cstdint>

// Seconds since 1970-01-01 00:00:00 UTC and the milliseconds (0..999) of that
// same second, taken from one reading. 0, or -1 when the clock cannot be read
// or an output pointer is null.
int v3PlatformClockRead(int64_t* unix_seconds, uint32_t* milliseconds);
