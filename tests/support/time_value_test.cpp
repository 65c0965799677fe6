#include "support/time_value.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <thread>

namespace {

constexpr int64_t kUnixTo2000 = 946684800;

CalendarTime Breakdown(int64_t seconds, int* rc = nullptr) {
    CalendarTime c;
    std::memset(&c, 0xEE, sizeof c);
    int r = v3TimeToCalendar(&c, MakeTimeValue(seconds, 0));
    if (rc) *rc = r;
    return c;
}

// Compares the breakdown of one instant with the C library's UTC calendar.
::testing::AssertionResult MatchesGmtime(int64_t seconds) {
    int rc = 0;
    CalendarTime c = Breakdown(seconds, &rc);
    time_t unix_time = static_cast<time_t>(seconds + kUnixTo2000);
    struct tm tm;
    if (!gmtime_r(&unix_time, &tm)) return ::testing::AssertionFailure() << "gmtime failed";
    if (rc == 0 && c.year == tm.tm_year + 1900LL && c.month == static_cast<uint32_t>(tm.tm_mon) &&
        c.day + 1 == static_cast<uint32_t>(tm.tm_mday) &&
        c.weekday == static_cast<uint32_t>(tm.tm_wday) &&
        c.yday == static_cast<uint32_t>(tm.tm_yday) && c.hour == static_cast<uint32_t>(tm.tm_hour) &&
        c.minute == static_cast<uint32_t>(tm.tm_min) && c.second == static_cast<uint32_t>(tm.tm_sec)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "seconds " << seconds << ": rc " << rc << " got " << c.year << "-" << c.month << "-"
           << c.day << " yday " << c.yday << " wday " << c.weekday << " " << c.hour << ":"
           << c.minute << ":" << c.second << "; want " << tm.tm_year + 1900 << "-" << tm.tm_mon
           << "-" << tm.tm_mday - 1 << " yday " << tm.tm_yday << " wday " << tm.tm_wday << " "
           << tm.tm_hour << ":" << tm.tm_min << ":" << tm.tm_sec;
}

}  // namespace

TEST(Calendar, EpochAndTheDayBefore) {
    int rc = -1;
    CalendarTime c = Breakdown(0, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(c.year, 2000);
    EXPECT_EQ(c.month, 0u);
    EXPECT_EQ(c.day, 0u);
    EXPECT_EQ(c.weekday, 6u);  // Saturday
    EXPECT_EQ(c.yday, 0u);
    EXPECT_EQ(c.hour + c.minute + c.second, 0u);

    for (int64_t s : {int64_t{-86400}, int64_t{-1}}) {
        c = Breakdown(s, &rc);
        EXPECT_EQ(rc, 0) << s;
        EXPECT_EQ(c.year, 1999) << s;
        EXPECT_EQ(c.month, 11u) << s;
        EXPECT_EQ(c.day, 30u) << s;
        EXPECT_EQ(c.weekday, 5u) << s;  // Friday, not the day after
        EXPECT_EQ(c.yday, 364u) << s;
    }
    c = Breakdown(-1);
    EXPECT_EQ(c.hour, 23u);
    EXPECT_EQ(c.minute, 59u);
    EXPECT_EQ(c.second, 59u);
    EXPECT_EQ(Breakdown(-86401).weekday, 4u);
}

TEST(Calendar, LeapDayOf2000) {
    int rc = -1;
    CalendarTime c = Breakdown(5097600, &rc);  // 2000-02-29 00:00:00
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(c.month, 1u);
    EXPECT_EQ(c.day, 28u);
    EXPECT_EQ(c.yday, 59u);
    c = Breakdown(5184000 - 1);  // its last second
    EXPECT_EQ(c.month, 1u);
    EXPECT_EQ(c.day, 28u);
    c = Breakdown(5184000, &rc);  // 2000-03-01
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(c.month, 2u);
    EXPECT_EQ(c.day, 0u);
    EXPECT_EQ(c.yday, 60u);
    c = Breakdown(31536000);  // 2000-12-31: day 366 of a leap year
    EXPECT_EQ(c.year, 2000);
    EXPECT_EQ(c.month, 11u);
    EXPECT_EQ(c.day, 30u);
    EXPECT_EQ(c.yday, 365u);
}

TEST(Calendar, FractionIsCopiedAndNullRefused) {
    CalendarTime c{};
    ASSERT_EQ(v3TimeToCalendar(&c, MakeTimeValue(93954030, 0x8000000000000000ULL)), 0);
    EXPECT_EQ(c.fraction, 0x8000000000000000ULL);
    EXPECT_EQ(c.year, 2002);
    EXPECT_EQ(c.month, 11u);
    EXPECT_EQ(c.day + 1, 23u);
    EXPECT_EQ(c.hour, 10u);
    EXPECT_EQ(c.minute, 20u);
    EXPECT_EQ(c.second, 30u);
    EXPECT_EQ(v3TimeToCalendar(nullptr, MakeTimeValue(0, 0)), -1);
}

// Every day boundary, and one random instant inside every day, from 1901 to
// 2099, against the C library's calendar.
TEST(Calendar, MatchesCLibraryFrom1901To2099) {
    const int64_t first = -3124137600LL;  // 1901-01-01 00:00:00
    const int64_t last = 3155759999LL;    // 2099-12-31 23:59:59
    std::mt19937_64 rng(946684800);
    for (int64_t day = first; day <= last; day += 86400) {
        ASSERT_TRUE(MatchesGmtime(day));
        ASSERT_TRUE(MatchesGmtime(day - 1));
        ASSERT_TRUE(MatchesGmtime(day + static_cast<int64_t>(rng() % 86400)));
    }
    std::uniform_int_distribution<int64_t> any(first, last);
    for (int i = 0; i < 200000; ++i) ASSERT_TRUE(MatchesGmtime(any(rng)));
}

// Beyond the years the client prints, the breakdown must still stay in
// range and never trap: a damaged queue.dat can hold any seconds value.
TEST(Calendar, AnySecondsValueGivesFieldsInRange) {
    std::mt19937_64 rng(12345);
    for (int i = 0; i < 200000; ++i) {
        int64_t s = static_cast<int64_t>(rng());
        if (i < 4) s = i == 0 ? INT64_MIN : i == 1 ? INT64_MAX : i == 2 ? INT64_MIN + 1 : INT64_MAX - 1;
        int rc = -2;
        CalendarTime c = Breakdown(s, &rc);
        ASSERT_TRUE(rc == 0 || rc == -1) << s;
        ASSERT_LT(c.month, 12u) << s;
        ASSERT_LT(c.weekday, 7u) << s;
        ASSERT_LT(c.hour, 24u) << s;
        ASSERT_LT(c.minute, 60u) << s;
        ASSERT_LT(c.second, 60u) << s;
    }
}

TEST(Calendar, LeapYearRules) {
    struct Case {
        int64_t year;
        int leap;
    } cases[] = {
        {1900, 0}, {2000, 1}, {2004, 1}, {2100, 0}, {2400, 1}, {1800, 0}, {2200, 0},  // Gregorian
        {1753, 0}, {1756, 1}, {1700, 1}, {1752, 1}, {8, 1},                           // Julian
        {4, 0},    {0, 0},    {-3, 0},   {-12, 1},  {-10, 0},  {-9, 1},  {-45, 1}, {-48, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(v3IsLeapYear(c.year), c.leap) << c.year;
}

TEST(Calendar, NameTablesKeepTheirSpelling) {
    EXPECT_STREQ(kMonthNames[1], "Feburary");
    EXPECT_STREQ(kMonthNames[11], "December");
    EXPECT_STREQ(kWeekdayNames[0], "Sunday");
    EXPECT_STREQ(kWeekdayNames[6], "Saturday");
}

TEST(Clock, ConversionFromUnixTime) {
    // 2002-12-23 10:20:30.250 UTC
    Int128 t = TimeFromUnix(1040638830, 250);
    EXPECT_EQ(TimeSeconds(t), 93954030);
    EXPECT_EQ(t.low, 250ULL * 18446744073709551ULL);
    t = TimeFromUnix(0, 999);
    EXPECT_EQ(TimeSeconds(t), -946684800);
    EXPECT_EQ(t.high, static_cast<uint64_t>(int64_t{-946684800}));  // sign-extended
    EXPECT_EQ(t.low, 0x4189374BC6A7EFULL * 999);
}

namespace {
int FixedClock(Int128* now) {
    *now = TimeFromUnix(1040638830, 250);
    return 0;
}
}  // namespace

TEST(Clock, HookReplacesAndRestoresTheClock) {
    Int128 t{};
    v3SetTimeNowHook(&FixedClock);
    ASSERT_EQ(v3TimeNow(&t), 0);
    EXPECT_EQ(TimeSeconds(t), 93954030);
    EXPECT_EQ(t.low, 250ULL * 18446744073709551ULL);
    EXPECT_EQ(v3TimeNow(nullptr), -1);  // the hook never sees a null target

    v3SetTimeNowHook(nullptr);
    ASSERT_EQ(v3TimeNow(&t), 0);
    int64_t expect = static_cast<int64_t>(time(nullptr)) - kUnixTo2000;
    EXPECT_LE(std::llabs(TimeSeconds(t) - expect), 2);
    EXPECT_EQ(t.low % 18446744073709551ULL, 0u);  // whole milliseconds
    EXPECT_LT(t.low / 18446744073709551ULL, 1000u);
}

TEST(Clock, HookCanChangeWhileOtherThreadsRead) {
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        while (!stop.load()) {
            Int128 t{};
            if (v3TimeNow(&t) != 0 || TimeSeconds(t) < 93954030) bad.fetch_add(1);
        }
    });
    for (int i = 0; i < 2000; ++i) v3SetTimeNowHook(i % 2 ? &FixedClock : nullptr);
    stop.store(true);
    reader.join();
    v3SetTimeNowHook(nullptr);
    EXPECT_EQ(bad.load(), 0);
}
