// Returning results: what becomes of a slot after each outcome of its
// upload, the sending flag between two threads, the deadline pass and the
// autosend thread's rule and period.
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "config/settings.h"
#include "conversation/return_results.h"
#include "support/thread.h"
#include "queue/queue_test_support.h"

namespace {

using qrvtest::MakeUnit;
using qrvtest::Seconds2003;

// The fake upload's answer and what it saw.
std::atomic<int> g_answer{0};
std::atomic<int> g_uploads{0};
std::vector<std::string> g_files;
int FakeUpload(const QueueEntry*, const char* results_file) {
    ++g_uploads;
    g_files.push_back(results_file);
    return g_answer.load();
}

std::vector<uint32_t> g_deleted;
int FakeDelete(uint32_t index) {
    g_deleted.push_back(index);
    return 0;
}

class ReturnResultsTest : public qrvtest::QueueTest {
protected:
    void SetUp() override {
        QueueTest::SetUp();
        mkdir("work", 0700);
        queue_ = NewWorkQueue();
        ASSERT_NE(queue_, nullptr);
        g_answer = 0;
        g_uploads = 0;
        g_files.clear();
        g_deleted.clear();
    }
    void TearDown() override {
        QueueTest::TearDown();
    }

    // A DONE unit in slot i, completed on 2003-03-05, with its results file.
    void PutDone(uint32_t i) {
        queue_->entries[i] = MakeUnit(kSlotDone, Seconds2003(3, 1, 8, 0, 0));
        queue_->entries[i].completed = MakeTimeValue(Seconds2003(3, 5, 9, 30, 0), 0);
        char name[32];
        snprintf(name, sizeof name, "work/wuresults_%02u.dat", i);
        qrvtest::WriteFileText(name, "results");
    }
    static uint32_t StoredStatus(uint32_t slot) {
        std::unique_ptr<WorkQueue> q = LoadQueueCopy();
        const uint32_t s = q != nullptr ? q->entries[slot].status : 99;
        return s;
    }
    std::string Send(uint32_t i, int* result) {
        BeginCapture();
        *result = SendFinishedUnit(With(FakeUpload), i);
        return EndCapture();
    }
    // The records of the fixture's queue with upload, the fake deleter, the
    // permission and the deadline setting as they stand.
    ResultReturn With(ResultUploader upload) {
        ResultReturn r;
        r.queue = queue_.get();
        r.upload = std::move(upload);
        r.delete_unit = FakeDelete;
        r.permission = &permission_;
        r.deadlines_on = deadlines_on_;
        return r;
    }

    std::unique_ptr<WorkQueue> queue_;
    NetworkPermission permission_;
    bool deadlines_on_ = true;
};

TEST_F(ReturnResultsTest, EachUploadOutcomeDecidesTheSlot) {
    int result = 1;
    // Accepted: the slot empties, the queue is saved, the results go.
    PutDone(1);
    ASSERT_EQ(SaveQueue(queue_.get()), 0);
    g_answer = 0;
    Send(1, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(queue_->entries[1].status, kSlotEmpty);
    EXPECT_EQ(StoredStatus(1), kSlotEmpty);
    EXPECT_FALSE(qrvtest::FileExists("work/wuresults_01.dat"));
    EXPECT_EQ(g_files.at(0), "work/wuresults_01.dat");

    // Transfer failure: the unit stays DONE with its results, and the
    // message gives its completion date.
    PutDone(2);
    ASSERT_EQ(SaveQueue(queue_.get()), 0);
    g_answer = -1;
    std::string text = Send(2, &result);
    EXPECT_EQ(result, -1);
    EXPECT_NE(text.find("- Error: Could not transmit unit 02 (completed March 5). Keeping unit in queue.\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(StoredStatus(2), kSlotDone);
    EXPECT_TRUE(qrvtest::FileExists("work/wuresults_02.dat"));

    // Refused for good ("already received" and the like): the slot empties
    // without the keeping message.
    g_answer = 22;
    text = Send(2, &result);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(text.find("Keeping unit in queue"), std::string::npos);
    EXPECT_EQ(StoredStatus(2), kSlotEmpty);

    // Nothing usable to send.
    PutDone(4);
    g_answer = -2;
    text = Send(4, &result);
    EXPECT_EQ(result, -1);
    EXPECT_NE(text.find("- Error: Could not read unit 04 file. Removing from queue.\n"), std::string::npos);
    EXPECT_EQ(StoredStatus(4), kSlotEmpty);
}

TEST_F(ReturnResultsTest, OnlyDoneSlotsInRangeAreSent) {
    SetLogVerbosity(6);
    int result = 0;
    std::string text = Send(12, &result);
    EXPECT_EQ(result, -1);
    EXPECT_NE(text.find("- Error: Bad queue index while trying to send finished unit\n"), std::string::npos);
    queue_->entries[3] = MakeUnit(kSlotReady, Seconds2003(3, 1, 8, 0, 0));
    text = Send(3, &result);
    EXPECT_EQ(result, -1);
    EXPECT_NE(text.find("- Warning: Asked to send unfinished unit to server\n"), std::string::npos);
    EXPECT_EQ(g_uploads.load(), 0);
    // The flag was cleared after both refusals.
    PutDone(5);
    Send(5, &result);
    EXPECT_EQ(result, 0);
}

TEST_F(ReturnResultsTest, SlotReusedDuringTheUploadIsLeftAlone) {
    PutDone(6);
    static WorkQueue* queue;
    queue = queue_.get();
    // While the upload runs, another thread empties the slot and fetches a
    // new unit into it.
    auto reuse = [](const QueueEntry*, const char*) {
        queue->entries[6] = MakeUnit(kSlotReady, Seconds2003(3, 9, 8, 0, 0));
        return 0;
    };
    EXPECT_EQ(SendFinishedUnit(With(reuse), 6), 0);
    EXPECT_EQ(queue_->entries[6].status, kSlotReady);
    EXPECT_EQ(TimeSeconds(queue_->entries[6].received), Seconds2003(3, 9, 8, 0, 0));
    EXPECT_TRUE(qrvtest::FileExists("work/wuresults_06.dat"));
}

// An upload in progress on one thread makes a second one refuse at once.
std::atomic<int> g_inside{0};
std::atomic<int> g_most_inside{0};
std::atomic<bool> g_release{false};
int SlowUpload(const QueueEntry*, const char*) {
    const int now = ++g_inside;
    int most = g_most_inside.load();
    while (now > most && !g_most_inside.compare_exchange_weak(most, now)) {
    }
    while (!g_release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    --g_inside;
    return -1;
}
int CountingUpload(const QueueEntry*, const char*) {
    const int now = ++g_inside;
    int most = g_most_inside.load();
    while (now > most && !g_most_inside.compare_exchange_weak(most, now)) {
    }
    std::this_thread::yield();
    --g_inside;
    return -1;
}

TEST_F(ReturnResultsTest, UploadsNeverOverlap) {
    PutDone(1);
    PutDone(2);
    g_release = false;
    g_most_inside = 0;
    std::thread first([&] { SendFinishedUnit(With(SlowUpload), 1); });
    while (g_inside.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    SetLogVerbosity(9);
    int result = 0;
    const std::string text = Send(2, &result);
    EXPECT_EQ(result, -1);
    EXPECT_NE(text.find("- Already sending work\n"), std::string::npos);
    EXPECT_EQ(g_uploads.load(), 0);
    EXPECT_EQ(queue_->entries[2].status, kSlotDone) << "a refused send changes nothing";
    // The work cycle's own unit waits for the send in progress, then goes
    // (skipped, it would wait hours for the next autosend pass).
    int in_turn = 1;
    std::atomic<bool> started{false};
    std::thread waiting([&] {
        started = true;
        in_turn = SendFinishedUnitInTurn(With(FakeUpload), 2);
    });
    while (!started.load()) std::this_thread::yield();
    // Time for it to find the send in progress (nothing to see while it waits).
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    g_release = true;
    first.join();
    waiting.join();
    EXPECT_EQ(queue_->entries[1].status, kSlotDone);
    EXPECT_EQ(g_uploads.load(), 1);
    EXPECT_EQ(in_turn, 0);
    EXPECT_EQ(queue_->entries[2].status, kSlotEmpty);
    PutDone(2);

    // Two threads sending all the time: never two uploads at once.
    SetLogVerbosity(1);
    g_most_inside = 0;
    const ResultReturn counting = With(CountingUpload);
    auto hammer = [&] {
        for (int i = 0; i < 100000; ++i) SendAllFinished(counting);
    };
    std::thread a(hammer);
    std::thread b(hammer);
    a.join();
    b.join();
    EXPECT_EQ(g_most_inside.load(), 1);
}

TEST_F(ReturnResultsTest, SendAllVisitsDoneSlotsFromOneRoundToZero) {
    for (uint32_t i : {0u, 4u, 9u}) PutDone(i);
    queue_->entries[5] = MakeUnit(kSlotReady, Seconds2003(3, 1, 8, 0, 0));
    SetLogVerbosity(6);
    BeginCapture();
    g_answer = 0;
    EXPECT_EQ(SendAllFinished(With(FakeUpload)), 0);
    const std::string text = EndCapture();
    EXPECT_EQ(g_files, (std::vector<std::string>{"work/wuresults_04.dat", "work/wuresults_09.dat",
                                                 "work/wuresults_00.dat"}));
    EXPECT_NE(text.find("Trying to send all finished work units\n"), std::string::npos);
    EXPECT_NE(text.find("+ Sent 3 completed units to the server\n"), std::string::npos);

    for (uint32_t i : {2u, 3u}) PutDone(i);
    g_answer = -1;
    EXPECT_EQ(SendAllFinished(With(FakeUpload)), -1);
    EXPECT_EQ(queue_->entries[2].status, kSlotDone);
    EXPECT_EQ(queue_->entries[3].status, kSlotDone);
    ResultReturn no_queue = With(FakeUpload);
    no_queue.queue = nullptr;
    EXPECT_EQ(SendAllFinished(no_queue), -1);
}

TEST_F(ReturnResultsTest, DeadlinePassDeletesExpiredUnits) {
    const int64_t now = Seconds2003(6, 1, 12, 0, 0);  // the test clock
    auto unit = [&](uint32_t status, int64_t deadline) {
        QueueEntry e = MakeUnit(status, Seconds2003(5, 1, 0, 0, 0));
        e.has_deadline = 1;
        e.deadline = MakeTimeValue(deadline, 0);
        return e;
    };
    queue_->entries[1] = unit(kSlotDone, Seconds2003(5, 30, 10, 7, 0));   // past
    queue_->entries[2] = unit(kSlotReady, Seconds2003(5, 31, 23, 59, 0)); // past
    queue_->entries[3] = unit(kSlotDone, now);                            // equal: not past
    queue_->entries[4] = unit(kSlotActive, now - 100);                    // never examined
    queue_->entries[5] = unit(kSlotFetching, now - 100);                  // never examined
    queue_->entries[6] = unit(kSlotReady, now - 1);
    queue_->entries[6].has_deadline = 0;                                  // no deadline
    queue_->entries[7] = unit(kSlotDone, now + 1);                        // ahead

    BeginCapture();
    CheckDeadlines(With(FakeUpload));
    std::string text = EndCapture();
    EXPECT_EQ(g_deleted, (std::vector<uint32_t>{1, 2}));
    EXPECT_NE(text.find("Unit 1's deadline (May 30 10:07) has passed.\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Unit 2's deadline (May 31 23:59) has passed.\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Unit 3's"), std::string::npos);

    // The fraction counts too: a deadline a little before Now has passed.
    queue_->entries[3].deadline = MakeTimeValue(now - 1, 0xFFFFFFFF00000000ull);
    g_deleted.clear();
    CheckDeadlines(With(FakeUpload));
    EXPECT_EQ(g_deleted, (std::vector<uint32_t>{1, 3, 2})) << "DONE slots first, then READY";

    // Ignoring deadlines keeps finished units (reported, and still
    // sendable), never unfinished ones.
    deadlines_on_ = false;
    g_deleted.clear();
    BeginCapture();
    CheckDeadlines(With(FakeUpload));
    text = EndCapture();
    EXPECT_EQ(g_deleted, (std::vector<uint32_t>{2}));
    EXPECT_NE(text.find("Unit 1's deadline (May 30 10:07) has passed.\n"), std::string::npos);
}

// The autosend thread's sleeps: the first returns at once, the second never
// (the thread is left parked, as a sleeping thread would be).
std::atomic<int> g_autosend_sleeps{0};
std::atomic<uint32_t> g_autosend_period{0};
WorkQueue* g_autosend_queue = nullptr;
void AutosendSleep(uint32_t ms) {
    g_autosend_period = ms;
    if (++g_autosend_sleeps == 1) {
        // Another finished unit arrives while the thread sleeps.
        QueueGuard guard(*g_autosend_queue);
        g_autosend_queue->entries[8] = MakeUnit(kSlotDone, Seconds2003(3, 1, 8, 0, 0), 0);
        return;
    }
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

TEST_F(ReturnResultsTest, AutosendSendsOnlyWhenTheNetworkMayBeUsed) {
    // The fake upload accepts: a sent unit's slot empties.
    queue_->entries[8] = MakeUnit(kSlotDone, Seconds2003(3, 1, 8, 0, 0), 0);
    qrvtest::WriteFileText("work/wuresults_08.dat", "results");
    permission_.asknet = 1;
    permission_.given = 0;
    AutosendPass(With(FakeUpload));
    EXPECT_EQ(queue_->entries[8].status, kSlotDone) << "asknet on, no permission: nothing is sent";
    EXPECT_EQ(g_uploads.load(), 0);

    permission_.given = 1;
    AutosendPass(With(FakeUpload));
    EXPECT_EQ(queue_->entries[8].status, kSlotEmpty);

    permission_.asknet = 0;
    permission_.given = 0;
    queue_->entries[8] = MakeUnit(kSlotDone, Seconds2003(3, 1, 8, 0, 0), 0);
    g_autosend_queue = queue_.get();
    v3SetSleepHook(AutosendSleep);
    // The thread stays parked after the test: what it works with must stay.
    static ResultReturn parked;
    parked = With(FakeUpload);
    ASSERT_EQ(v3ThreadStart(nullptr, AutosendThread, &parked, kAutosendThreadStack), 0);
    for (int i = 0; i < 5000 && g_autosend_sleeps.load() < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(g_autosend_sleeps.load(), 2);
    EXPECT_EQ(g_autosend_period.load(), 21600000u);
    QueueGuard guard(*queue_);
    EXPECT_EQ(queue_->entries[8].status, kSlotEmpty) << "the second pass sent the new unit";
}

}  // namespace
