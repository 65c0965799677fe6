// Sleeping. Every wait of the program goes through v3Sleep, so that a test can
// replace the clock-bound part and run backoff, day-long sleeps and polling
// loops in milliseconds.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

// Sleeps for ms milliseconds (or hands the wait to the test hook). Always 0.
int v3Sleep(uint32_t ms);

// Test hook: when set, v3Sleep calls it instead of sleeping. nullptr restores
// the real sleep. The hook may be called from any thread.
using v3SleepHook = void (*)(uint32_t ms);
void v3SetSleepHook(v3SleepHook hook);

// A sleep that another thread can cut short: one thread waits for an event
// in steps of Sleep, another calls Wake once the event has happened. Once
// woken it stays woken, so a Wake that comes before the sleep is not lost.
// With the test hook set, a step is the hook's (a woken waker does not call
// it at all), so tests keep their shortened clock.
class v3Waker {
public:
    // Sleeps up to ms milliseconds; true (at once) when woken.
    bool Sleep(uint32_t ms);
    // Wakes every sleeper, now and later. The last thing the waking thread
    // does with the waker is leave its lock, so the owner may release the
    // waker as soon as a sleeper has seen the wake.
    void Wake();
    bool Woken();
    // Makes a woken waker wait again, for a waker that stands for one event
    // after another (each run of a child, say). A sleeper that has not yet
    // seen the earlier wake may miss it: sleepers check their event itself.
    void Rearm();

private:
    std::mutex lock_;
    std::condition_variable woken_signal_;
    bool woken_ = false;
};
