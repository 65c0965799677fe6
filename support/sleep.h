// Sleeping. Every wait of the program goes through v3Sleep, so that a test can
// replace the clock-bound part and run backoff, day-long sleeps and polling
// loops in milliseconds.
#pragma once

#include <cstdint>

// Sleeps for ms milliseconds (or hands the wait to the test hook). Always 0.
int v3Sleep(uint32_t ms);

// Test hook: when set, v3Sleep calls it instead of sleeping. nullptr restores
// the real sleep. The hook may be called from any thread.
using v3SleepHook = void (*)(uint32_t ms);
void v3SetSleepHook(v3SleepHook hook);
