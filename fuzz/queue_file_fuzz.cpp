// LoadQueue (with ConvertQueue behind it for older formats) and
// LoadQueueCopy on an arbitrary queue.dat in a scratch working directory.
//
// Input: [0] bit 0 picks LoadQueue (set) or the read-only LoadQueueCopy;
// the rest is queue.dat.
//
// Checks: LoadQueue either gives a record, leaving queue.dat alone when it
// was of the current layout and otherwise replacing it by exactly the
// converted record, or refuses, having moved the file's unchanged bytes
// aside to queue.dat.bad; after RemoveUnknownItems every slot holds one of
// the five known states. LoadQueueCopy never changes the directory. No
// other file appears.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/fuzz_check.h"
#include "common/scratch_dir.h"
#include "log/log.h"
#include "queue/queue_operations.h"
#include "queue/queue_record.h"
#include "queue/work_queue.h"
#include "support/byte_order.h"
#include "support/sleep.h"

namespace {

std::string ReadAll(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

WorkQueue* g_removing = nullptr;

// What DeleteUnit does to the record, without the unit's files (there are
// none here) and without a save.
int EmptyOnly(uint32_t index) {
    FUZZ_CHECK(index < kQueueSlots);
    g_removing->entries[index].status = kSlotEmpty;
    return 0;
}

// The bytes SaveQueue writes for a record.
std::string Saved(const WorkQueue& record) {
    WorkQueue copy = record;
    for (QueueEntry& e : copy.entries) {
        if (e.status == kSlotActive) e.status = kSlotReady;
        if (e.status == kSlotFetching) e.status = kSlotEmpty;
    }
    std::string bytes(kQueueFileSize, '\0');
    EncodeWorkQueue(copy, reinterpret_cast<uint8_t*>(bytes.data()));
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetLogVerbosity(3);
    v3SetSleepHook([](uint32_t) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const qrvfuzz::InScratch in_scratch;
    if (size < 1) return 0;
    const bool full = (data[0] & 1) != 0;
    const std::string file(reinterpret_cast<const char*>(data + 1), size - 1);
    qrvfuzz::ClearScratch();
    qrvfuzz::WriteScratchFile(kQueueFileName, file.data(), file.size());
    uint32_t version = 0;
    if (file.size() >= 4) version = LoadLE32(reinterpret_cast<const uint8_t*>(file.data()));

    const std::unique_ptr<WorkQueue> queue = full ? LoadQueue() : LoadQueueCopy();
    const std::vector<std::string> entries = qrvfuzz::ScratchEntries();
    if (!full || (queue != nullptr && file.size() >= 4 && version >= kQueueVersion)) {
        FUZZ_CHECK(entries == std::vector<std::string>{kQueueFileName});
        FUZZ_CHECK(ReadAll(kQueueFileName) == file);
    }
    if (queue == nullptr) {
        if (full) {
            FUZZ_CHECK(entries == std::vector<std::string>{"queue.dat.bad"});
            FUZZ_CHECK(ReadAll("queue.dat.bad") == file);
        }
        return 0;
    }
    if (full && version < kQueueVersion) {
        FUZZ_CHECK(entries == std::vector<std::string>{kQueueFileName});
        FUZZ_CHECK(queue->version == kQueueVersion);
        FUZZ_CHECK(ReadAll(kQueueFileName) == Saved(*queue));
    }
    g_removing = queue.get();
    RemoveUnknownItems(queue.get(), EmptyOnly);
    g_removing = nullptr;
    for (const QueueEntry& e : queue->entries) FUZZ_CHECK(e.status <= kSlotFetching);
    return 0;
}
