#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "queue/queue_operations.h"
#include "queue/queue_record.h"
#include "queue/work_queue.h"
#include "queue_test_support.h"
#include "support/atomic_file.h"
#include "support/byte_order.h"

namespace {

using qrvtest::FileExists;
using qrvtest::MakeUnit;
using qrvtest::ReadFileText;
using qrvtest::WriteFileText;

using QueuePtr = std::unique_ptr<WorkQueue>;

class QueueFileTest : public qrvtest::QueueTest {};

void PutWord(std::string& bytes, size_t offset, uint32_t v) {
    StoreLE32(reinterpret_cast<uint8_t*>(bytes.data()) + offset, v);
}

TEST_F(QueueFileTest, NewQueueFileIsVersionThenZeros) {
    QueuePtr q(NewWorkQueue());
    ASSERT_TRUE(q);
    ASSERT_EQ(SaveQueue(q.get()), 0);
    const std::string bytes = FileBytes();
    ASSERT_EQ(bytes.size(), 7056u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x44\x01\x00\x00", 4));
    EXPECT_EQ(bytes.find_first_not_of('\0', 4), std::string::npos);
}

TEST_F(QueueFileTest, FieldsAreStoredLittleEndianAtTheirOffsets) {
    QueuePtr q(NewWorkQueue());
    q->current = 3;
    q->performance_fraction = 0.75f;
    q->performance_count = 2;
    QueueEntry e = MakeUnit(kSlotDone, 0x0102030405LL, 0xC000020A, 8080);
    e.completed = MakeTimeValue(-2, 0x8000000000000000ull);
    e.has_deadline = 1;
    e.core_finished = 1;
    strcpy(e.core_location, "cores.example.org:8080/cores");
    e.download_options = 0x10;
    e.set_deadline_seconds(864000);
    e.deadline = MakeTimeValue(0x0102030405LL + 864000, 0);
    q->entries[3] = e;
    ASSERT_EQ(SaveQueue(q.get()), 0);

    const std::string b = FileBytes();
    const size_t s = 8 + 704 * 3;
    EXPECT_EQ(WordAt(b, 4), 3u);
    EXPECT_EQ(WordAt(b, s + 0), kSlotDone);
    EXPECT_EQ(WordAt(b, s + 8), 0x02030405u);  // received seconds, low word first
    EXPECT_EQ(WordAt(b, s + 12), 0x01u);
    EXPECT_EQ(WordAt(b, s + 24), 0xFFFFFFFEu);  // completed: -2 seconds
    EXPECT_EQ(WordAt(b, s + 28), 0xFFFFFFFFu);
    EXPECT_EQ(WordAt(b, s + 36), 0x80000000u);  // its fraction's high word
    EXPECT_EQ(WordAt(b, s + 40), 1u);
    EXPECT_EQ(WordAt(b, s + 44), 1u);
    EXPECT_EQ(b.substr(s + 48, 30), std::string("cores.example.org:8080/cores\0\0", 30));
    EXPECT_EQ(static_cast<uint8_t>(b[s + 175]), 0x10);
    EXPECT_EQ(WordAt(b, s + 176), 500u);
    EXPECT_EQ(WordAt(b, s + 180), 0x78u);
    EXPECT_EQ(WordAt(b, s + 264), 0xC000020Au);
    EXPECT_EQ(b.substr(s + 264, 4), std::string("\x0A\x02\x00\xC0", 4));
    EXPECT_EQ(WordAt(b, s + 268), 8080u);
    EXPECT_EQ(b.substr(s + 272, 7), std::string("Tinker\0", 7));
    EXPECT_EQ(WordAt(b, s + 496), 864000u);
    EXPECT_EQ(WordAt(b, s + 688), 0x02030405u + 864000u);
    EXPECT_EQ(WordAt(b, 7048), 0x3F400000u);  // 0.75f
    EXPECT_EQ(WordAt(b, 7052), 2u);

    QueuePtr back(LoadQueue());
    ASSERT_TRUE(back);
    const QueueEntry& r = back->entries[3];
    EXPECT_TRUE(v3Int128Equal(r.completed, e.completed));
    EXPECT_TRUE(v3Int128Equal(r.deadline, e.deadline));
    EXPECT_STREQ(r.core_location, e.core_location);
    EXPECT_EQ(r.core_name(), "Tinker");
    EXPECT_EQ(r.deadline_seconds(), 864000);
    EXPECT_EQ(back->performance_fraction, 0.75f);
}

TEST_F(QueueFileTest, SavingStoresActiveAsReadyInMemoryToo) {
    QueuePtr q(NewWorkQueue());
    q->entries[6] = MakeUnit(kSlotActive, 100);
    q->entries[7] = MakeUnit(kSlotFetching, 100);
    ASSERT_EQ(SaveQueue(q.get()), 0);
    EXPECT_EQ(q->entries[6].status, kSlotReady);
    EXPECT_EQ(q->entries[7].status, kSlotFetching);
    EXPECT_EQ(WordAt(FileBytes(), 8 + 704 * 6), kSlotReady);
}

// A fetch claims its slot in memory only; a save that another thread makes
// meanwhile must not leave the claim on disk, or a client killed during the
// fetch would never use that slot again.
TEST_F(QueueFileTest, AFetchInProgressIsStoredAsAnEmptySlot) {
    QueuePtr q(NewWorkQueue());
    q->entries[2] = MakeUnit(kSlotReady, 100);
    q->entries[4].status = kSlotFetching;
    q->entries[8] = MakeUnit(kSlotDone, 200);
    int saved = -1;
    std::thread other([&] { saved = SaveQueue(q.get()); });
    other.join();
    ASSERT_EQ(saved, 0);
    EXPECT_EQ(q->entries[4].status, kSlotFetching) << "the running fetch keeps its claim";
    const std::string bytes = FileBytes();
    EXPECT_EQ(WordAt(bytes, 8 + 704 * 4), kSlotEmpty);
    EXPECT_EQ(WordAt(bytes, 8 + 704 * 2), kSlotReady);
    EXPECT_EQ(WordAt(bytes, 8 + 704 * 8), kSlotDone);

    // The next start finds the slot free again, and the other units as they were.
    QueuePtr back(LoadQueue());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->entries[4].status, kSlotEmpty);
    EXPECT_EQ(back->entries[2].status, kSlotReady);
    EXPECT_EQ(back->entries[8].status, kSlotDone);
    uint32_t slot = 3;
    ASSERT_EQ(FindNextSlot(back.get(), kSlotEmpty, &slot), 0);
    EXPECT_EQ(slot, 4u);
}

TEST_F(QueueFileTest, NewerVersionLoadsWithCurrentLayoutAndKeepsItsNumber) {
    QueuePtr q(NewWorkQueue());
    q->version = 400;
    q->current = 5;
    q->entries[5] = MakeUnit(kSlotReady, 42);
    ASSERT_EQ(SaveQueue(q.get()), 0);
    BeginCapture();
    QueuePtr back(LoadQueue());
    const std::string out = EndCapture();
    ASSERT_TRUE(back);
    EXPECT_EQ(back->version, 400u);
    EXPECT_EQ(back->current, 5u);
    EXPECT_EQ(back->entries[5].core_name(), "Tinker");
    EXPECT_NE(out.find("Loaded queue successfully.\n"), std::string::npos);
    EXPECT_EQ(out.find("converting"), std::string::npos);
    EXPECT_EQ(qrvtest::g_queue_test_sleeps, std::vector<uint32_t>{150});
}

TEST_F(QueueFileTest, MissingFileGivesNothingAndMovesNothing) {
    EXPECT_EQ(LoadQueue(), nullptr);
    EXPECT_FALSE(FileExists("queue.dat.bad"));
}

TEST_F(QueueFileTest, ShortOrEmptyFileIsSetAsideNotOverwritten) {
    for (size_t size : {size_t{0}, size_t{3}, size_t{7055}}) {
        std::string bytes(size, '\x07');
        if (size >= 4) PutWord(bytes, 0, 324);
        WriteFileText("queue.dat", bytes);
        BeginCapture();
        EXPECT_EQ(LoadQueue(), nullptr) << size;
        const std::string out = EndCapture();
        EXPECT_FALSE(FileExists("queue.dat")) << size;
        EXPECT_EQ(ReadFileText("queue.dat.bad"), bytes) << size;
        EXPECT_NE(out.find("- Damaged work queue renamed to queue.dat.bad\n"), std::string::npos);
    }
}

// An entry of an older file, as its client wrote it.
std::string OldEntry(size_t size, uint32_t status, uint32_t word40, uint32_t address, uint32_t port) {
    std::string e(size, '\0');
    PutWord(e, 0, status);
    PutWord(e, 8, 1000 + status);  // received
    PutWord(e, 40, word40);
    PutWord(e, 176, 500);
    PutWord(e, 180, 0x65);
    PutWord(e, 264, address);
    PutWord(e, 268, port);
    memcpy(e.data() + 272, "Gromit", 6);
    if (size == 704) PutWord(e, 688, 0xDEADBEEF);
    return e;
}

TEST_F(QueueFileTest, OldestFormatKeepsOnlyReadyAndDoneUnits) {
    std::string file(4, '\0');
    PutWord(file, 0, 3);  // no version word: the current index
    const uint32_t statuses[10] = {1, 2, 3, 4, 0, 1, 9, 2, 0, 0};
    for (uint32_t s : statuses) file += OldEntry(704, s, 0, 0xC0000201, 80);
    WriteFileText("queue.dat", file + std::string(8, '\0'));
    BeginCapture();
    QueuePtr q(LoadQueue());
    const std::string out = EndCapture();
    ASSERT_TRUE(q);
    EXPECT_NE(out.find("Old queue version detected... converting\n"), std::string::npos);
    EXPECT_EQ(q->version, 324u);
    EXPECT_EQ(q->current, 3u);
    for (uint32_t i = 0; i < 10; ++i) {
        const bool kept = statuses[i] == 1 || statuses[i] == 2;
        EXPECT_EQ(q->entries[i].status, kept ? statuses[i] : 0u) << i;
        EXPECT_EQ(q->entries[i].core_name(), kept ? "Gromit" : "") << i;
    }
    const std::string saved = FileBytes();
    ASSERT_EQ(saved.size(), 7056u);
    EXPECT_EQ(WordAt(saved, 0), 324u);
    EXPECT_EQ(WordAt(saved, 8 + 704 * 1), kSlotDone);
}

TEST_F(QueueFileTest, SecondGenerationTakesAddressFromOffset40AndDefaultPort) {
    std::string file(8, '\0');
    PutWord(file, 0, 250);
    PutWord(file, 4, 7);
    file += OldEntry(704, kSlotDone, 0xC000020A, 0, 0);       // address only at 40
    file += OldEntry(704, kSlotReady, 0x55, 0x0A000001, 81);  // address and port stored
    for (int i = 2; i < 10; ++i) file += std::string(704, '\0');
    std::string tail(8, '\0');
    PutWord(tail, 0, 0x3F000000);  // 0.5f
    PutWord(tail, 4, 3);
    WriteFileText("queue.dat", file + tail);

    BeginCapture();
    QueuePtr q(LoadQueue());
    const std::string out = EndCapture();
    ASSERT_TRUE(q);
    EXPECT_NE(out.find("Queue v2.50 detected... converting\n"), std::string::npos);
    EXPECT_EQ(q->version, 324u);
    EXPECT_EQ(q->current, 7u);
    const QueueEntry& a = q->entries[0];
    EXPECT_EQ(a.server_address(), 0xC000020Au);
    EXPECT_EQ(a.server_port(), 8080u);
    // The word was an address, so it must not leave the unit with a deadline
    // in the year 2000 that the next deadline pass would act on.
    EXPECT_EQ(a.has_deadline, 0u);
    const QueueEntry& b = q->entries[1];
    EXPECT_EQ(b.server_address(), 0x0A000001u);
    EXPECT_EQ(b.server_port(), 81u);
    EXPECT_EQ(b.has_deadline, 0x55u);
    EXPECT_EQ(q->performance_fraction, 0.5f);
    EXPECT_EQ(q->performance_count, 3u);
    const std::string saved = FileBytes();
    EXPECT_EQ(WordAt(saved, 0), 324u);
    EXPECT_EQ(WordAt(saved, 8 + 268), 8080u);
}

TEST_F(QueueFileTest, ShortEntryFormatKeepsFirst688BytesWithoutDeadlines) {
    std::string file(8, '\0');
    PutWord(file, 0, 305);
    PutWord(file, 4, 4);
    for (int i = 0; i < 10; ++i) {
        file += OldEntry(688, i == 4 ? kSlotReady : kSlotEmpty, 1, 0xC000020A, 8080);
    }
    WriteFileText("queue.dat", file);
    BeginCapture();
    QueuePtr q(LoadQueue());
    const std::string out = EndCapture();
    ASSERT_TRUE(q);
    EXPECT_NE(out.find("Queue v3.05 detected... converting\n"), std::string::npos);
    EXPECT_EQ(q->current, 4u);
    const QueueEntry& e = q->entries[4];
    EXPECT_EQ(e.status, kSlotReady);
    EXPECT_EQ(e.core_type(), 0x65u);
    EXPECT_EQ(e.core_name(), "Gromit");
    EXPECT_EQ(e.server_address(), 0xC000020Au);
    for (const QueueEntry& each : q->entries) {
        EXPECT_EQ(each.has_deadline, 0u);
        EXPECT_TRUE(v3Int128Equal(each.deadline, Int128{}));
    }
    EXPECT_EQ(q->performance_count, 0u);
    EXPECT_EQ(FileBytes().size(), 7056u);
}

TEST_F(QueueFileTest, TruncatedOldFileIsSetAsideInsteadOfConverted) {
    std::string file(8, '\0');
    PutWord(file, 0, 305);
    file += OldEntry(688, kSlotDone, 0, 0xC000020A, 8080);  // nine entries missing
    WriteFileText("queue.dat", file);
    EXPECT_EQ(LoadQueue(), nullptr);
    EXPECT_EQ(ReadFileText("queue.dat.bad"), file);
    EXPECT_FALSE(FileExists("queue.dat"));
}

TEST_F(QueueFileTest, CountReadsACopyAndNeverConvertsOrMovesTheFile) {
    QueuePtr q(NewWorkQueue());
    q->entries[0] = MakeUnit(kSlotDone, 10, 0xC000020A);
    q->entries[4] = MakeUnit(kSlotDone, 10, 0x0A000001);
    q->entries[5] = MakeUnit(kSlotReady, 10, 0xC000020A);
    q->entries[9] = MakeUnit(kSlotDone, 10, 0xC000020A);
    ASSERT_EQ(SaveQueue(q.get()), 0);
    EXPECT_EQ(CountServerDoneUnits(0xC000020A), 2u);
    EXPECT_EQ(CountServerDoneUnits(0x0A000001), 1u);
    EXPECT_EQ(CountServerDoneUnits(0x7F000001), 0u);

    std::string old(8, '\0');
    PutWord(old, 0, 305);
    WriteFileText("queue.dat", old);
    EXPECT_EQ(CountServerDoneUnits(0xC000020A), 0u);
    EXPECT_EQ(ReadFileText("queue.dat"), old);
    EXPECT_FALSE(FileExists("queue.dat.bad"));
}

// A save caught between writing its copy and renaming it into place while
// another thread changes the queue and saves: the file must end up holding
// the newest record, never the older snapshot renamed in last.
std::atomic<bool> g_slow_save_waiting{false};
thread_local bool tl_slow_saver = false;

bool DelayRename(ReplaceStep step) {
    if (step == ReplaceStep::kRename && tl_slow_saver &&
        !g_slow_save_waiting.exchange(true)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return false;
}

TEST_F(QueueFileTest, ConcurrentSavesLeaveTheNewestRecord) {
    QueuePtr q(NewWorkQueue());
    g_slow_save_waiting = false;
    v3FileSetReplaceFaultHook(DelayRename);
    std::thread slow([&] {
        tl_slow_saver = true;
        {
            QueueGuard guard(*q);
            q->entries[0].received = MakeTimeValue(1, 0);
        }
        EXPECT_EQ(SaveQueue(q.get()), 0);
    });
    while (!g_slow_save_waiting) std::this_thread::yield();
    {
        QueueGuard guard(*q);
        q->entries[1].received = MakeTimeValue(2, 0);
    }
    EXPECT_EQ(SaveQueue(q.get()), 0);
    slow.join();
    v3FileSetReplaceFaultHook(nullptr);
    QueuePtr back(LoadQueue());
    ASSERT_TRUE(back);
    EXPECT_EQ(TimeSeconds(back->entries[0].received), 1);
    EXPECT_EQ(TimeSeconds(back->entries[1].received), 2);
}

// Each queue has a lock of its own, and so has a copy of one: holding the
// guard of a queue on one thread keeps no other thread from another queue,
// nor from a copy taken while the guard is held.
TEST_F(QueueFileTest, EachQueueAndEachCopyHasALockOfItsOwn) {
    QueuePtr first(NewWorkQueue());
    QueuePtr second(NewWorkQueue());
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
    std::thread holder([&] {
        QueueGuard guard(*first);
        held = true;
        while (!release) std::this_thread::yield();
    });
    while (!held) std::this_thread::yield();
    WorkQueue copy = *first;
    for (WorkQueue* other : {second.get(), &copy}) {
        std::atomic<bool> taken{false};
        std::thread taker([&] {
            QueueGuard guard(*other);
            taken = true;
        });
        // A shared lock would keep the taker waiting until the release.
        for (int i = 0; i < 2000 && !taken; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_TRUE(taken.load());
        if (!taken) release = true;
        taker.join();
    }
    release = true;
    holder.join();
}

}  // namespace
