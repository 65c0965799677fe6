// The main work cycle with the scriptable test core as a real child
// process: the one-shot modes, every row of the exit-code table, the
// counters and their thresholds. Servers are stood in for by fakes (the
// fetch, the download, the sends); sleeps are recorded and shortened.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "client/core_launch.h"
#include "client/core_run_fixture.h"
#include "client/work_cycle.h"
#include "core/core_download.h"
#include "net/direct_transport.h"
#include "net/server_access.h"
#include "queue/deadline.h"
#include "queue/get_work.h"
#include "queue/queue_operations.h"
#include "build_options.h"
#include <memory>

namespace {

using qrvtest::CountOf;
using qrvtest::FileExists;
using qrvtest::ReadFileText;
using qrvtest::SleepsOf;

// What the fakes saw and what they answer.
struct Fakes {
    int fetches = 0;
    bool refill = false;             // the fetch driver finds every slot in use
    std::vector<int> occupied_seen;  // non-EMPTY slots at each fetch-driver call
    bool queue_full = false;
    int downloads = 0;
    int download_result = 0;
    bool real_download = false;
    bool brings_core = false;        // a download that works puts the core in place
    int send_result = -1;
    std::vector<uint32_t> sent;
    int send_all_calls = 0;
    int deadline_passes = 0;
    int read_lines = 0;
    int self_interrupts = 0;
};
Fakes g_fakes;
std::atomic<int> g_autosend_started{0};

int FakeFetch(QueueEntry* entry, const char* work_file, WorkQueue*) {
    ++g_fakes.fetches;
    v3TimeNow(&entry->received);
    entry->set_packet_type(kStoredHeaderType);
    entry->set_core_type(0x78);
    entry->set_core_name("Fetched");
    qrvtest::WriteFileText(work_file, "fetched unit");
    return 0;
}

int FakeGetWork(WorkQueue* queue, uint32_t* index) {
    int occupied = 0;
    for (uint32_t i = 0; i < kQueueSlots; ++i) {
        if (queue->entries[i].status != kSlotEmpty) ++occupied;
    }
    g_fakes.occupied_seen.push_back(occupied);
    for (uint32_t i = 0; i < kQueueSlots && g_fakes.refill; ++i) {
        if (queue->entries[i].status == kSlotEmpty) qrvtest::AddTestUnit(queue, i);
    }
    if (g_fakes.queue_full) return -1;
    return GetWork(queue, index, FakeFetch);
}

int FakeDownload(uint32_t type, const char* file, const char* location, uint8_t options) {
    ++g_fakes.downloads;
    if (g_fakes.brings_core && g_fakes.download_result == 0) {
        unlink(file);
        if (symlink(qrvtest::BinPath("test_core").c_str(), file) != 0) return -1;
    }
    if (!g_fakes.real_download) return g_fakes.download_result;
    // The real download, over the built-in transport without a proxy.
    static const ClientIdentity identity;
    static DirectTransport transport{ProxySettings{}};
    static NetworkPermission permission;
    return DownloadCore({identity, transport, permission}, type, file, location, options);
}

int FakeSend(WorkQueue*, uint32_t index) {
    g_fakes.sent.push_back(index);
    return g_fakes.send_result;
}
int FakeSendAll(WorkQueue*) {
    ++g_fakes.send_all_calls;
    return -1;
}
void FakeDeadlines(WorkQueue*) { ++g_fakes.deadline_passes; }
void FakeAutosend(void*) { ++g_autosend_started; }
uint64_t FakeReadLine(char* buf, uint64_t, uint32_t) {
    ++g_fakes.read_lines;
    buf[0] = '\0';
    return 0;
}
void FakeSelfInterrupt() { ++g_fakes.self_interrupts; }

WorkCycleOps TestOps(ClientState& state) {
    WorkCycleOps ops = DefaultWorkCycleOps(state);
    ops.get_work = FakeGetWork;
    ops.download_core = FakeDownload;
    ops.send_finished = FakeSend;
    ops.send_all = FakeSendAll;
    ops.check_deadlines = FakeDeadlines;
    ops.autosend = FakeAutosend;
    ops.read_line = FakeReadLine;
    ops.self_interrupt = FakeSelfInterrupt;
    return ops;
}

class WorkCycleTest : public qrvtest::CoreRunTest {
protected:
    void SetUp() override {
        CoreRunTest::SetUp();
        g_fakes = Fakes{};
        g_autosend_started = 0;
        AddUnit(3);
        queue_->current = 3;
        ASSERT_EQ(SaveQueue(queue_), 0);
    }

    // A cycle started on the queue as set up; the console is captured from
    // here on.
    WorkCycle& Started() {
        BeginCapture();
        cycle_ = std::make_unique<WorkCycle>(&state_, TestOps(state_));
        EXPECT_TRUE(cycle_->Start());
        return *cycle_;
    }

    size_t Cleanups() const { return CountOf(Journal(), "cleanup pid="); }
    uint32_t Status(uint32_t slot) const { return queue_->entries[slot].status; }

    std::unique_ptr<WorkCycle> cycle_;
};

TEST_F(WorkCycleTest, StartRunsTheDeadlinePassAndTheAutosendThread) {
    WorkCycle& cycle = Started();
    EXPECT_EQ(cycle.queue_index(), 3u);
    EXPECT_EQ(g_fakes.deadline_passes, 1);
    EXPECT_EQ(g_fakes.fetches, 0);  // slot 3 is READY: no fetch
    for (int i = 0; i < 500 && g_autosend_started.load() == 0; ++i) usleep(2000);
    EXPECT_EQ(g_autosend_started.load(), 1);
}

TEST_F(WorkCycleTest, BadStoredIndexMeansSlotZero) {
    queue_->current = 12;
    queue_->entries[3].status = kSlotEmpty;
    AddUnit(0);
    SetLogVerbosity(6);
    WorkCycle& cycle = Started();
    EXPECT_EQ(cycle.queue_index(), 0u);
    EXPECT_EQ(g_fakes.fetches, 0);
    EXPECT_NE(EndCapture().find("- Bad Index stored in Work Queue. Has been reset to zero.\n"),
              std::string::npos);
}

TEST_F(WorkCycleTest, NoReadyUnitIsFetchedAndAFullQueueEndsTheThread) {
    queue_->entries[3].status = kSlotEmpty;
    WorkCycle& cycle = Started();
    EXPECT_EQ(g_fakes.fetches, 1);
    EXPECT_EQ(Status(cycle.queue_index()), kSlotReady);

    g_fakes.queue_full = true;
    queue_->entries[cycle.queue_index()].status = kSlotDone;
    WorkCycle second(&state_, TestOps(state_));
    EXPECT_FALSE(second.Start());
    EXPECT_NE(EndCapture().find("Fatal: Work queue full\n"), std::string::npos);
}

TEST_F(WorkCycleTest, OneShotModesEndWithTheSelfInterrupt) {
    state_.run_mode = MODE_QUEUEINFO;
    BeginCapture();
    WorkCycle info(&state_, TestOps(state_));
    EXPECT_FALSE(info.Start());
    std::string out = EndCapture();
    EXPECT_NE(out.find("Queue Status:\n"), std::string::npos);
    EXPECT_NE(out.find("03 *READY"), std::string::npos) << out;
    EXPECT_EQ(g_fakes.self_interrupts, 1);
    EXPECT_EQ(g_fakes.deadline_passes, 0);

    state_.run_mode = MODE_SEND;
    state_.mode_argument = 0;
    state_.send_index = 7;
    BeginCapture();
    EXPECT_FALSE(WorkCycle(&state_, TestOps(state_)).Start());
    state_.mode_argument = 1;
    EXPECT_FALSE(WorkCycle(&state_, TestOps(state_)).Start());
    out = EndCapture();
    EXPECT_EQ(g_fakes.sent, std::vector<uint32_t>{7});
    EXPECT_EQ(g_fakes.send_all_calls, 1);
    EXPECT_NE(out.find("Attempting to return result(s) to server...\n"), std::string::npos);
    EXPECT_NE(out.find("- Failed to send unit 07 to server\n"), std::string::npos);
    EXPECT_NE(out.find("- Failed to send all units to server\n"), std::string::npos);
    EXPECT_EQ(g_fakes.self_interrupts, 3);
}

TEST_F(WorkCycleTest, DeleteModeRunsTheCoreInCleanupMode) {
    state_.run_mode = MODE_DELETE;
    state_.mode_argument = 3;
    BeginCapture();
    EXPECT_FALSE(WorkCycle(&state_, TestOps(state_)).Start());
    std::string out = EndCapture();
    EXPECT_NE(out.find("Deleting work unit #3 from work queue...\n"), std::string::npos);
    EXPECT_EQ(out.find("- Failed"), std::string::npos) << out;
    EXPECT_EQ(Cleanups(), 1u);
    EXPECT_FALSE(FileExists("work/wudata_03.dat"));
    std::unique_ptr<WorkQueue> saved = LoadQueueCopy();
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(saved->entries[3].status, kSlotEmpty);

    // Without its core the unit's files cannot go, but the slot does.
    AddUnit(4);
    unlink("QrvCore_78.exe");
    state_.mode_argument = 4;
    SetLogVerbosity(6);
    BeginCapture();
    EXPECT_FALSE(WorkCycle(&state_, TestOps(state_)).Start());
    out = EndCapture();
    EXPECT_NE(out.find("- Warning: Could not delete all work unit files (4): Core file absent\n"),
              std::string::npos);
    EXPECT_NE(out.find("- Failed to delete the requested work unit\n"), std::string::npos);
    EXPECT_EQ(Status(4), kSlotEmpty);
    EXPECT_EQ(g_fakes.self_interrupts, 2);
}

TEST_F(WorkCycleTest, FinishedUnitIsReturnedAndTheNextFetched) {
    Int128 fixed = MakeTimeValue(123456789, 0);
    static Int128 s_now;
    s_now = fixed;
    v3SetTimeNowHook([](Int128* now) {
        *now = s_now;
        return 0;
    });
    Script("result done\nexit 100\n");
    WorkCycle& cycle = Started();
    ASSERT_TRUE(cycle.RunPass());
    const std::string out = EndCapture();
    for (const char* line : {"\n", "+ Processing work unit\n", "Core required: QrvCore_78.exe\n",
                             "Core found.\n", "CoreStatus = 64 (100)\n", "Sending work to server\n"}) {
        EXPECT_NE(out.find(line), std::string::npos) << line;
    }
    // The send failed: the unit waits, DONE, for a later try.
    EXPECT_EQ(Status(3), kSlotDone);
    EXPECT_EQ(queue_->entries[3].core_finished, 1u);
    EXPECT_TRUE(v3Int128Equal(queue_->entries[3].completed, fixed));
    std::unique_ptr<WorkQueue> saved = LoadQueueCopy();
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(saved->entries[3].status, kSlotDone);
    EXPECT_EQ(g_fakes.sent, std::vector<uint32_t>{3});
    EXPECT_EQ(g_fakes.send_all_calls, 1);
    EXPECT_EQ(Cleanups(), 0u);
    EXPECT_EQ(g_fakes.fetches, 1);
    EXPECT_NE(cycle.queue_index(), 3u);
    EXPECT_EQ(SleepsOf(5000), 0u);  // the next unit starts at once

    // A send that works removes the unit through its core.
    g_fakes.send_result = 0;
    const uint32_t next = cycle.queue_index();
    ASSERT_TRUE(cycle.RunPass());
    EXPECT_EQ(g_fakes.sent.back(), next);
    EXPECT_EQ(Cleanups(), 1u);
    EXPECT_EQ(Status(next), kSlotEmpty);
}

TEST_F(WorkCycleTest, UnitEndedWith114IsReturnedButCountsNoFinish) {
    Script("run 1-3\nexit 99\nrun 4+\nexit 114\n");
    WorkCycle& cycle = Started();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(cycle.RunPass());
    EXPECT_EQ(cycle.counters().redownloads, 1u);
    qrvtest::ClearSleeps();
    ASSERT_TRUE(cycle.RunPass());
    EXPECT_EQ(Status(3), kSlotDone);
    EXPECT_EQ(queue_->entries[3].core_finished, 0u);
    EXPECT_EQ(cycle.counters().redownloads, 1u);  // untouched by 114
    EXPECT_EQ(SleepsOf(5000), 1u);
}

TEST_F(WorkCycleTest, ThirdNinetyNineDownloadsTheCoreAndAFinishResetsTheCount) {
    Script("run 1-3\nexit 0\nrun 4\nexit 100\n");
    WorkCycle& cycle = Started();
    ASSERT_TRUE(cycle.RunPass());
    ASSERT_TRUE(cycle.RunPass());
    EXPECT_EQ(cycle.counters().core_errors, 2u);
    EXPECT_EQ(g_fakes.downloads, 0);
    ASSERT_TRUE(cycle.RunPass());
    const std::string out = EndCapture();
    EXPECT_EQ(CountOf(out, "+ Error starting TestCore core.\n"), 3u) << out;
    EXPECT_EQ(CountOf(out, "- Attempting to download new core...\n"), 1u);
    EXPECT_EQ(g_fakes.downloads, 1);
    EXPECT_EQ(cycle.counters().core_errors, 0u);
    EXPECT_EQ(cycle.counters().redownloads, 1u);
    EXPECT_EQ(cycle.counters().new_core, 1u);
    EXPECT_EQ(SleepsOf(5000), 3u);
    EXPECT_EQ(Status(3), kSlotActive);  // the same unit is tried again

    ASSERT_TRUE(cycle.RunPass());
    EXPECT_EQ(cycle.counters().redownloads, 0u);
    EXPECT_EQ(Status(3), kSlotDone);
}

TEST_F(WorkCycleTest, StartFailureNamesQuorvelWhenTheUnitNamesNoCore) {
    AddUnit(3, "");
    Script("exit 0\n");
    WorkCycle& cycle = Started();
    ASSERT_TRUE(cycle.RunPass());
    EXPECT_NE(EndCapture().find("+ Error starting Quorvel core.\n"), std::string::npos);
}

TEST_F(WorkCycleTest, SettingsChangeRestartsAtOnceWithNoTermCheckOnce) {
    Script("run 1\nexit 98\nrun 2-3\nexit 99\n");
    WorkCycle& cycle = Started();
    ASSERT_TRUE(cycle.RunPass());
    EXPECT_NE(EndCapture().find("+ Restarting core (settings changed) \n"), std::string::npos);
    EXPECT_EQ(SleepsOf(5000), 0u);
    EXPECT_EQ(cycle.counters().core_errors, 0u);
    ASSERT_TRUE(cycle.RunPass());
    ASSERT_TRUE(cycle.RunPass());
    const std::vector<std::string> args = StartArgs();
    ASSERT_EQ(args.size(), 3u);
    const std::string pid = std::to_string(getpid());
    EXPECT_EQ(args[0], "-dir work/ -suffix 03 -lifeline " + pid);
    EXPECT_EQ(args[1], "-dir work/ -suffix 03 -notermcheck -lifeline " + pid);
    EXPECT_EQ(args[2], "-dir work/ -suffix 03 -lifeline " + pid);
}

TEST_F(WorkCycleTest, SettingsReachTheCoreAndForceAsmOnlyTheFirst) {
    state_.forceasm = 1;
    state_.cpu_usage = 50;
    Script("exit 99\n");
    WorkCycle& cycle = Started();
    ASSERT_TRUE(cycle.RunPass());
    ASSERT_TRUE(cycle.RunPass());
    const std::string pid = std::to_string(getpid());
    const std::vector<std::string> args = StartArgs();
    ASSERT_EQ(args.size(), 2u);
    EXPECT_EQ(args[0], "-dir work/ -suffix 03 -cpu 50 -forceasm -lifeline " + pid);
    EXPECT_EQ(args[1], "-dir work/ -suffix 03 -cpu 50 -lifeline " + pid);
}

// Every code that only counts against the core or only drops the unit.
TEST_F(WorkCycleTest, ErrorAndDropRowsOfTheTable) {
    struct Row {
        const char* script;
        std::vector<const char*> messages;
        uint32_t weight;
        bool drop;
    };
    const std::vector<Row> rows = {
        {"exit 101", {"Core internal error: SPECIAL_EXIT\n"}, 1, false},
        {"exit 111", {"+ The core could not recognize the format of the provided work file.\n"}, 0, true},
        {"exit 112", {"+ The core could not validate the current work unit for processing.\n"}, 0, true},
        {"exit 113", {"+ Work unit files corrupt\n", "Possibly received incorrectly.\n"}, 0, true},
        {"exit 115", {"Client internal error: Core did not recognize client arguments.\n"}, 1, false},
        {"exit 116", {"The core could not find the work files specified. Removing from queue\n"}, 0, true},
        {"exit 117", {"Error opening or reading from a file.\n"}, 0, true},
        {"exit 130", {"Client-core communications error: ERROR 0x82\n"}, 1, true},
        {"crash", {"CoreStatus = 8B (139)\n", "Client-core communications error: ERROR 0x8b\n"}, 1, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.script);
        g_fakes = Fakes{};
        std::remove((script_ + ".journal").c_str());
        for (QueueEntry& e : queue_->entries) e.status = kSlotEmpty;
        AddUnit(3);
        queue_->current = 3;
        qrvtest::ClearSleeps();
        Script(std::string(row.script) + "\n");
        WorkCycle& cycle = Started();
        ASSERT_TRUE(cycle.RunPass());
        const std::string out = EndCapture();
        for (const char* m : row.messages) EXPECT_NE(out.find(m), std::string::npos) << m << out;
        EXPECT_EQ(cycle.counters().core_errors, row.weight);
        EXPECT_EQ(SleepsOf(5000), 1u);
        const size_t deleting = CountOf(out, "Deleting current work unit & continuing...\n");
        if (row.drop) {
            EXPECT_EQ(deleting, 1u);
            EXPECT_EQ(cycle.counters().drops, 1u);
            EXPECT_EQ(Cleanups(), 1u);
            EXPECT_FALSE(FileExists("work/wudata_03.dat"));
            EXPECT_EQ(g_fakes.send_all_calls, 1);
            EXPECT_EQ(g_fakes.fetches, 1);
            EXPECT_NE(cycle.queue_index(), 3u);
        } else {
            EXPECT_EQ(deleting, 0u);
            EXPECT_EQ(cycle.counters().drops, 0u);
            EXPECT_EQ(cycle.queue_index(), 3u);
        }
    }
}

TEST_F(WorkCycleTest, MissingCoreIsDownloadedAtOnce) {
    unlink("QrvCore_78.exe");
    WorkCycle& cycle = Started();
    ASSERT_TRUE(cycle.RunPass());
    const std::string out = EndCapture();
    const size_t a = out.find("Core not found.\n");
    const size_t b = out.find("- Core is not present or corrupted.\n");
    const size_t c = out.find("- Attempting to download new core...\n");
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(b, std::string::npos);
    ASSERT_NE(c, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_EQ(out.find("Core found."), std::string::npos);
    EXPECT_EQ(cycle.counters().core_status, kCoreMissing);
    EXPECT_EQ(g_fakes.downloads, 1);
}

// Once a missing core has been brought, nothing is left to wait for; a
// download that leaves no core is still followed by the pause.
TEST_F(WorkCycleTest, AFetchedMissingCoreRunsWithoutThePause) {
    unlink("QrvCore_78.exe");
    Script("exit 100\n");
    WorkCycle& cycle = Started();
    ASSERT_TRUE(cycle.RunPass());
    EXPECT_EQ(SleepsOf(5000), 1u);

    g_fakes.brings_core = true;
    qrvtest::ClearSleeps();
    ASSERT_TRUE(cycle.RunPass());
    EXPECT_EQ(g_fakes.downloads, 2);
    EXPECT_EQ(SleepsOf(5000), 0u);
    EXPECT_EQ(cycle.queue_index(), 3u);
    ASSERT_TRUE(cycle.RunPass());  // the same unit, now with its core
    EXPECT_EQ(Status(3), kSlotDone);
    EXPECT_NE(EndCapture().find("CoreStatus = 64 (100)\n"), std::string::npos);
}

TEST_F(WorkCycleTest, CoreThatReportsItselfBrokenIsDownloadedAtOnce) {
    Script("exit 120\n");
    WorkCycle& cycle = Started();
    ASSERT_TRUE(cycle.RunPass());
    const std::string out = EndCapture();
    const size_t a = out.find("CoreStatus = 78 (120)\n");
    const size_t b = out.find("- Core is not present or corrupted.\n");
    ASSERT_NE(a, std::string::npos) << out;
    ASSERT_NE(b, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_LT(b, out.find("- Attempting to download new core...\n"));
    EXPECT_EQ(g_fakes.downloads, 1);
    EXPECT_EQ(cycle.counters().drops, 0u);
    EXPECT_EQ(cycle.queue_index(), 3u);
}

TEST_F(WorkCycleTest, OutOfDateAfterAFreshCoreDropsTheUnit) {
    Script("exit 110\n");
    WorkCycle& cycle = Started();
    ASSERT_TRUE(cycle.RunPass());
    EXPECT_EQ(g_fakes.downloads, 1);  // weight 3: a download at once
    EXPECT_EQ(cycle.counters().new_core, 1u);
    EXPECT_EQ(cycle.counters().drops, 0u);
    EXPECT_EQ(cycle.queue_index(), 3u);
    ASSERT_TRUE(cycle.RunPass());
    const std::string out = EndCapture();
    EXPECT_EQ(CountOf(out, "+ Core out of date. Auto updating...\n"), 2u);
    EXPECT_EQ(CountOf(out, "New core downloaded for this work unit, but still out of date.\n"), 1u);
    EXPECT_EQ(CountOf(out, "Deleting current work unit & continuing...\n"), 1u);
    EXPECT_EQ(cycle.counters().drops, 1u);
    EXPECT_EQ(cycle.counters().new_core, 0u);
    EXPECT_EQ(g_fakes.fetches, 1);
    EXPECT_NE(cycle.queue_index(), 3u);
}

TEST_F(WorkCycleTest, CoreThatCannotBeDownloadedGivesUpAfter21Attempts) {
    unlink("QrvCore_78.exe");
    g_fakes.real_download = true;  // no network yet: every attempt fails
    WorkCycle& cycle = Started();
    ASSERT_TRUE(cycle.RunPass());
    const std::string out = EndCapture();
    EXPECT_EQ(g_fakes.downloads, 21);
    EXPECT_EQ(CountOf(out, "+ Core download error (#"), 20u);
    EXPECT_NE(out.find("+ Core download error (#2), waiting before retry...\n\n"), std::string::npos);
    EXPECT_NE(out.find("+ Core download error (#21), waiting before retry...\n\n"), std::string::npos);
    EXPECT_NE(out.find("- Giving up on downloading core, trying new work unit instead\n"),
              std::string::npos);
    EXPECT_EQ(CountOf(out, "Deleting current work unit & continuing...\n"), 1u);
    EXPECT_EQ(cycle.counters().download_attempts, 0u);
    EXPECT_EQ(Status(3), kSlotEmpty);
    EXPECT_EQ(g_fakes.fetches, 1);
}

TEST_F(WorkCycleTest, SixthRedownloadSleepsADayFirst) {
    unlink("QrvCore_78.exe");  // every pass: 120, weight 3, a re-download
    WorkCycle& cycle = Started();
    for (int pass = 1; pass <= 5; ++pass) ASSERT_TRUE(cycle.RunPass());
    EXPECT_EQ(SleepsOf(86400000), 0u);
    EXPECT_EQ(cycle.counters().redownloads, 5u);
    ASSERT_TRUE(cycle.RunPass());
    EXPECT_EQ(SleepsOf(86400000), 1u);
    EXPECT_EQ(cycle.counters().redownloads, 6u);
    std::string out = EndCapture();
    const size_t sleep_at = out.find(
        "Quorvel will go to sleep for 1 day as there have been 5 consecutive Cores executed which "
        "failed to complete a work unit.\n");
    ASSERT_NE(sleep_at, std::string::npos) << out;
    EXPECT_NE(out.find("(To wake it up early, quit the application and restart it.)\n"),
              std::string::npos);
    EXPECT_NE(out.find(QRV_WEB_ADDRESS), std::string::npos);
    const size_t sleeping = out.find("+ Sleeping...\n\n");
    const size_t waking = out.find("Waking.\n");
    ASSERT_NE(waking, std::string::npos);
    EXPECT_LT(sleep_at, sleeping);
    EXPECT_LT(sleeping, waking);
    EXPECT_LT(waking, out.rfind("- Attempting to download new core...\n"));
    EXPECT_EQ(g_fakes.downloads, 6);

    BeginCapture();
    ASSERT_TRUE(cycle.RunPass());  // every further re-download sleeps too
    EXPECT_EQ(SleepsOf(86400000), 2u);
    EXPECT_EQ(cycle.counters().redownloads, 7u);
}

TEST_F(WorkCycleTest, EleventhDropPurgesTheQueue) {
    g_fakes.refill = true;
    Script("exit 111\n");
    WorkCycle& cycle = Started();
    for (int pass = 1; pass <= 10; ++pass) {
        ASSERT_TRUE(cycle.RunPass());
        EXPECT_EQ(cycle.counters().drops, static_cast<uint32_t>(pass));
    }
    std::string out = EndCapture();
    EXPECT_EQ(CountOf(out, "Deleting current work unit & continuing...\n"), 10u);
    EXPECT_EQ(out.find("Purging"), std::string::npos);
    EXPECT_EQ(Cleanups(), 10u);

    BeginCapture();
    ASSERT_TRUE(cycle.RunPass());
    out = EndCapture();
    EXPECT_EQ(CountOf(out, "Too many errors during run. Purging queue.\n"), 1u);
    EXPECT_EQ(out.find("Deleting current work unit"), std::string::npos);
    EXPECT_EQ(Cleanups(), 20u);  // every one of the ten full slots
    // The fetch driver found the queue empty after the purge.
    EXPECT_EQ(g_fakes.occupied_seen.back(), 0);
    EXPECT_EQ(cycle.counters().drops, 0u);
    EXPECT_EQ(cycle.counters().drop_mark, 0u);
}

TEST_F(WorkCycleTest, InterruptNotFromTheClientShutsDown) {
    Script("exit 102\n");
    WorkCycle& cycle = Started();
    EXPECT_FALSE(cycle.RunPass());
    EXPECT_EQ(g_fakes.self_interrupts, 1);
    EXPECT_NE(EndCapture().find("+ Shutdown requested by user. Exiting."), std::string::npos);
    EXPECT_EQ(Cleanups(), 0u);
}

TEST_F(WorkCycleTest, PassedDeadlineInterruptsTheCoreAndDropsTheUnit) {
    Int128 now{};
    v3TimeNow(&now);
    queue_->entries[3].has_deadline = 1;
    queue_->entries[3].deadline = MakeTimeValue(TimeSeconds(now) - 60, 0);
    Script("progress 10 100\nlog Finished 10%\nsleep_ms 20000\nexit 100\n");
    WorkCycle& cycle = Started();
    ASSERT_TRUE(cycle.RunPass());
    const std::string out = EndCapture();
    EXPECT_NE(out.find("Unit 3's deadline ("), std::string::npos) << out;
    EXPECT_NE(out.find("Going to interrupt core and move on to next unit...\n"), std::string::npos);
    EXPECT_NE(out.find("CoreStatus = 66 (102)\n"), std::string::npos);
    EXPECT_EQ(out.find("Shutdown requested"), std::string::npos);
    EXPECT_NE(Journal().find("signal 2\n"), std::string::npos);
    EXPECT_EQ(g_fakes.self_interrupts, 0);
    EXPECT_EQ(Cleanups(), 1u);
    EXPECT_EQ(g_fakes.fetches, 1);
    EXPECT_NE(cycle.queue_index(), 3u);
    EXPECT_EQ(gDeadlineInterruptMark.load(), 0u);
}

TEST_F(WorkCycleTest, IgnoredDeadlinesLetTheCoreFinish) {
    state_.deadline = 0;
    Int128 now{};
    v3TimeNow(&now);
    queue_->entries[3].has_deadline = 1;
    queue_->entries[3].deadline = MakeTimeValue(TimeSeconds(now) - 60, 0);
    Script("progress 10 100\nlog Finished 10%\nsleep_ms 600\nexit 100\n");
    WorkCycle& cycle = Started();
    ASSERT_TRUE(cycle.RunPass());
    EXPECT_EQ(cycle.counters().core_status, kCoreFinished);
    EXPECT_EQ(Journal().find("signal 2"), std::string::npos);
    EXPECT_NE(ReadFileText("unitinfo.txt").find("Progress: 10%"), std::string::npos);
}

TEST_F(WorkCycleTest, PauseWaitsForEnterOnceOnly) {
    state_.pause = 1;
    Script("exit 100\n");
    WorkCycle& cycle = Started();
    ASSERT_TRUE(cycle.RunPass());
    ASSERT_TRUE(cycle.RunPass());
    const std::string out = EndCapture();
    EXPECT_EQ(g_fakes.read_lines, 1);
    EXPECT_EQ(state_.pause, 0u);
    EXPECT_EQ(CountOf(out, "+ Paused after finishing unit\n"), 1u);
    EXPECT_EQ(CountOf(out, "Press Enter to continue, Ctrl-C to exit...\n"), 1u);
}

}  // namespace
