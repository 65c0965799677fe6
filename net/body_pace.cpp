#include "net/body_pace.h"

BodyPace::BodyPace(uint32_t min_bytes_per_second, uint32_t window_ms)
    : window_(window_ms), rate_(min_bytes_per_second), window_ms_(window_ms) {}

uint32_t BodyPace::Bound(uint32_t timeout_ms) {
    if (window_ms_ == 0) return timeout_ms;
    if (stalled_) return 0;
    uint32_t left = window_.RemainingMs();
    if (left == 0) {
        // The time between two reads counts too: the callers read on as
        // soon as they have stored what they got.
        const uint64_t elapsed_ms = window_.ElapsedMs();
        const uint64_t limit_ms = UINT64_MAX / (rate_ + 1);
        if (elapsed_ms > limit_ms || got_ * 1000 < rate_ * elapsed_ms) {
            stalled_ = true;
            return 0;
        }
        window_ = ReadDeadline(window_ms_);
        got_ = 0;
        left = window_.RemainingMs();
        if (left == 0) {
            stalled_ = true;
            return 0;
        }
    }
    return left < timeout_ms ? left : timeout_ms;
}
