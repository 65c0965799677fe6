#include "queue/queue_display.h"

#include <cstdio>

#include "log/log.h"
#include "support/string_append.h"
#include "support/time_value.h"

namespace {

std::string StatusWord(uint32_t status) {
    static const char* const kWords[] = {"EMPTY", "READY", "DONE", "ACTIVE", "FETCHING"};
    if (status <= kSlotFetching) return kWords[status];
    char word[24];
    snprintf(word, sizeof word, "UNKNOWN:%02u", status);
    return word;
}

CalendarTime Calendar(const Int128& t) {
    CalendarTime c{};
    v3TimeToCalendar(&c, t);
    return c;
}

void AppendUnit(std::string& text, const QueueEntry& entry) {
    const uint32_t a = entry.server_address();
    std::string name = entry.core_name();
    if (name.empty()) name = "Quorvel";  // units whose server named no core
    AppendPrintf(text, " \"%10s\" (%x) %u.%u.%u.%u:%u  ", name.c_str(), entry.core_type(),
           a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF, entry.server_port());
    const CalendarTime r = Calendar(entry.received);
    AppendPrintf(text, "%s %u %02u:%02u:%02u", kMonthNames[r.month], r.day + 1, r.hour, r.minute,
           r.second);
    if (entry.status == kSlotDone) {
        const CalendarTime c = Calendar(entry.completed);
        AppendPrintf(text, "->%s %u %02u:%02u:%02u\n", kMonthNames[c.month], c.day + 1, c.hour,
               c.minute, c.second);
    } else if ((entry.status == kSlotReady || entry.status == kSlotActive) &&
               entry.has_deadline != 0) {
        const CalendarTime d = Calendar(entry.deadline);
        AppendPrintf(text, " | %s %u %02u:%02u\n", kMonthNames[d.month], d.day + 1, d.hour, d.minute);
    } else {
        text += "\n";
    }
}

}  // namespace

std::string FormatQueueInfo(const WorkQueue& queue) {
    std::string text = "CURRENT QUEUE: \n";
    for (uint32_t i = 0; i < kQueueSlots; ++i) {
        const QueueEntry& entry = queue.entries[i];
        AppendPrintf(text, "%02d %c%-9s", static_cast<int>(i), i == queue.current ? '*' : ' ',
               StatusWord(entry.status).c_str());
        if (entry.status == kSlotEmpty || entry.status == kSlotFetching) {
            text += "\n";
            continue;
        }
        AppendUnit(text, entry);
    }
    return text;
}

int PrintQueueInfo(const WorkQueue* queue) {
    if (queue == nullptr) return 0;
    const std::string text = FormatQueueInfo(*queue);
    LogAt(kLogNormal, "Printing Queue Information\n");
    // Written a line at a time: one write to the log file holds a bounded
    // number of bytes, and the table of ten long lines can exceed it.
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        LogWrite("%s", text.substr(start, end - start).c_str());
        start = end;
    }
    return 0;
}
