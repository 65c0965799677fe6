#include "support/retry_backoff.h"

#include <algorithm>
#include <mutex>

#include "support/sleep.h"
#include "support/time_value.h"

namespace {

// The process-wide backoff state. Its users take turns (start-up on the entry
// thread, then the client thread), but a guard costs nothing next to waits of
// seconds and keeps a stray concurrent caller from tearing the state.
struct BackoffState {
    uint32_t current = 0;
    uint32_t longest = 0;
    uint32_t spread = 0;
    uint32_t count = 0;
    uint32_t random = 0;  // generator state
};

BackoffState g_backoff;
std::mutex g_backoff_guard;

// A linear congruential generator; its upper bits vary well enough for
// spreading out retries, and it is ours alone, so no other user of a shared
// generator shifts the sequence.
uint32_t NextRandomByte(BackoffState& s) {
    s.random = s.random * 1103515245u + 12345u;
    return (s.random >> 16) & 0xFFu;
}

}  // namespace

uint32_t RetryBackoff(uint32_t first, uint32_t longest, uint32_t spread) {
    uint64_t wait = 0;
    uint32_t count = 0;
    {
        std::lock_guard<std::mutex> hold(g_backoff_guard);
        BackoffState& s = g_backoff;
        if (first != 0 && longest != 0 && first <= longest) {
            Int128 now{};
            v3TimeNow(&now);
            s.current = first;
            s.longest = longest;
            s.spread = spread;
            s.count = 0;
            s.random = static_cast<uint32_t>(TimeSeconds(now));
            return 0;
        }
        uint64_t r = NextRandomByte(s);
        wait = s.current + r * s.spread / 256;
        if (s.current < s.longest) {
            s.current = static_cast<uint32_t>(std::min<uint64_t>(2ull * s.current, s.longest));
        }
        count = ++s.count;
    }
    // current + spread can pass 32 bits only with absurd settings; the wait is
    // then cut to the longest one v3Sleep can take.
    v3Sleep(static_cast<uint32_t>(std::min<uint64_t>(wait, UINT32_MAX)));
    return count;
}
