// The core's progress record (work/wuinfo_NN.dat) read by the unit progress
// check, which rewrites unitinfo.txt (and, in the partner edition, two
// registry values), and the core log line test that triggers the check.
//
// Input: [0] options: bit 0 partner edition, bit 1 deadlines on, bit 2 the
// unit has a deadline, bits 3..4 the slot's state, bit 5 the core runs;
// [1] the current slot (a few out of range); [2..17] the arrival time and
// [18..33] the deadline, as stored; the rest is the progress record file
// (any length) and, read as text, a core log line.
//
// Checks: the check refreshes the status files exactly when the slot is in
// range, READY or ACTIVE, its deadline has not stopped the core, and the
// file holds at least the 512-byte record; unitinfo.txt then names the unit as the record's first
// 79 bytes up to a zero, shows the percentage a plain reading gives, and
// stays small whatever the step counts; the deadline stop happens only for
// a running ACTIVE unit with a deadline; nothing is written outside the
// scratch directory.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "client/core_output.h"
#include "common/fuzz_check.h"
#include "common/scratch_dir.h"
#include "log/log.h"
#include "queue/unit_progress.h"
#include "queue/unit_status.h"
#include "queue/work_queue.h"
#include "support/sleep.h"

namespace {

constexpr size_t kParams = 34;
// Three fixed lines, a name of at most 79 bytes, two dates and a bar of at
// most 100 marks: far below this.
constexpr size_t kUnitInfoMax = 1024;

int g_stops = 0;
int Stop() {
    ++g_stops;
    return 0;
}

std::string ReadAll(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

uint32_t LE32(const uint8_t* p) {
    return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

Int128 Time(const uint8_t* p) {
    Int128 t{};
    std::memcpy(&t.high, p, 8);
    std::memcpy(&t.low, p + 8, 8);
    return t;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetLogVerbosity(3);
    v3SetSleepHook([](uint32_t) {});
    setenv("QRV_REGISTRY_DIR", qrvfuzz::ScratchDir().c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const qrvfuzz::InScratch in_scratch;
    if (size < kParams) return 0;
    const uint8_t flags = data[0];
    const uint32_t slot = data[1] % (kQueueSlots + 2);
    const uint8_t* record = data + kParams;
    const size_t record_size = size - kParams;

    // The log line test is a plain prefix test.
    const std::string line(reinterpret_cast<const char*>(record), record_size);
    const std::string text = line.c_str();
    FUZZ_CHECK(IsProgressLine(text.c_str()) ==
               (text.rfind("Finished", 0) == 0 || text.rfind("Writing local files", 0) == 0));

    qrvfuzz::ClearScratch();
    FUZZ_CHECK(mkdir("work", 0700) == 0);
    char name[32];
    std::snprintf(name, sizeof name, "work/wuinfo_%02u.dat", slot);
    qrvfuzz::WriteScratchFile(name, record, record_size);

    std::unique_ptr<WorkQueue> queue = NewWorkQueue();
    FUZZ_CHECK(queue != nullptr);
    static constexpr uint32_t kStates[] = {kSlotEmpty, kSlotReady, kSlotDone, kSlotActive};
    const uint32_t state = kStates[(flags >> 3) & 3];
    queue->current = slot;
    if (slot < kQueueSlots) {
        QueueEntry& e = queue->entries[slot];
        e.status = state;
        e.has_deadline = (flags & 4) != 0 ? 1 : 0;
        e.received = Time(data + 2);
        e.deadline = Time(data + 18);
    }
    UnitProgressInputs in;
    in.queue = queue.get();
    in.deadlines_on = (flags & 2) != 0;
    in.core_running = (flags & 32) != 0;
    in.edition_code = (flags & 1) != 0 ? 5 : 0;
    in.stop_core = Stop;
    g_stops = 0;
    const int rc = CheckUnitProgressWith(in);

    const bool usable = slot < kQueueSlots && (state == kSlotReady || state == kSlotActive);
    const bool could_stop = usable && in.deadlines_on && in.core_running &&
                            state == kSlotActive && (flags & 4) != 0;
    FUZZ_CHECK(g_stops == 0 || (g_stops == 1 && could_stop && rc == -1));
    // The record is the file's first 512 bytes: a longer file is read up to
    // them, a shorter one is not a record.
    const bool refreshed = usable && g_stops == 0 && record_size >= kProgressRecordSize;
    FUZZ_CHECK(rc == (refreshed ? 0 : -1));

    std::vector<std::string> want = {"work"};
    if (rc == 0) {
        want.push_back(kUnitInfoFile);
        const std::string info = ReadAll(kUnitInfoFile);
        FUZZ_CHECK(info.size() <= kUnitInfoMax);
        const char* n = reinterpret_cast<const char*>(record + kProgressName);
        const std::string unit(n, strnlen(n, kProgressNameSize - 1));
        FUZZ_CHECK(info.find("Name: " + unit + "\n") != std::string::npos);
        const uint32_t total = LE32(record + kProgressTotal);
        const uint32_t done = LE32(record + kProgressDone);
        const int64_t percent =
            total == 0 ? 0 : static_cast<int64_t>(static_cast<double>(done) / total * 100.0);
        char progress[64];
        std::snprintf(progress, sizeof progress, "\nProgress: %" PRId64 "%%  [", percent);
        FUZZ_CHECK(info.find(progress) != std::string::npos);
    }
    const std::vector<std::string> entries = qrvfuzz::ScratchEntries();
    // The partner's registry values are stored only under an existing key,
    // and this store has none: no store file appears.
    std::sort(want.begin(), want.end());
    FUZZ_CHECK(entries == want);
    return 0;
}
