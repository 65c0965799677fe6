// The scriptable test core as a real process: the behaviours a client test
// chooses through its script must really happen, or the client's tests of
// the exit-code table and of signals would prove nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/temp_dir.h"
#include "testbed/core_child.h"

namespace qrvtest {
namespace {

class TestCoreTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        std::filesystem::create_directory("work");
        script_ = dir() + "/script.txt";
    }

    std::vector<std::string> Argv(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> a = {BinPath("test_core"), "-dir", "work/", "-suffix", "03"};
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }

    // Starts the core with the script text (none when script is empty).
    void Start(CoreChild& core, const std::string& script, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> env;
        if (!script.empty()) {
            WriteFileText(script_, script);
            env.push_back("QRV_TEST_CORE_SCRIPT=" + script_);
        }
        ASSERT_TRUE(core.Start(Argv(extra), env));
    }

    int RunScript(const std::string& script, const std::vector<std::string>& extra = {}) {
        CoreChild core;
        Start(core, script, extra);
        return core.Wait(20000);
    }

    std::string script_;
};

TEST_F(TestCoreTest, WithoutScriptFinishesAndCleansUp) {
    EXPECT_EQ(RunScript(""), 100);
    const std::vector<std::string> log = Lines(Slurp("work/logfile_03.txt"));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().rfind("Finished", 0), 0u);
    const std::string rec = Slurp("work/wuinfo_03.dat");
    ASSERT_EQ(rec.size(), 512u);
    EXPECT_EQ(std::string(rec.c_str() + 4), "Test unit 03");
    EXPECT_EQ(LeU32(rec, 84), 100u);
    EXPECT_EQ(LeU32(rec, 88), 100u);
    EXPECT_TRUE(FileExists("work/wuresults_03.dat"));

    WriteFileText("work/wudata_03.dat", "unit");
    WriteFileText("work/wudata_04.dat", "another unit");
    EXPECT_EQ(RunScript("", {"-cleanup"}), 101);
    for (const char* f : {"work/wudata_03.dat", "work/wuresults_03.dat", "work/wuinfo_03.dat"})
        EXPECT_FALSE(FileExists(f)) << f;
    // The core log is the client's to remove, and other units are untouched.
    EXPECT_TRUE(FileExists("work/logfile_03.txt"));
    EXPECT_TRUE(FileExists("work/wudata_04.dat"));
}

TEST_F(TestCoreTest, RunSectionsFollowTheStartCount) {
    const std::string script =
        "run 1-2\nlog attempt\nexit 99\n"
        "run 3\nname Protein X\nprogress 37 200\nresult done\nlog Finished 37%\nexit 100\n"
        "cleanup\nexit 117\n";
    std::vector<int> codes;
    for (int i = 0; i < 4; ++i) codes.push_back(RunScript(script, {"-lifeline", "1", "-cpu", "50"}));
    EXPECT_EQ(codes, (std::vector<int>{99, 99, 100, 125}));  // run 4 has no section
    EXPECT_EQ(Slurp(script_ + ".runs"), "4\n");
    const std::string rec = Slurp("work/wuinfo_03.dat");
    EXPECT_EQ(std::string(rec.c_str() + 4), "Protein X");
    EXPECT_EQ(LeU32(rec, 84), 200u);
    EXPECT_EQ(LeU32(rec, 88), 37u);
    EXPECT_EQ(Slurp("work/wuresults_03.dat"), "done\n");
    // The scripted cleanup answer does not count as a start.
    EXPECT_EQ(RunScript(script, {"-cleanup"}), 117);
    EXPECT_EQ(Slurp(script_ + ".runs"), "4\n");
    const std::string journal = Slurp(script_ + ".journal");
    EXPECT_NE(journal.find("start 1 pid="), std::string::npos);
    EXPECT_NE(journal.find("args=-dir work/ -suffix 03 -lifeline 1 -cpu 50\n"), std::string::npos);
    EXPECT_NE(journal.find("error: no section for run 4"), std::string::npos);
    EXPECT_NE(journal.find("cleanup pid="), std::string::npos);
}

TEST_F(TestCoreTest, SignalsArriveThroughTheCrossedSemaphores) {
    struct Case {
        const char* semaphore;
        std::string script;
        int code;
        const char* journal;
    };
    // Each script logs "ready" once it has taken its answers, and only then
    // is the signal sent: the core's semaphores exist from its start, but a
    // release before its start-up ends may be reset with them or answered
    // before the script's own answer is in place.
    const std::vector<Case> cases = {
        {"SIGTERM", "log ready\nsleep_ms 20000\nexit 100\n", 102, "signal 2"},
        {"SIGINT", "log ready\nsleep_ms 20000\nexit 100\n", 102, "signal 15"},
        {"SIGTERM", "on_sigint exit 7\nlog ready\nsleep_ms 20000\nexit 100\n", 7, "signal 2"},
        {"SIGINT", "on_sigint exit 7\nlog ready\nsleep_ms 20000\nexit 100\n", 102, "signal 15"},
        {"SIGTERM", "on_sigint ignore\nlog ready\nsleep_ms 300\nexit 100\n", 100, "signal 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.semaphore) + ": " + c.script);
        std::filesystem::remove(script_ + ".journal");
        std::filesystem::remove("work/logfile_03.txt");
        CoreChild core;
        Start(core, c.script);
        ASSERT_TRUE(WaitForText("work/logfile_03.txt", "ready", 5000));
        ASSERT_TRUE(ReleaseWhenReady(core.pid(), c.semaphore));
        EXPECT_EQ(core.Wait(5000), c.code);
        EXPECT_NE(Slurp(script_ + ".journal").find(c.journal), std::string::npos);
        // Its semaphores go with it.
        EXPECT_FALSE(ReleaseSemaphore(core.pid(), "SIGTERM"));
        EXPECT_FALSE(ReleaseSemaphore(core.pid(), "SIGINT"));
    }
    // Only the default answer leaves a checkpoint note in the core log.
    std::filesystem::remove("work/logfile_03.txt");
    CoreChild core;
    Start(core, "log ready\nsleep_ms 20000\n");
    ASSERT_TRUE(WaitForText("work/logfile_03.txt", "ready", 5000));
    ASSERT_TRUE(ReleaseWhenReady(core.pid(), "SIGTERM"));
    EXPECT_EQ(core.Wait(5000), 102);
    EXPECT_NE(Slurp("work/logfile_03.txt").find("Checkpoint written, stopping on signal 2"),
              std::string::npos);
}

TEST_F(TestCoreTest, EndsWhenTheLifelineIsGone) {
    CoreChild client;  // stands in for the client process
    ASSERT_TRUE(client.Start({"/bin/sleep", "30"}));
    CoreChild core;
    Start(core, "on_sigint ignore\nsleep_ms 30000\nexit 100\n",
          {"-lifeline", std::to_string(client.pid())});
    ASSERT_TRUE(WaitForText(script_ + ".journal", "start 1", 5000));
    kill(client.pid(), SIGKILL);
    // Not reaped yet: a dead client that is still a zombie counts as gone.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(core.Wait(5000), 102);
    EXPECT_NE(Slurp(script_ + ".journal").find("lifeline gone"), std::string::npos);
    client.Wait(1000);
}

TEST_F(TestCoreTest, CrashesNoLogAndBadInput) {
    EXPECT_EQ(RunScript("log before\ncrash\n"), 128 + SIGSEGV);
    EXPECT_EQ(RunScript("on_sigint crash\nsleep_ms 1\nexit 5\n"), 5);

    std::filesystem::remove("work/logfile_03.txt");
    EXPECT_EQ(RunScript("nolog\nlog Finished\nexit 100\n"), 100);
    EXPECT_FALSE(FileExists("work/logfile_03.txt"));
    EXPECT_EQ(RunScript("exit 0\n"), 0);
    EXPECT_EQ(RunScript("log no exit\n"), 0);

    // Progress counts take all 32 bits, also where a long has only 32.
    EXPECT_EQ(RunScript("progress 4294967295 4294967295\nexit 100\n"), 100);
    EXPECT_EQ(LeU32(Slurp("work/wuinfo_03.dat"), 88), 4294967295u);

    EXPECT_EQ(RunScript("exit 100\n", {"-bogus"}), 115);
    for (const char* bad : {"frobnicate\n", "exit\n", "run 0\nexit 1\n", "progress x\n",
                            "progress 4294967296\n", "on_sigint maybe\n"}) {
        EXPECT_EQ(RunScript(bad), 125) << bad;
    }
    EXPECT_NE(Slurp(script_ + ".journal").find("error: line 1:"), std::string::npos);
}

TEST_F(TestCoreTest, RefusesWorkDirectoriesOutsideItsOwn) {
    for (const char* dir : {"/tmp/", "../work/", "work/../../x/"}) {
        CoreChild core;
        ASSERT_TRUE(core.Start({BinPath("test_core"), "-dir", dir, "-suffix", "03"}));
        EXPECT_EQ(core.Wait(5000), 115) << dir;
    }
    CoreChild core;
    ASSERT_TRUE(core.Start({BinPath("test_core"), "-dir", "work/", "-suffix", "3"}));
    EXPECT_EQ(core.Wait(5000), 115);
}

}  // namespace
}  // namespace qrvtest
