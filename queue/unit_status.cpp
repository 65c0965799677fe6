#include "queue/unit_status.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/registry_store.h"
#include "queue/queue_record.h"
#include "queue/whole_file.h"
#include "support/byte_order.h"
#include "support/file.h"
#include "support/time_value.h"

namespace {

// A bar of more than this many marks says nothing more; the cap keeps a
// core's absurd step counts from writing a huge file.
constexpr int64_t kBarMax = 100;

std::string UnitName(const uint8_t* record) {
    const char* name = reinterpret_cast<const char*>(record + kProgressName);
    return std::string(name, strnlen(name, kProgressNameSize - 1));
}

void AppendTime(std::string& text, const char* label, const Int128& t) {
    CalendarTime c{};
    v3TimeToCalendar(&c, t);
    char line[96];
    snprintf(line, sizeof line, "%s: %s %u %02u:%02u:%02u\n", label, kMonthNames[c.month],
             c.day + 1, c.hour, c.minute, c.second);
    text += line;
}

// Truncated toward zero; 0 without a total.
int64_t TruncatedPercent(uint32_t total, uint32_t done) {
    if (total == 0) return 0;
    return static_cast<int64_t>(static_cast<double>(done) / total * 100.0);
}

}  // namespace

void WriteUnitInfo(const uint8_t* record, const Int128* received, const Int128* deadline) {
    if (record == nullptr) return;
    std::string text = "Current Work Unit\n-----------------\n";
    text += "Name: " + UnitName(record) + "\n";
    if (received != nullptr) AppendTime(text, "Download time", *received);
    if (deadline != nullptr) AppendTime(text, "Due time", *deadline);
    const int64_t percent =
        TruncatedPercent(LoadLE32(record + kProgressTotal), LoadLE32(record + kProgressDone));
    char line[64];
    snprintf(line, sizeof line, "Progress: %" PRId64 "%%  [", percent);
    text += line;
    const int64_t bars = percent / 10;
    text.append(static_cast<size_t>(bars < kBarMax ? bars : kBarMax), '|');
    if (bars < 10) text.append(static_cast<size_t>(10 - bars), '_');
    text += "]\n";
    WriteWholeFile(text.data(), text.size(), kUnitInfoFile);
}

int WritePartnerRegistry(const uint8_t* record) {
    if (record == nullptr) return -1;
    static const char* const kPartnerKey = "Software\\Vantor\\Zelclient";
    const uint32_t total = LoadLE32(record + kProgressTotal);
    const uint32_t done = LoadLE32(record + kProgressDone);
    // Rounded, in the 32-bit arithmetic the partner's programs expect.
    const uint32_t percent = total == 0 ? 0 : (total / 2 + done * 100u) / total;
    char percent_text[16];
    snprintf(percent_text, sizeof percent_text, "%d", static_cast<int32_t>(percent));
    if (RegistryKeyExists(RegistryRoot::kCurrentUser, kPartnerKey) != kRegistryOk) return -1;
    const std::string name = UnitName(record);
    if (RegistrySetValue(RegistryRoot::kCurrentUser, kPartnerKey, "ProteinName", kRegistryString,
                         name.c_str(), 0) != kRegistryOk ||
        RegistrySetValue(RegistryRoot::kCurrentUser, kPartnerKey, "PercentComplete",
                         kRegistryString, percent_text, 0) != kRegistryOk) {
        return -1;
    }
    return 0;
}

int RemoveSnapshot() { return v3FileDelete("work/current.xyz"); }
