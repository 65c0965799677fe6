#include "net/deadline.h"

#include <cstdint>

#include "support/time_value.h"

ReadDeadline::ReadDeadline(uint32_t timeout_ms)
    : timeout_ms_(timeout_ms), clock_ok_(v3TimeNow(&start_) == 0), limited_(true) {}

uint64_t ReadDeadline::ElapsedMs() const {
    Int128 now;
    if (!limited_ || !clock_ok_ || v3TimeNow(&now) != 0) return UINT64_MAX;
    const Int128 elapsed = v3Int128Sub(now, start_);
    const int64_t seconds = static_cast<int64_t>(elapsed.high);
    if (seconds < 0) return 0;
    if (static_cast<uint64_t>(seconds) >= UINT64_MAX / 1000 - 1) return UINT64_MAX - 1;
    return static_cast<uint64_t>(seconds) * 1000 + ((elapsed.low >> 32) * 1000 >> 32);
}

uint32_t ReadDeadline::RemainingMs() const {
    if (!limited_) return UINT32_MAX;
    const uint64_t ms = ElapsedMs();
    // The clock going back reads as no time passed: counting goes on from
    // there.
    return ms >= timeout_ms_ ? 0 : static_cast<uint32_t>(timeout_ms_ - ms);
}

uint32_t ReadDeadline::Bound(uint32_t timeout_ms) const {
    const uint32_t left = RemainingMs();
    return left < timeout_ms ? left : timeout_ms;
}
