// The real client in a working directory it cannot write to (a tmpfs
// remounted read-only: the owner's permission bits would not stop a test
// run as root). Whatever it cannot do, it says, and it ends or goes on
// without changing a byte of what is there: the settings, the queue and the
// units' files stay as they were, and a unit whose results reached the
// server is not sent as lost.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "faults/client_run.h"
#include "faults/fault_support.h"
#include "net/conversation_support.h"
#include "conversation/work_fetch.h"
#include "support/time_value.h"

namespace {

using qrvtest::ChildProcess;
using qrvtest::CountOf;

class ReadOnlyDirTest : public qrvfault::ClientRunTest {
protected:
    void SetUp() override {
        ClientRunTest::SetUp();
        if (HasFatalFailure()) return;
        const std::string why = qrvfault::PrivateMountTable();
        if (!why.empty()) GTEST_SKIP() << why;
        disk_path_ = dir() + "/disk";
        ASSERT_EQ(disk_.Mount(disk_path_, 256), "");
        ASSERT_EQ(chdir(disk_path_.c_str()), 0);
    }
    void TearDown() override {
        client_.reset();
        if (chdir(dir().c_str()) != 0) ADD_FAILURE() << "cannot leave the disk";
        disk_.Unmount();
        ClientRunTest::TearDown();
    }

    void WriteSettings() { qrvtest::WriteFileText("client.cfg", qrvtest::ReadFileText(dir() + "/client.cfg")); }

    // Makes the disk read-only and takes a snapshot of what it holds.
    void Freeze() {
        ASSERT_TRUE(disk_.SetReadOnly(true));
        frozen_ = qrvfault::Snapshot(disk_path_);
    }
    void ExpectUnchanged() {
        const auto now = qrvfault::Snapshot(disk_path_);
        EXPECT_EQ(now, frozen_) << qrvfault::Differences(frozen_, now);
    }

    std::string disk_path_;
    qrvfault::SmallDisk disk_;
    std::map<std::string, std::string> frozen_;
};

TEST_F(ReadOnlyDirTest, NothingToStartFrom) {
    Freeze();
    // One round of answers, and someone still there to answer more: the
    // settings cannot be saved, so the client says so once and ends rather
    // than ask again after every round.
    ChildProcess client(qrvtest::BinPath("qrv3"), {"-local"}, ClientEnv());
    client.Write("Tester\n7\n\n\n\n\nTester\n7\n\n\n\n\n");
    const int code = client.WaitExit(30000);
    const std::string out = client.output();
    EXPECT_EQ(code, 255) << out;
    EXPECT_NE(out.find("- Warning: Could not save client.cfg (error -4)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Could not write MyQuorvel.html.\n"), std::string::npos) << out;
    EXPECT_TRUE(qrvtest::EndsWith(out, "The configuration could not be saved in client.cfg; run qrv3 -config "
                                       "once it can be written.\n"))
        << out;
    EXPECT_EQ(CountOf(out, "Configuring Quorvel...\n"), 1u) << out;
    ExpectUnchanged();
}

TEST_F(ReadOnlyDirTest, NothingToStartFromAndNobodyToAnswer) {
    Freeze();
    // Started as a service: every question keeps its default, and the
    // settings still cannot be saved. One round, one line, and the end.
    ChildProcess client(qrvtest::BinPath("qrv3"), {"-local"}, ClientEnv());
    client.CloseInput();
    const int code = client.WaitExit(30000);
    const std::string out = client.output();
    EXPECT_EQ(code, 255) << out;
    EXPECT_NE(out.find("Change advanced options [no] (yes/no)? \n"), std::string::npos) << out;
    EXPECT_TRUE(qrvtest::EndsWith(out, "The configuration could not be saved in client.cfg; run qrv3 -config "
                                       "once it can be written.\n"))
        << out;
    EXPECT_EQ(CountOf(out, "Configuring Quorvel...\n"), 1u) << out;
    ExpectUnchanged();
}

TEST_F(ReadOnlyDirTest, NoWorkFolder) {
    WriteSettings();
    Freeze();
    ChildProcess& client = StartClient();
    EXPECT_EQ(client.WaitExit(30000), 255) << client.output();
    EXPECT_TRUE(qrvtest::EndsWith(client.output(), "+ Could not access or create work directory, exiting.\n"))
        << client.output();
    ExpectUnchanged();
}

TEST_F(ReadOnlyDirTest, NoQueue) {
    WriteSettings();
    ASSERT_EQ(mkdir("work", 0700), 0);
    Freeze();
    ChildProcess& client = StartClient({"-verbosity", "6"});
    EXPECT_EQ(client.WaitExit(30000), 255) << client.output();
    EXPECT_NE(client.output().find("Could not open work queue, generating new queue...\n"), std::string::npos)
        << client.output();
    EXPECT_TRUE(qrvtest::EndsWith(client.output(), "Fatal: Could not save work queue to disk\n"))
        << client.output();
    ExpectUnchanged();
}

}  // namespace

namespace {

class ReadOnlyQueueTest : public ReadOnlyDirTest {
protected:
    void SetUp() override {
        ReadOnlyDirTest::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        WriteSettings();
        StartServers();
        ASSERT_EQ(mkdir("work", 0700), 0);
        // Two real units of this client (the ID and machine of client.cfg):
        // slot 1 finished, with results; slot 4 waiting for its core.
        std::unique_ptr<WorkQueue> queue = NewWorkQueue();
        ASSERT_NE(queue, nullptr);
        ASSERT_EQ(qrvconv::FetchAsFixtureClient(&queue->entries[1], "work/wudata_01.dat", queue.get()), 0);
        queue->entries[1].status = kSlotDone;
        queue->entries[1].core_finished = 1;
        v3TimeNow(&queue->entries[1].completed);
        qrvtest::WriteFileText("work/wuresults_01.dat", "results of slot 1\n");
        ASSERT_EQ(qrvconv::FetchAsFixtureClient(&queue->entries[4], "work/wudata_04.dat", queue.get()), 0);
        queue->entries[4].status = kSlotReady;
        queue->current = 4;
        ASSERT_EQ(SaveQueue(queue.get()), 0);
        InstallCore(disk_path_, "run 1\nlog working\nresult done\nexit 100\nrun 2+\nsleep_ms 60000\nexit 100\n");
        // Left by an earlier client: on a read-only disk it cannot be opened
        // for writing, and nobody can replace it either, so it still locks.
        qrvtest::WriteFileText("queue.lock", "");
    }
};

TEST_F(ReadOnlyQueueTest, WorkGoesOnAsFarAsItCan) {
    Freeze();
    ChildProcess& client = StartClient();
    ASSERT_TRUE(client.WaitForOutput("- Error: Getwork #1 failed, and no other work to do. Waiting before retry\n",
                                     30000))
        << client.output();
    StopClient(client);
    const std::string out = client.output();

    // The finished unit reached the server although its slot cannot be
    // emptied on disk (a later send finds it accepted already).
    EXPECT_NE(out.find("+ Results successfully sent\n"), std::string::npos) << out;
    EXPECT_NE(out.find("- Warning: Could not save client.cfg (error -4)\n"), std::string::npos) << out;
    EXPECT_EQ(testbed_.Summary("units_accepted"), 1);
    // The core worked on the waiting unit but could write none of its files.
    EXPECT_NE(CoreJournal().find("start 1 pid="), std::string::npos) << CoreJournal();
    EXPECT_NE(out.find("CoreStatus = 64 (100)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("- Error: Could not read results file work/wuresults_04.dat from disk\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("- Error: Could not read unit 04 file. Removing from queue.\n"), std::string::npos)
        << out;
    // The unit fetched next cannot be written either: the client says so,
    // and keeps it to write at the next try rather than fetch another.
    EXPECT_NE(out.find("- Error: Could not write the unit's data to work/wudata_"), std::string::npos) << out;
    // Stopped while it holds that unit, the client says the unit is gone.
    EXPECT_NE(out.find("- Giving up the unit whose data the disk refused: it was never written\n"
                       "\nQuorvel Client Shutdown.\n"),
              std::string::npos)
        << out;
    // Nothing changed on disk: queue.dat still holds the unit the client
    // gave up in memory, so it is worked on again once the folder can be
    // written. The one unit that was lost is the one fetched onto it.
    ExpectUnchanged();
    EXPECT_EQ(testbed_.Summary("units_issued"), 3);
    ExpectNoUnitLost(disk_path_, 1);
    const auto queued = QueuedUnits(disk_path_);
    EXPECT_EQ(queued.size(), 2u) << "slot 1 (accepted) and slot 4 (waiting) stay listed";
}

}  // namespace
