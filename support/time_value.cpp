#include "support/time_value.h"

#include <atomic>

#include "support/platform/clock.h"

const char* const kWeekdayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                      "Thursday", "Friday", "Saturday"};

const char* const kMonthNames[12] = {"January", "Feburary", "March",     "April",
                                     "May",     "June",     "July",      "August",
                                     "September", "October", "November", "December"};

namespace {

constexpr int64_t kUnixToEpoch2000 = 946684800;  // 1970-01-01 .. 2000-01-01
constexpr uint64_t kFractionPerMs = 18446744073709551ULL;  // floor(2^64 / 1000)
constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kMeanYear = 31556952;  // 365.2425 days
constexpr int64_t kCommonYear = 31536000;
constexpr int64_t kLeapYear = 31622400;

// Cumulative days before each month of a common year, with the year's end.
constexpr int64_t kMonthStart[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};
// Last valid 0-based day of each month (February's of a common year; a leap
// year's 29th is absorbed by counting March on from yday - 1).
constexpr int64_t kLastDay[12] = {30, 28, 30, 29, 30, 29, 30, 30, 29, 30, 29, 30};

std::atomic<v3TimeNowHook> g_time_now_hook{nullptr};

int64_t YearLength(int64_t year) { return v3IsLeapYear(year) ? kLeapYear : kCommonYear; }

int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

void v3SetTimeNowHook(v3TimeNowHook hook) { g_time_now_hook.store(hook); }

Int128 TimeFromUnix(int64_t unix_seconds, uint32_t milliseconds) {
    return MakeTimeValue(unix_seconds - kUnixToEpoch2000, milliseconds * kFractionPerMs);
}

int v3TimeNow(Int128* now) {
    if (!now) return -1;
    if (v3TimeNowHook hook = g_time_now_hook.load()) return hook(now);
    int64_t unix_seconds = 0;
    uint32_t ms = 0;
    if (v3PlatformClockRead(&unix_seconds, &ms) != 0) return -1;
    *now = TimeFromUnix(unix_seconds, ms);
    return 0;
}

int v3IsLeapYear(int64_t year) {
    if (year >= 1753) return (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0)) ? 1 : 0;
    if (year >= 8) return year % 4 == 0 ? 1 : 0;
    if (year >= -45 && year <= -9) return year % 3 == 0 ? 1 : 0;
    return 0;
}

int v3TimeToCalendar(CalendarTime* out, const Int128& t) {
    if (!out) return -1;
    const int64_t s = TimeSeconds(t);
    out->fraction = t.low;
    // 2000-01-01 was a Saturday; days before it count down from -1.
    out->weekday = static_cast<uint32_t>(v3Mod64(FloorDiv(s, kSecondsPerDay) + 6, 7));

    // Estimate the year from the mean year length, then correct by the leap
    // days that lie between 2000 and the start of the estimated year.
    int64_t y = s / kMeanYear;
    int64_t r = s - y * kCommonYear;
    if (r < 0) {
        y -= 1;
        r += kCommonYear;
    }
    int64_t leap_days = y / 400 - y / 100 + y / 4;
    if (y >= 0) {
        leap_days += 1;
        if (v3IsLeapYear(y + 2000)) leap_days -= 1;  // its own leap day is still ahead
    }
    r -= leap_days * kSecondsPerDay;
    int64_t year;
    if (r < 0) {
        year = y + 1999;
        r += YearLength(year);
    } else {
        year = y + 2000;
    }
    if (r >= YearLength(year)) {
        r -= YearLength(year);
        year += 1;
    }
    out->year = year;

    out->second = static_cast<uint32_t>(v3Mod64(r, 60));
    r /= 60;
    out->minute = static_cast<uint32_t>(v3Mod64(r, 60));
    r /= 60;
    out->hour = static_cast<uint32_t>(v3Mod64(r, 24));
    const int64_t yday = r / 24;
    out->yday = static_cast<uint32_t>(yday);

    // Month from a first guess of 30-day months, corrected by one step either
    // way against the cumulative table.
    int64_t month = yday / 30;
    if (month > 11) month = 11;
    if (month < 0) month = 0;
    int64_t day_base = yday;
    if (v3IsLeapYear(year) && yday >= 59) {
        if (kMonthStart[month] + 1 > yday) month -= 1;
        if (kMonthStart[month + 1] + 1 <= yday) month += 1;
        if (month > 1) day_base = yday - 1;
    } else {
        if (kMonthStart[month] > yday && month > 0) month -= 1;
        if (kMonthStart[month + 1] <= yday) month += 1;
    }
    if (month > 11) {
        // Callers print the fields even on failure and index the month name
        // table with them, so the month stays a valid index.
        out->month = 11;
        out->day = static_cast<uint32_t>(day_base - kMonthStart[11]);
        return -1;
    }
    out->month = static_cast<uint32_t>(month);
    const int64_t day = day_base - kMonthStart[month];
    out->day = static_cast<uint32_t>(day);
    return (day < 0 || day > kLastDay[month]) ? -1 : 0;
}
