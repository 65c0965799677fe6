// One time-out shared by a run of reads: each read gets what is left of it,
// so that a peer dribbling bytes cannot stretch the whole beyond the limit.
#pragma once

#include <cstdint>

#include "support/int128.h"

class ReadDeadline {
public:
    // No limit: every read keeps its own time-out.
    ReadDeadline() = default;
    explicit ReadDeadline(uint32_t timeout_ms);
    // Milliseconds left, 0 once the time is up (or the clock failed);
    // UINT32_MAX without a limit.
    uint32_t RemainingMs() const;
    // The shorter of timeout_ms and what is left.
    uint32_t Bound(uint32_t timeout_ms) const;
    // Milliseconds since the start; 0 when the clock went back, UINT64_MAX
    // when it failed (or without a limit).
    uint64_t ElapsedMs() const;

private:
    Int128 start_{};
    uint32_t timeout_ms_ = 0;
    bool clock_ok_ = true;
    bool limited_ = false;
};
