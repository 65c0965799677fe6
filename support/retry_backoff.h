// The randomised exponential backoff every retry loop uses while it waits for
// a server. One state per process: a loop that initialises it resets the
// waits of any other.
#pragma once

#include <cstdint>

// With first and longest non-zero and first <= longest: (re)initialises the
// state (current wait := first, count := 0) and returns 0 without waiting.
// Otherwise (callers pass 0, 0, 0): waits current + r * spread / 256 ms with r
// random in 0..255 (through v3Sleep), then doubles the current wait up to the
// longest, and returns the number of waits taken since initialising.
uint32_t RetryBackoff(uint32_t first, uint32_t longest, uint32_t spread);
