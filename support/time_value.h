// Time value: an Int128 read as 64.64 fixed point, whole seconds since
// 2000-01-01 00:00:00 UTC in the high half (signed) and the fraction of a
// second in units of 2^-64 s in the low half. The calendar breakdown is
// always UTC.
#pragma once

#include <cstdint>

#include "support/int128.h"

inline int64_t TimeSeconds(const Int128& t) { return static_cast<int64_t>(t.high); }

inline Int128 MakeTimeValue(int64_t seconds, uint64_t fraction) {
    return Int128{static_cast<uint64_t>(seconds), fraction};
}

// Broken-down form. month 0 = January, day counted from 0 (print day + 1),
// weekday 0 = Sunday, yday counted from 0.
struct CalendarTime {
    int64_t year;
    uint32_t month;
    uint32_t day;
    uint32_t weekday;
    uint32_t yday;
    uint32_t hour;
    uint32_t minute;
    uint32_t second;
    uint64_t fraction;
};

// Indexed by CalendarTime::weekday and ::month. The month table keeps the
// spelling "Feburary": every date the client has ever printed uses it, and
// readers of its logs and pages match on it.
extern const char* const kWeekdayNames[7];
extern const char* const kMonthNames[12];

// The clock's reading (seconds since 1970-01-01 UTC and the milliseconds of
// that second) as a Time value.
Int128 TimeFromUnix(int64_t unix_seconds, uint32_t milliseconds);

// Reads the clock into *now. 0, or -1 when now is null.
int v3TimeNow(Int128* now);

// Replaces the clock for tests; nullptr restores the real clock. Safe to set
// while other threads read the time.
using v3TimeNowHook = int (*)(Int128* now);
void v3SetTimeNowHook(v3TimeNowHook hook);

// Breaks t down into *out. 0, or -1 when out is null (nothing written) or when
// the month or day came out of range (the fields are filled all the same;
// month is then kept a valid index into kMonthNames).
int v3TimeToCalendar(CalendarTime* out, const Int128& t);

// 1 for a leap year, else 0: Gregorian from 1753, Julian (every fourth year)
// from 8 to 1752, every third year from -45 to -9, none otherwise.
int v3IsLeapYear(int64_t year);
