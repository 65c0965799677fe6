// The low-speed rule for the body of an answer: the body may take as long as
// it needs, as long as at least kBodyMinBytesPerSecond arrive over each
// whole window of kBodyRateWindowMs; a window that brings fewer ends it.
//
// A single time-out for the whole body would cut every body larger than
// the time-out times the link's rate, on every try, however steadily it
// arrives: a 4 MiB core over a 1.6 KiB/s link never got in within 30
// minutes. A per-read time-out alone would let a peer that hands over a
// byte now and then hold the client for ever. The rate keeps the steady
// slow link and still cuts the drip, and the 64 MiB cap on what a download
// takes bounds the whole body: at the lowest rate, about 18 hours.
//
// 1 KiB/s lies well below the slowest links volunteers use (a mobile or
// dial-up link brings 2 to 6 KiB/s; the slowest one reported, 1.6 KiB/s),
// and two minutes ride out a short outage (a dropped radio link, TCP's
// retransmission back-off) on such a link without giving up on it; a body
// that stops altogether is given up within two windows, instead of the 30
// minutes a single time-out took.
#pragma once

#include <cstdint>

#include "net/deadline.h"

inline constexpr uint32_t kBodyMinBytesPerSecond = 1024;
inline constexpr uint32_t kBodyRateWindowMs = 120000;

class BodyPace {
public:
    // No rule: every read keeps its own time-out.
    BodyPace() = default;
    // Starts the first window now (on the client's clock, v3TimeNow).
    BodyPace(uint32_t min_bytes_per_second, uint32_t window_ms);
    // A body that may read nothing more.
    static BodyPace Stalled() {
        BodyPace pace(1, 1);
        pace.stalled_ = true;
        return pace;
    }

    // Body bytes that arrived.
    void Count(uint32_t n) { got_ += n; }
    // Milliseconds a read may still wait: the shorter of timeout_ms and
    // what is left of the window. Once the window has passed, the bytes it
    // brought must come to the rate times its whole length (a window seen
    // late is held to the time it really took); then a new one starts from
    // now. 0 once one fell short (or the clock failed), and from then on.
    uint32_t Bound(uint32_t timeout_ms);

private:
    ReadDeadline window_;
    uint64_t rate_ = 0;  // bytes a second
    uint64_t got_ = 0;   // bytes of the current window
    uint32_t window_ms_ = 0;
    bool stalled_ = false;
};
