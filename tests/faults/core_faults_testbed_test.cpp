// Cores that misbehave under the real client, on the testbed: a core that
// dies by SIGSEGV, one that never creates its log, one that ignores
// signal 2, and a core download that is stopped or killed half-way. The
// client says what happened, keeps working, ends when asked,
// and every unit the server issued is accepted, still queued, or was
// thrown away by the client with its message.
#include <algorithm>
#include <chrono>

#include "faults/client_run.h"

namespace {

using qrvtest::ChildProcess;
using qrvtest::CountOf;

class CoreFaultTest : public qrvfault::ClientRunTest {
protected:
    void SetUp() override {
        ClientRunTest::SetUp();
        if (HasFatalFailure()) return;
        StartServers();
    }
};

TEST_F(CoreFaultTest, CoreKilledBySegmentationFault) {
    // The first unit's core crashes; the next unit's core is at work when
    // the client is stopped.
    InstallCore(dir(), "run 1\nlog about to crash\ncrash\n"
                       "run 2+\nlog next unit\nsleep_ms 60000\nexit 100\n");
    ChildProcess& client = StartClient();
    ASSERT_TRUE(WaitForJournal(client, "start 2 ")) << client.output() << CoreJournal();
    ASSERT_TRUE(client.WaitForOutput("] next unit\n", 10000)) << client.output();
    StopClient(client);
    const std::string out = client.output();

    EXPECT_NE(CoreJournal().find("crash\n"), std::string::npos) << CoreJournal();
    EXPECT_NE(out.find("] about to crash\n"), std::string::npos) << out;
    // 128 + 11 is no exit code a core gives: a communications error, and
    // the unit is thrown away through the core's cleanup run.
    EXPECT_NE(out.find("CoreStatus = 8B (139)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Client-core communications error: ERROR 0x8b\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Deleting current work unit & continuing...\n"), std::string::npos) << out;
    EXPECT_EQ(CountOf(CoreJournal(), "-suffix 01 -cleanup"), 1u) << CoreJournal();
    // The client went on with a new unit, which waits in the queue.
    EXPECT_EQ(testbed_.Summary("units_issued"), 2);
    EXPECT_EQ(QueuedUnits().size(), 1u);
    ExpectNoUnitLost(".", 1);
}

TEST_F(CoreFaultTest, CoreThatNeverCreatesItsLog) {
    InstallCore(dir(), "run 1\nnolog\nprogress 50 100\nlog never seen\nsleep_ms 300\n"
                       "result done\nexit 100\n"
                       "run 2+\nnolog\nlog never seen\nsleep_ms 60000\nexit 100\n");
    ChildProcess& client = StartClient();
    // The first unit is returned although nothing of its core was ever
    // shown; the second core runs until Ctrl-C.
    ASSERT_TRUE(WaitForSummary(client, "units_accepted", 1)) << client.output() << CoreJournal();
    ASSERT_TRUE(WaitForJournal(client, "start 2 ")) << client.output();
    StopClient(client);
    const std::string out = client.output();
    EXPECT_NE(out.find("CoreStatus = 64 (100)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("+ Results successfully sent\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("never seen"), std::string::npos) << out;
    EXPECT_FALSE(qrvtest::FileExists("work/logfile_01.txt"));
    // The silent core was still told to stop, and the unit waits for the
    // next start.
    ASSERT_TRUE(WaitForJournal(client, "exit 102\n", 10000)) << CoreJournal();
    EXPECT_NE(CoreJournal().find("signal 2\n"), std::string::npos) << CoreJournal();
    ExpectNoUnitLost();
    EXPECT_EQ(QueuedUnits().size(), 1u);
}

TEST_F(CoreFaultTest, CoreThatIgnoresSignalTwo) {
    InstallCore(dir(), "run 1\non_sigint ignore\nlog deaf core\nprogress 10 100\nsleep_ms 60000\nexit 100\n"
                       "run 2\nlog resumed\nresult done\nexit 100\n"
                       "run 3+\nsleep_ms 60000\nexit 100\n");
    {
        ChildProcess& client = StartClient();
        ASSERT_TRUE(client.WaitForOutput("] deaf core\n", 30000)) << client.output();
        // The client waits a while for a core that does not listen; what
        // ends it then is the service manager.
        client.Signal(SIGINT);
        ASSERT_TRUE(WaitForJournal(client, "signal 2\n", 10000)) << CoreJournal();
        client.Signal(SIGKILL);
        client.WaitExit();
    }
    // The core heard signal 2, ignored it, and followed its lifeline once
    // the client had gone.
    ASSERT_TRUE(WaitForJournal(*client_, "exit 102\n", 10000)) << CoreJournal();
    EXPECT_NE(CoreJournal().find("signal 2\nlifeline gone\nexit 102\n"), std::string::npos) << CoreJournal();
    EXPECT_EQ(testbed_.Summary("units_issued"), 1);
    const auto queued = QueuedUnits();
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued.begin()->second, kSlotReady);
    ExpectNoUnitLost();

    // The next start takes the same unit up again and returns it.
    ChildProcess& again = StartClient();
    ASSERT_TRUE(WaitForSummary(again, "units_accepted", 1)) << again.output();
    StopClient(again);
    const auto units = Units();
    ASSERT_GE(units.size(), 1u);
    EXPECT_EQ(units[0]["status"], "accepted") << "the unit first issued is the one returned";
    EXPECT_EQ(units[0]["verdicts"], "400");
    ExpectNoUnitLost();
}

// The core of the units is missing and its bundle comes in slowly, so every
// end of the client can be made to fall inside the download.
class CoreDownloadEndTest : public qrvfault::ClientRunTest {
protected:
    void SetUp() override {
        ClientRunTest::SetUp();
        if (HasFatalFailure()) return;
        const std::string bundles = dir() + "/bundles";
        ASSERT_EQ(mkdir(bundles.c_str(), 0700), 0);
        // Never complete within a round: 512 KiB at 2 KiB a fifth of a second.
        qrvtest::WriteFileText(bundles + "/Core_78.qrv", std::string(512 * 1024, 'b'));
        StartServers(R"({"servers": {"ws1": {"units": {"source": "random", "size": 256}},
                         "cores": {"root": ")" + bundles +
                     R"(", "piece_size": 2048, "piece_delay_ms": 200}}})");
    }

    std::vector<std::string> PartFiles() const {
        std::vector<std::string> out;
        for (const std::string& name : DirectoryEntries()) {
            if (name.rfind("Core_78.qrv.part-", 0) == 0) out.push_back(name);
        }
        return out;
    }

    // Starts the client and waits until its download has written a part
    // file of its own (one that was not there before); returns its name.
    std::string StartAndWaitForDownload() {
        const std::vector<std::string> before = PartFiles();
        ChildProcess& client = StartClient();
        std::string part;
        const bool downloading = WaitFor(client, [&] {
            for (const std::string& name : PartFiles()) {
                if (std::find(before.begin(), before.end(), name) == before.end()) part = name;
            }
            return !part.empty();
        });
        EXPECT_TRUE(downloading) << client.output();
        return part;
    }
};

// A kill leaves the part file; the next start, holding the folder, removes
// it before it downloads again. A stop by signal 15 or 2 during the download
// leaves none at all.
TEST_F(CoreDownloadEndTest, PartFilesDoNotOutliveAStopOrTheNextStart) {
    const std::string killed = StartAndWaitForDownload();
    ASSERT_FALSE(killed.empty());
    client_->Signal(SIGKILL);
    EXPECT_EQ(client_->WaitExit(), 128 + SIGKILL);
    EXPECT_EQ(PartFiles(), std::vector<std::string>{killed});

    for (int sig : {SIGTERM, SIGINT}) {
        const std::string part = StartAndWaitForDownload();
        ASSERT_FALSE(part.empty()) << sig;
        EXPECT_FALSE(qrvtest::FileExists(killed)) << "the stale part file outlived a start";
        client_->Signal(sig);
        EXPECT_EQ(client_->WaitExit(), 0) << client_->output();
        // The download's own progress lines may still reach the console
        // after the shutdown line; the line itself comes once.
        EXPECT_EQ(CountOf(client_->output(), "\nQuorvel Client Shutdown.\n"), 1u) << client_->output();
        EXPECT_EQ(PartFiles(), std::vector<std::string>{}) << "signal " << sig;
    }
    EXPECT_FALSE(qrvtest::FileExists("QrvCore_78.exe"));
    EXPECT_GE(testbed_.Summary("downloads"), 3);
}

}  // namespace
