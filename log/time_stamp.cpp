#include <cstdio>

#include "log/log.h"
#include "support/time_value.h"

void FormatTimeStamp(char* out, int full) {
    Int128 now{};
    CalendarTime cal{};
    v3TimeNow(&now);
    // A breakdown out of range still fills every field with a usable value;
    // a log line is better with an odd stamp than without one.
    v3TimeToCalendar(&cal, now);
    if (full) {
        snprintf(out, kStampBufferSize, "[%s %u %02u:%02u:%02u]", kMonthNames[cal.month % 12],
                 cal.day + 1, cal.hour, cal.minute, cal.second);
    } else {
        snprintf(out, kStampBufferSize, "[%02u:%02u:%02u]", cal.hour, cal.minute, cal.second);
    }
}

const char* MakeTimeStamp(int full) {
    // One buffer per thread: a stamp made by the core launcher on its thread
    // cannot be overwritten by another thread's message before it is used.
    thread_local char buffer[kStampBufferSize];
    FormatTimeStamp(buffer, full);
    return buffer;
}
