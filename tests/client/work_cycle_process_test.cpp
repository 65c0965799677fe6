// End-to-end: the real qrv3 running the scriptable test core on a unit set
// up in queue.dat, and the ways that run can end.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "client/qrv3_process.h"
#include "client/qrv3_test_support.h"
#include "queue/work_queue.h"
#include "support/time_value.h"

namespace {

using qrvtest::ChildProcess;
using qrvtest::CountOf;
using qrvtest::FileExists;
using qrvtest::ReadFileText;
using qrvtest::WriteFileText;

class WorkCycleProcessTest : public qrvtest::Qrv3Test {
protected:
    void SetUp() override {
        Qrv3Test::SetUp();
        ASSERT_EQ(mkdir("work", 0700), 0);
        ASSERT_EQ(symlink(qrvtest::BinPath("test_core").c_str(), "QrvCore_78.exe"), 0);
        script_ = dir() + "/core.script";
        // A READY unit in slot 3, as a fetch would have left it.
        std::unique_ptr<WorkQueue> queue = NewWorkQueue();
        ASSERT_NE(queue, nullptr);
        QueueEntry& e = queue->entries[3];
        e.status = kSlotReady;
        v3TimeNow(&e.received);
        e.set_packet_type(kStoredHeaderType);
        e.set_core_type(0x78);
        e.set_core_name("TestCore");
        queue->current = 3;
        ASSERT_EQ(SaveQueue(queue.get()), 0);
        WriteFileText("work/wudata_03.dat", "unit data");
    }

    std::vector<std::string> CoreEnv() const {
        std::vector<std::string> env = Env();
        env.push_back("QRV_TEST_CORE_SCRIPT=" + script_);
        return env;
    }
    std::string Journal() const {
        return FileExists(script_ + ".journal") ? ReadFileText(script_ + ".journal") : "";
    }
    // Polls the core's journal (a real process writes it) for text.
    bool JournalShows(ChildProcess& client, const std::string& text, int timeout_ms = 60000) {
        return client.WaitUntil([&] { return Journal().find(text) != std::string::npos; },
                                timeout_ms);
    }
    static uint32_t StoredStatus(uint32_t slot) {
        std::unique_ptr<WorkQueue> q = LoadQueueCopy();
        if (q == nullptr) return 99;
        const uint32_t s = q->entries[slot].status;
        return s;
    }

    std::string script_;
};

TEST_F(WorkCycleProcessTest, CtrlCStopsTheCoreAndTheUnitResumesNextTime) {
    WriteFileText(script_,
                  "run 1\nlog Core working\nprogress 5 100\nsleep_ms 60000\nexit 100\n"
                  "run 2\nlog Resumed\nsleep_ms 60000\nexit 100\n");
    {
        ChildProcess qrv3(qrvtest::BinPath("qrv3"), {}, CoreEnv());
        ASSERT_TRUE(JournalShows(qrv3, "start 1 ")) << qrv3.output();
        ASSERT_TRUE(qrv3.WaitForOutput("] Core working\n", 10000)) << qrv3.output();
        qrv3.Signal(SIGINT);
        EXPECT_EQ(qrv3.WaitExit(), 0);
        const std::string out = qrv3.output();
        EXPECT_NE(out.find("Core found.\n"), std::string::npos);
        EXPECT_NE(out.find("Working on Unit 03 ["), std::string::npos);
        EXPECT_TRUE(qrvtest::EndsWith(out, "\nQuorvel Client Shutdown.\n")) << out;
        // The core was told through its semaphore and stopped with 102.
        ASSERT_TRUE(JournalShows(qrv3, "exit 102\n", 10000)) << Journal();
        EXPECT_NE(Journal().find("signal 2\n"), std::string::npos);
        EXPECT_EQ(Journal().find("lifeline gone"), std::string::npos) << Journal();
        EXPECT_NE(ReadFileText("work/logfile_03.txt").find("stopping on signal 2"),
                  std::string::npos);
    }
    EXPECT_EQ(StoredStatus(3), kSlotReady);
    EXPECT_TRUE(FileExists("work/wudata_03.dat"));

    ChildProcess again(qrvtest::BinPath("qrv3"), {}, CoreEnv());
    ASSERT_TRUE(JournalShows(again, "start 2 ")) << again.output();
    EXPECT_NE(Journal().find("start 2 pid="), std::string::npos);
    EXPECT_NE(Journal().rfind("args=-dir work/ -suffix 03 -lifeline " + std::to_string(again.pid())),
              std::string::npos)
        << Journal();
    again.Signal(SIGINT);
    EXPECT_EQ(again.WaitExit(), 0);
    EXPECT_TRUE(again.WaitUntil([&] { return CountOf(Journal(), "exit 102\n") == 2; }, 10000))
        << Journal();
}

// A service manager ends whatever is left of the service as soon as the
// client has ended: the core's checkpoint must be written by then.
TEST_F(WorkCycleProcessTest, TerminateWaitsForTheCoreToWriteItsCheckpoint) {
    WriteFileText(script_, "on_sigint checkpoint 500\nlog Core working\nprogress 5 100\nsleep_ms 60000\nexit 100\n");
    ChildProcess qrv3(qrvtest::BinPath("qrv3"), {}, CoreEnv());
    ASSERT_TRUE(JournalShows(qrv3, "start 1 ")) << qrv3.output();
    ASSERT_TRUE(qrv3.WaitForOutput("] Core working\n", 10000)) << qrv3.output();
    qrv3.Signal(SIGTERM);
    EXPECT_EQ(qrv3.WaitExit(), 0);
    // Read at once: the core ended before the client did.
    EXPECT_NE(Journal().find("signal 2\nexit 102\n"), std::string::npos) << Journal();
    EXPECT_NE(ReadFileText("work/logfile_03.txt").find("Checkpoint written, stopping on signal 2"),
              std::string::npos);
    const std::string out = qrv3.output();
    EXPECT_TRUE(qrvtest::EndsWith(out, "\nQuorvel Client Shutdown.\n")) << out;
    EXPECT_EQ(out.find("Checkpoint written"), std::string::npos) << out;
    EXPECT_EQ(StoredStatus(3), kSlotReady);
}

TEST_F(WorkCycleProcessTest, CoreThatIgnoresTheStopStillFollowsItsLifeline) {
    WriteFileText(script_, "on_sigint ignore\nlog Deaf core\nsleep_ms 60000\nexit 100\n");
    ChildProcess qrv3(qrvtest::BinPath("qrv3"), {}, CoreEnv());
    ASSERT_TRUE(JournalShows(qrv3, "start 1 ")) << qrv3.output();
    ASSERT_TRUE(qrv3.WaitForOutput("] Deaf core\n", 10000));
    qrv3.Signal(SIGINT);
    // The client gives the core its time to answer (the bound itself is
    // checked in process, in the sleep hook's time) ...
    ASSERT_TRUE(JournalShows(qrv3, "signal 2\n", 10000)) << Journal();
    EXPECT_EQ(qrv3.WaitExit(300), -1);
    EXPECT_EQ(qrv3.output().find("Shutdown"), std::string::npos) << qrv3.output();
    // ... and the service manager ends it when that time is up.
    qrv3.Signal(SIGKILL);
    qrv3.WaitExit();
    // The core heard the stop, ignored it, and ended once the client was gone.
    ASSERT_TRUE(JournalShows(qrv3, "lifeline gone\n", 10000)) << Journal();
    EXPECT_NE(Journal().find("signal 2\nlifeline gone\nexit 102\n"), std::string::npos) << Journal();
}

TEST_F(WorkCycleProcessTest, InterruptedCoreWithoutDeadlineEndsTheClient) {
    WriteFileText(script_, "log Somebody stopped me\nexit 102\n");
    ChildProcess qrv3(qrvtest::BinPath("qrv3"), {"-verbosity", "8"}, CoreEnv());
    EXPECT_EQ(qrv3.WaitExit(60000), 0);
    const std::string out = qrv3.output();
    EXPECT_NE(out.find("- Calling 'QrvCore_78.exe -dir work/ -suffix 03 -lifeline " +
                       std::to_string(qrv3.pid()) + "\n'\n\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("] Somebody stopped me\n"), std::string::npos);
    EXPECT_NE(out.find("CoreStatus = 66 (102)\n"), std::string::npos);
    EXPECT_NE(out.find("] + Shutdown requested by user. Exiting."), std::string::npos) << out;
    EXPECT_TRUE(qrvtest::EndsWith(out, "\nQuorvel Client Shutdown.\n")) << out;
    EXPECT_EQ(StoredStatus(3), kSlotReady);
}

TEST_F(WorkCycleProcessTest, OneShotModesEndByThemselves) {
    ChildProcess info(qrvtest::BinPath("qrv3"), {"-queueinfo"}, CoreEnv());
    EXPECT_EQ(info.WaitExit(), 0);
    EXPECT_NE(info.output().find("Queue Status:\n"), std::string::npos);
    EXPECT_NE(info.output().find("\n03 *READY     \"  TestCore\" (78) "), std::string::npos) << info.output();

    ChildProcess send(qrvtest::BinPath("qrv3"), {"-send", "3"}, CoreEnv());
    EXPECT_EQ(send.WaitExit(), 0);
    EXPECT_NE(send.output().find("Attempting to return result(s) to server...\n"), std::string::npos);
    EXPECT_NE(send.output().find("- Failed to send unit 03 to server\n"), std::string::npos);
    EXPECT_EQ(StoredStatus(3), kSlotReady);

    WriteFileText(script_, "cleanup\nremove_files\nexit 101\n");
    ChildProcess del(qrvtest::BinPath("qrv3"), {"-delete", "3"}, CoreEnv());
    EXPECT_EQ(del.WaitExit(), 0);
    EXPECT_NE(del.output().find("Deleting work unit #3 from work queue...\n"), std::string::npos);
    EXPECT_EQ(del.output().find("- Failed"), std::string::npos) << del.output();
    EXPECT_NE(Journal().find("cleanup pid="), std::string::npos);
    EXPECT_EQ(Journal().find("start "), std::string::npos);  // no unit was worked on
    EXPECT_FALSE(FileExists("work/wudata_03.dat"));
    EXPECT_EQ(StoredStatus(3), kSlotEmpty);
}

}  // namespace
