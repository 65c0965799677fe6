// Writes and reads the files that move between machines with a working
// directory: queue.dat, client.cfg, the registry store and a core's progress
// record. scripts/cross-file-exchange.sh runs this program from two builds
// (this machine's and a cross build under qemu-user) and requires the same
// bytes from both writers and the same readings from both readers.
//
//   file_exchange write DIR DUMP   writes the files into DIR (an empty folder)
//                                  and the values they hold as text into DUMP
//   file_exchange read DIR DUMP    reads DIR's files with the client's own
//                                  readers and writes what they hold into DUMP
//
// The values are chosen where a host shows its kind: bytes of 128 and more in
// every text (a signed or unsigned char), times before 2000 and past 2038 and
// 2106 (a 32-bit time or seconds count), words with the top bit set, a
// 2 MiB size and a 64-bit ID of eight different bytes (a missing or doubled
// byte swap).
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config/config_file.h"
#include "config/identity.h"
#include "config/registry_store.h"
#include "core_side/core_files.h"
#include "log/log.h"
#include "queue/queue_display.h"
#include "queue/unit_status.h"
#include "queue/whole_file.h"
#include "queue/work_queue.h"
#include "support/format.h"
#include "support/number_reader.h"
#include "support/time_value.h"

namespace {

constexpr uint64_t kUserID = 0x0123456789ABCDEFull;
constexpr uint32_t kEdition = 2;  // this console client's edition
constexpr const char* kRegistryUserKey = "Software\\Tarnwick\\Quorvel\\3.24";
constexpr const char* kProgressPath = "work/wuinfo_01.dat";

struct ConfigValue {
    const char* section;
    const char* key;
    const char* value;
    int base;  // 0: a text, else read as a number of that base
};

const ConfigValue kConfigValues[] = {
    {"settings", "username", "J\xc3\xbcrgen \xff\x80 Ma\xc3\x9f", 0},
    {"settings", "team", "-42", 10},
    {"settings", "machineid", "3", 16},
    {"settings", "userid", "fedcba9876543210", 16},
    {"settings", "local", "4294967295", 10},
    {"core", "cpuusage", "75", 10},
    {"http", "host", "proxy.\xe9xample", 0},
    {"http", "port", "3128", 10},
    {"http", "proxy_passwd", "a=b=\x7f\x9f\xa0", 0},
};

struct ProgressValue {
    const char* name;
    uint32_t total, done;
};
const ProgressValue kProgress = {"LJ fluid \xc3\x84 \xfe 0001", 4000000000u, 3999999999u};

// Seconds since 2000 of the three times each used slot holds, in turn:
// 1998, 2041 (past the end of a signed 32-bit Unix time), 2158 (past an
// unsigned one).
const int64_t kSeconds[] = {-63158400, 1300000000, 5000000000};

void FillQueue(WorkQueue* q) {
    q->current = 7;
    q->performance_fraction = 0.6180339887f;
    q->performance_count = 3;
    const uint32_t statuses[kQueueSlots] = {kSlotReady, kSlotDone, kSlotEmpty, kSlotReady, kSlotDone,
                                            9,          kSlotDone, kSlotReady, kSlotEmpty, kSlotDone};
    for (uint32_t i = 0; i < kQueueSlots; ++i) {
        QueueEntry& e = q->entries[i];
        e.status = statuses[i];
        if (e.status == kSlotEmpty) continue;
        const int64_t base = kSeconds[i % 3];
        e.received = MakeTimeValue(base + i, 0x8000000000000001ull * (i + 1));
        e.completed = MakeTimeValue(base + 3600 * i, ~0ull - i);
        e.has_deadline = i % 2;
        e.core_finished = e.status == kSlotDone ? 1 : 0;
        snprintf(e.core_location, sizeof e.core_location, "127.0.0.4:8081/cores/Z\xc3\xbcrich-%u/\xff", i);
        e.download_options = static_cast<uint8_t>(0x90 | i);
        // The header bytes the client never interprets are kept as they
        // came; fill them so that a shifted or dropped byte shows.
        for (size_t k = 0; k < kWorkHeaderBytes; ++k) e.work_header[k] = static_cast<uint8_t>(k * 37 + i);
        e.set_packet_type(kStoredHeaderType);
        e.set_core_type(0x78 + i);
        e.set_protocol_version(kQueueVersion);
        e.set_payload_size(2097152 - i);
        e.set_server_address(0x7F000002u + i);  // 127.0.0.2 onwards
        e.set_server_port(i == 4 ? 0x12345678u : 8080);
        e.set_deadline_seconds(i == 3 ? -1 : 86400 * 30 + static_cast<int32_t>(i));
        char name[kCoreNameSize];
        snprintf(name, sizeof name, "Gr\xc3\xb6macs \xff%u", i);
        e.set_core_name(name);
        e.deadline = MakeTimeValue(TimeSeconds(e.received) + e.deadline_seconds(), 0);
    }
}

// Text with every byte outside printable ASCII as \xHH, so that a dump is
// the same on every host and shows exactly which byte was read.
std::string Escaped(const char* text, size_t n) {
    std::string out;
    for (size_t i = 0; i < n && text[i] != '\0'; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

void DumpTime(FILE* out, const char* what, const Int128& t) {
    CalendarTime cal{};
    const int rc = v3TimeToCalendar(&cal, t);
    fprintf(out, "  %s %" PRId64 " + %016" PRIx64 "/2^64 = %" PRId64 "-%02u-%02u %02u:%02u:%02u wd%u yd%u (%d)\n",
            what, TimeSeconds(t), t.low, cal.year, cal.month + 1, cal.day + 1, cal.hour, cal.minute,
            cal.second, cal.weekday, cal.yday, rc);
}

void DumpQueue(FILE* out, const WorkQueue& q) {
    uint32_t fraction_bits = 0;
    std::memcpy(&fraction_bits, &q.performance_fraction, sizeof fraction_bits);
    fprintf(out, "queue.dat: version %u current %u fraction %.9g (bits %08x) count %u\n", q.version,
            q.current, static_cast<double>(q.performance_fraction), fraction_bits, q.performance_count);
    for (uint32_t i = 0; i < kQueueSlots; ++i) {
        const QueueEntry& e = q.entries[i];
        fprintf(out, "slot %u: status %u reserved %u has_deadline %u core_finished %u options %02x\n", i,
                e.status, e.reserved, e.has_deadline, e.core_finished, e.download_options);
        DumpTime(out, "received", e.received);
        DumpTime(out, "completed", e.completed);
        DumpTime(out, "deadline", e.deadline);
        fprintf(out, "  location \"%s\"\n", Escaped(e.core_location, sizeof e.core_location).c_str());
        fprintf(out,
                "  header type %u core %x protocol %u payload %u server %08x port %u deadline %d name \"%s\"\n",
                e.packet_type(), e.core_type(), e.protocol_version(), e.payload_size(), e.server_address(),
                e.server_port(), e.deadline_seconds(), Escaped(e.core_name().c_str(), kCoreNameSize).c_str());
        fprintf(out, "  header bytes");
        for (size_t k = 0; k < kWorkHeaderBytes; ++k) fprintf(out, "%s%02x", k % 32 ? "" : "\n    ", e.work_header[k]);
        fprintf(out, "\n");
    }
    fprintf(out, "queue display:\n%s", FormatQueueInfo(q).c_str());
}

void DumpConfig(FILE* out, v3Config* config) {
    for (const ConfigValue& v : kConfigValues) {
        const char* text = v3ConfigGet(config, v.section, v.key);
        fprintf(out, "client.cfg [%s] %s = \"%s\"", v.section, v.key,
                text ? Escaped(text, std::strlen(text)).c_str() : "(missing)");
        if (text != nullptr && v.base != 0) {
            int64_t value = 0;
            const int rc = v3ReadNumber(&value, sizeof value, 1, text, static_cast<uint32_t>(v.base), 1);
            uint64_t wide = 0;
            const int wide_rc = v3ReadNumber(&wide, sizeof wide, 0, text, static_cast<uint32_t>(v.base), 1);
            char formatted[40];
            v3StringPrint(formatted, sizeof formatted, "%Y", wide);
            fprintf(out, " -> %" PRId64 " (%d), unsigned %s (%d)", value, rc, formatted, wide_rc);
        }
        fprintf(out, "\n");
    }
}

void DumpRegistry(FILE* out) {
    uint64_t id = 0;
    const int rc = LoadSaveUserID(kEdition, &id, 0);
    char text[40];
    v3StringPrint(text, sizeof text, "%Y", id);
    fprintf(out, "registry: user ID %s (%d)\n", text, rc);
    char name[kRegistryNameSize] = {};
    int32_t team = 0;
    const int user_rc = ReadRegistryUser(kEdition, name, &team);
    fprintf(out, "registry: user \"%s\" team %d (%d)\n", Escaped(name, sizeof name).c_str(), team, user_rc);
}

// unitinfo.txt as the progress check writes it from record, with a download
// time past 2038 and a due time past 2106.
void DumpProgress(FILE* out, const uint8_t* record) {
    const Int128 received = MakeTimeValue(kSeconds[1], 0);
    const Int128 due = MakeTimeValue(kSeconds[2], 0);
    std::remove(kUnitInfoFile);
    WriteUnitInfo(record, &received, &due);
    char text[1024] = {};
    uint64_t length = 0;
    ReadWholeFile(text, sizeof text - 1, &length, kUnitInfoFile);
    fprintf(out, "progress record -> unitinfo.txt:\n%s", text);
}

int Write(FILE* out) {
    const std::unique_ptr<WorkQueue> q = NewWorkQueue();
    if (q == nullptr) return 3;
    FillQueue(q.get());
    if (SaveQueue(q.get()) != 0) return 4;
    DumpQueue(out, *q);

    v3Config config{};
    for (const ConfigValue& v : kConfigValues) {
        if (v3ConfigSet(&config, v.section, v.key, v.value) != 0) return 5;
    }
    if (v3ConfigSave(&config, "client.cfg") != 0) return 6;
    DumpConfig(out, &config);
    v3ConfigDestroy(&config);

    uint64_t id = kUserID;
    if (LoadSaveUserID(kEdition, &id, 1) != 0) return 7;
    if (RegistrySetValue(RegistryRoot::kLocalMachine, kRegistryUserKey, "Name", kRegistryString,
                         "J\xc3\xbcrgen \xff", 0) != kRegistryOk ||
        RegistrySetValue(RegistryRoot::kLocalMachine, kRegistryUserKey, "TeamNum", kRegistryString, "-42", 0) !=
            kRegistryOk) {
        return 8;
    }
    DumpRegistry(out);

    // The record as the core writes it, with the core's own encoder.
    if (!qrvcore::WriteProgressRecord(kProgressPath, kProgress.name, kProgress.total, kProgress.done)) return 9;
    const std::vector<uint8_t> record =
        qrvcore::EncodeProgressRecord(kProgress.name, kProgress.total, kProgress.done);
    DumpProgress(out, record.data());
    return 0;
}

int Read(FILE* out) {
    const std::unique_ptr<WorkQueue> q = LoadQueue();
    if (q == nullptr) return 3;
    DumpQueue(out, *q);

    v3Config config{};
    if (v3ConfigLoad(&config, "client.cfg") != 0) return 5;
    DumpConfig(out, &config);
    v3ConfigDestroy(&config);

    DumpRegistry(out);

    uint8_t record[kProgressRecordSize] = {};
    uint64_t length = 0;
    if (ReadWholeFile(record, sizeof record, &length, kProgressPath) != 0 || length != sizeof record) return 9;
    DumpProgress(out, record);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 || (std::strcmp(argv[1], "write") != 0 && std::strcmp(argv[1], "read") != 0)) {
        fprintf(stderr, "usage: file_exchange write|read DIR DUMP\n");
        return 2;
    }
    const bool write = std::strcmp(argv[1], "write") == 0;
    FILE* out = std::fopen(argv[3], "w");
    if (out == nullptr) {
        perror(argv[3]);
        return 2;
    }
    const std::string dir = argv[2];
    if (setenv("QRV_REGISTRY_DIR", (dir + "/registry").c_str(), 1) != 0 || chdir(dir.c_str()) != 0) {
        perror(argv[2]);
        return 2;
    }
    if (write && mkdir("work", 0700) != 0) {
        perror("work");
        return 2;
    }
    SetLogVerbosity(0);  // no log lines between the readings
    const int rc = write ? Write(out) : Read(out);
    std::fclose(out);
    if (rc != 0) fprintf(stderr, "file_exchange %s: step %d failed\n", argv[1], rc);
    return rc;
}
