#include <string>
#include <thread>
#include <vector>

#include "queue/get_work.h"
#include "queue/queue_operations.h"
#include "support/byte_order.h"
#include "queue_test_support.h"

namespace {

using qrvtest::MakeUnit;

class QueueOperationsTest : public qrvtest::QueueTest {
protected:
    WorkQueue q;
};

TEST_F(QueueOperationsTest, FindNextSlotLooksAtTheStartSlotLast) {
    uint32_t i = 9;
    q.entries[9].status = kSlotReady;
    ASSERT_EQ(FindNextSlot(&q, kSlotReady, &i), 0);
    EXPECT_EQ(i, 9u);  // from 9 the search is 0..9
    q.entries[0].status = kSlotReady;
    ASSERT_EQ(FindNextSlot(&q, kSlotReady, &i), 0);
    EXPECT_EQ(i, 0u);

    WorkQueue r;
    r.entries[2].status = kSlotDone;
    r.entries[4].status = kSlotDone;
    i = 4;
    ASSERT_EQ(FindNextSlot(&r, kSlotDone, &i), 0);
    EXPECT_EQ(i, 2u);  // 5..9, then 0..4
    r.entries[2].status = kSlotEmpty;
    ASSERT_EQ(FindNextSlot(&r, kSlotDone, &i), 0);
    EXPECT_EQ(i, 4u);
    i = 6;
    EXPECT_EQ(FindNextSlot(&r, kSlotFetching, &i), -1);
    EXPECT_EQ(i, 6u);
}

TEST_F(QueueOperationsTest, VisitSeesEachSlotOnceInOrderOneToNineThenZero) {
    q.entries[0].status = kSlotDone;
    q.entries[5].status = kSlotDone;
    std::vector<uint32_t> seen;
    VisitSlots(&q, kSlotDone, [&](uint32_t i) { seen.push_back(i); });
    EXPECT_EQ(seen, (std::vector<uint32_t>{5, 0}));

    // Emptying the visited slot, as a send does, must not end the walk early.
    seen.clear();
    VisitSlots(&q, kSlotDone, [&](uint32_t i) {
        seen.push_back(i);
        q.entries[i].status = kSlotEmpty;
    });
    EXPECT_EQ(seen, (std::vector<uint32_t>{5, 0}));

    for (QueueEntry& e : q.entries) e.status = kSlotReady;
    seen.clear();
    VisitSlots(&q, kSlotReady, [&](uint32_t i) { seen.push_back(i); });
    EXPECT_EQ(seen, (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 0}));
}

TEST_F(QueueOperationsTest, OldestSlotIgnoresEmptySlotsAndPrefersTheLowerIndex) {
    uint32_t i = 99;
    EXPECT_EQ(FindOldestSlot(&q, &i), -1);
    q.entries[1] = MakeUnit(kSlotEmpty, 5);  // an old unit's leftovers in a free slot
    q.entries[4] = MakeUnit(kSlotDone, 500);
    q.entries[6] = MakeUnit(kSlotReady, 300);
    q.entries[8] = MakeUnit(kSlotActive, 300);
    ASSERT_EQ(FindOldestSlot(&q, &i), 0);
    EXPECT_EQ(i, 6u);
    // Nothing received before now: no slot is older than now.
    WorkQueue r;
    r.entries[3] = MakeUnit(kSlotDone, TimeSeconds(qrvtest::g_queue_test_now));
    i = 99;
    EXPECT_EQ(FindOldestSlot(&r, &i), -1);
    EXPECT_EQ(i, 99u);
}

TEST_F(QueueOperationsTest, EmptySlotSavesAndRefusesIndexTen) {
    q.entries[2] = MakeUnit(kSlotDone, 10);
    EXPECT_EQ(EmptySlot(&q, 10), -1);
    EXPECT_FALSE(qrvtest::FileExists("queue.dat"));
    ASSERT_EQ(EmptySlot(&q, 2), 0);
    EXPECT_EQ(q.entries[2].status, kSlotEmpty);
    EXPECT_EQ(FileBytes().size(), 7056u);
}

std::vector<uint32_t> g_deleted;
int g_refuse_slot = -1;
int RecordDelete(uint32_t i) {
    g_deleted.push_back(i);
    return static_cast<int>(i) == g_refuse_slot ? -1 : 0;
}

TEST_F(QueueOperationsTest, UnknownItemsAreReportedAndDeletedKnownOnesKept) {
    g_deleted.clear();
    for (uint32_t s = 0; s <= 4; ++s) q.entries[s].status = s;
    q.entries[7].status = 7;
    q.entries[9].status = 0x80000000u;
    BeginCapture();
    RemoveUnknownItems(&q, RecordDelete);
    const std::string out = EndCapture();
    EXPECT_EQ(g_deleted, (std::vector<uint32_t>{7, 9}));
    EXPECT_NE(out.find("Deleting unknown item (7) from queue position #7\n"), std::string::npos);
    EXPECT_NE(out.find("Deleting unknown item (2147483648) from queue position #9\n"),
              std::string::npos);
}

// A purge spares the finished units (their results wait only for the
// network) and names each unit it deletes.
TEST_F(QueueOperationsTest, PurgeDeletesEverySlotButTheFinishedAndReportsAnyFailure) {
    g_deleted.clear();
    g_refuse_slot = -1;
    q.entries[2].status = kSlotDone;
    q.entries[5].status = kSlotReady;
    q.entries[8].status = kSlotActive;
    BeginCapture();
    EXPECT_EQ(PurgeQueue(&q, RecordDelete), 0);
    const std::string out = EndCapture();
    EXPECT_EQ(g_deleted, (std::vector<uint32_t>{0, 1, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_NE(out.find("] - Purging unit 05 from the queue\n"), std::string::npos) << out;
    EXPECT_NE(out.find("] - Purging unit 08 from the queue\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("unit 02"), std::string::npos) << out;
    g_refuse_slot = 3;
    EXPECT_EQ(PurgeQueue(&q, RecordDelete), -1);
    EXPECT_EQ(g_deleted.size(), 18u);  // a failure does not stop the purge
    g_refuse_slot = -1;
}

// A work fetch that fails a set number of times, then delivers a unit.
struct FakeFetch {
    int failures_left = 0;
    int calls = 0;
    std::string work_file;
    uint32_t status_seen = 99;
    uint32_t slot = 0;
};
FakeFetch g_fetch;

int Fetch(QueueEntry* entry, const char* work_file, WorkQueue* queue) {
    ++g_fetch.calls;
    g_fetch.work_file = work_file;
    g_fetch.status_seen = queue->entries[g_fetch.slot].status;
    if (g_fetch.failures_left-- > 0) return -1;
    entry->received = qrvtest::g_queue_test_now;
    entry->set_packet_type(kStoredHeaderType);
    entry->set_core_name("Fresh");
    return 0;
}

TEST_F(QueueOperationsTest, GetWorkTakesTheNextReadySlotWrappingRound) {
    g_fetch = FakeFetch{};
    q.entries[2] = MakeUnit(kSlotReady, 10);
    q.entries[7] = MakeUnit(kSlotReady, 10);
    q.current = 7;
    uint32_t index = 7;
    ASSERT_EQ(GetWork(&q, &index, Fetch), 0);
    EXPECT_EQ(index, 2u);
    EXPECT_EQ(q.current, 2u);
    EXPECT_EQ(g_fetch.calls, 0);
    EXPECT_EQ(WordAt(FileBytes(), 4), 2u);
}

TEST_F(QueueOperationsTest, GetWorkFreesTheOldestSlotWhenAllAreInUse) {
    g_fetch = FakeFetch{};
    g_fetch.slot = 3;
    for (uint32_t i = 0; i < 10; ++i) q.entries[i] = MakeUnit(kSlotDone, 1000 + i);
    q.entries[3].received = MakeTimeValue(50, 0);
    q.entries[6].received = MakeTimeValue(50, 0);
    uint32_t index = 0;
    BeginCapture();
    ASSERT_EQ(GetWork(&q, &index, Fetch), 0);
    const std::string out = EndCapture();
    EXPECT_NE(out.find("- Work queue full. Deleting oldest item\n"), std::string::npos);
    EXPECT_EQ(index, 3u);
    EXPECT_EQ(g_fetch.status_seen, kSlotFetching);
    EXPECT_EQ(g_fetch.work_file, "work/wudata_03.dat");
    EXPECT_EQ(q.entries[3].status, kSlotReady);
    EXPECT_EQ(q.entries[3].core_name(), "Fresh");
    EXPECT_EQ(q.entries[6].status, kSlotDone);
    const std::string saved = FileBytes();
    EXPECT_EQ(WordAt(saved, 4), 3u);
    EXPECT_EQ(WordAt(saved, 8 + 704 * 3), kSlotReady);
}

TEST_F(QueueOperationsTest, GetWorkFailsWhenTheFullQueueHasNoOlderUnit) {
    g_fetch = FakeFetch{};
    for (uint32_t i = 0; i < 10; ++i) {
        q.entries[i] = MakeUnit(kSlotDone, TimeSeconds(qrvtest::g_queue_test_now) + 5);
    }
    uint32_t index = 4;
    BeginCapture();
    EXPECT_EQ(GetWork(&q, &index, Fetch), -1);
    const std::string out = EndCapture();
    EXPECT_NE(out.find("- Fatal Error: Queue full, but delete failed\n"), std::string::npos);
    EXPECT_EQ(g_fetch.calls, 0);
    EXPECT_EQ(index, 4u);
}

// What queue.dat holds for the fetched slot while the fetch runs, after a
// save by another thread (the autosend thread saves at any moment).
std::vector<uint32_t> g_stored_during_fetch;

int FetchWhileAnotherThreadSaves(QueueEntry* entry, const char* work_file, WorkQueue* queue) {
    std::thread other([queue] { SaveQueue(queue); });
    other.join();
    const std::string bytes = qrvtest::ReadFileText(kQueueFileName);
    g_stored_during_fetch.push_back(LoadLE32(reinterpret_cast<const uint8_t*>(bytes.data()) + 8 + 704 * 1));
    return Fetch(entry, work_file, queue);
}

TEST_F(QueueOperationsTest, AClientKilledDuringAFetchFindsTheSlotEmptyAgain) {
    g_fetch = FakeFetch{};
    g_fetch.failures_left = 1;
    g_fetch.slot = 1;
    g_stored_during_fetch.clear();
    q.entries[0] = MakeUnit(kSlotDone, 10);
    uint32_t index = 0;
    BeginCapture();
    ASSERT_EQ(GetWork(&q, &index, FetchWhileAnotherThreadSaves), 0);
    EndCapture();
    ASSERT_EQ(index, 1u);
    EXPECT_EQ(g_fetch.status_seen, kSlotFetching);
    EXPECT_EQ(g_stored_during_fetch, (std::vector<uint32_t>{kSlotEmpty, kSlotEmpty}));
    // Once the unit is in, it is stored as READY.
    EXPECT_EQ(WordAt(FileBytes(), 8 + 704 * 1), kSlotReady);
    EXPECT_EQ(WordAt(FileBytes(), 8), kSlotDone);
}

TEST_F(QueueOperationsTest, GetWorkRetriesAFailingFetchWithGrowingWaits) {
    g_fetch = FakeFetch{};
    g_fetch.failures_left = 3;
    g_fetch.slot = 1;
    uint32_t index = 0;
    BeginCapture();
    ASSERT_EQ(GetWork(&q, &index, Fetch), 0);
    const std::string out = EndCapture();
    EXPECT_EQ(index, 1u);  // the search for an empty slot starts after 0
    EXPECT_EQ(g_fetch.calls, 4);
    for (int n = 1; n <= 3; ++n) {
        const std::string line = "- Error: Getwork #" + std::to_string(n) +
                                 " failed, and no other work to do. Waiting before retry\n";
        EXPECT_NE(out.find(line), std::string::npos) << n;
    }
    EXPECT_EQ(out.find("Getwork #4"), std::string::npos);
    const auto& sleeps = qrvtest::g_queue_test_sleeps;
    ASSERT_EQ(sleeps.size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
        const uint32_t base = 5000u << k;
        EXPECT_GE(sleeps[k], base) << k;
        EXPECT_LT(sleeps[k], base + 15000u) << k;
    }
    EXPECT_EQ(q.entries[1].status, kSlotReady);
    EXPECT_EQ(q.current, 1u);
}

}  // namespace
