// One time-out shared by a run of reads: each read gets what is left of it,
// so that a peer dribbling bytes cannot stretch the whole beyond the limit.
#pragma once

#include <cstdint>

#include "support/int128.h"

class ReadDeadline {
public:
    explicit ReadDeadline(uint32_t timeout_ms);
    // Milliseconds left, 0 once the time is up (or the clock failed).
    uint32_t RemainingMs() const;

private:
    Int128 start_{};
    uint32_t timeout_ms_;
    bool clock_ok_;
};
