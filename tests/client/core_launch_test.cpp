// Core launch: the command line a core gets, and RunCore/StopCore with the
// scriptable test core as a real child process.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "core/core_file.h"
#include "client/core_launch.h"
#include "client/core_output.h"
#include "client/core_run_fixture.h"
#include "support/process.h"

namespace {

using qrvtest::CoreRunTest;
using qrvtest::CountOf;
using qrvtest::FileExists;
using qrvtest::ReadFileText;
using qrvtest::SleepsOf;

std::string Build(const char* dir, const CoreCommandOptions& o, int* rc = nullptr) {
    char out[kCoreCommandLineMax + 1];
    const int r = BuildCoreCommandLine(out, "QrvCore_78.exe", dir, "03", o);
    if (rc != nullptr) *rc = r;
    return out;
}

std::string Pid() { return std::to_string(v3ProcessID()); }

TEST(CoreCommandLine, PiecesInTheirOrder) {
    CoreCommandOptions o;
    o.lifeline = 4242;
    EXPECT_EQ(Build("work/", o), "QrvCore_78.exe -dir work/ -suffix 03 -lifeline 4242\n");

    o.cpu_usage = 50;
    EXPECT_EQ(Build("work/", o), "QrvCore_78.exe -dir work/ -suffix 03 -cpu 50 -lifeline 4242\n");

    o.cleanup = true;
    o.priority = 96;
    o.no_assembly = true;
    o.notermcheck = true;
    o.service = true;
    o.forceasm = true;
    EXPECT_EQ(Build("work/", o),
              "QrvCore_78.exe -dir work/ -suffix 03 -cleanup -priority 96 -cpu 50 -noassembly "
              "-notermcheck -service -forceasm -lifeline 4242\n");
}

TEST(CoreCommandLine, ALineThatWouldBeCutIsRefusedWhole) {
    CoreCommandOptions o;
    o.lifeline = 4242;
    // "QrvCore_78.exe -dir " + dir + " -suffix 03 -lifeline 4242\n" is 47 + dir.
    const std::string fits(kCoreCommandLineMax - 47, 'd');
    int rc = -1;
    EXPECT_EQ(Build(fits.c_str(), o, &rc).size(), kCoreCommandLineMax);
    EXPECT_EQ(rc, 0);
    const std::string too_long = fits + "d";
    EXPECT_EQ(Build(too_long.c_str(), o, &rc), "");
    EXPECT_EQ(rc, -1);
}

class CoreOptionsTest : public CoreRunTest {};

TEST_F(CoreOptionsTest, SettingsAndOneTimeMarks) {
    CoreCommandOptions o = NextCoreOptions(state_, false);
    EXPECT_EQ(o.priority, 0u);
    EXPECT_EQ(o.cpu_usage, 100u);
    EXPECT_FALSE(o.no_assembly || o.notermcheck || o.service || o.forceasm || o.cleanup);
    EXPECT_EQ(o.lifeline, v3ProcessID());

    state_.forceasm = 1;
    state_.cpu_usage = 50;
    state_.use_assembly = 0;
    gSettingsRestartMark.store(1);
    // A cleanup run in between takes neither one-time piece.
    o = NextCoreOptions(state_, true);
    EXPECT_TRUE(o.cleanup && o.no_assembly);
    EXPECT_EQ(o.cpu_usage, 50u);
    EXPECT_FALSE(o.forceasm || o.notermcheck);

    o = NextCoreOptions(state_, false);
    EXPECT_TRUE(o.forceasm && o.notermcheck);
    EXPECT_EQ(gSettingsRestartMark.load(), 0);
    o = NextCoreOptions(state_, false);
    EXPECT_FALSE(o.forceasm || o.notermcheck);
}

class RunCoreTest : public CoreRunTest {
protected:
    void SetUp() override {
        CoreRunTest::SetUp();
        AddUnit(3);
        queue_->current = 3;
    }
};

TEST_F(RunCoreTest, DefaultCommandLineReachesTheCore) {
    Script("exit 100\n");
    SetLogVerbosity(8);
    BeginCapture();
    EXPECT_EQ(RunCore(state_, "QrvCore_78.exe", "work/", "03", 0), kCoreFinished);
    const std::string out = EndCapture();
    EXPECT_NE(out.find("- Calling 'QrvCore_78.exe -dir work/ -suffix 03 -lifeline " + Pid() +
                       "\n'\n\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Working on Unit 03 ["), std::string::npos);
    EXPECT_NE(out.find("+ Working ...\n"), std::string::npos);
    ASSERT_EQ(StartArgs().size(), 1u);
    EXPECT_EQ(StartArgs()[0], "-dir work/ -suffix 03 -lifeline " + Pid());
    EXPECT_EQ(gCoreRecord.running.load(), 0u);
}

TEST_F(RunCoreTest, ExitCodesAsTheClientReadsThem) {
    Script("run 1\nexit 0\nrun 2\ncrash\nrun 3\nexit 117\nrun 4\nlog no code\n");
    EXPECT_EQ(RunCore(state_, "QrvCore_78.exe", "work/", "03", 0), kCoreStartFailed);
    EXPECT_EQ(RunCore(state_, "QrvCore_78.exe", "work/", "03", 0), 128u + 11u);
    EXPECT_EQ(RunCore(state_, "QrvCore_78.exe", "work/", "03", 0), kCoreFileError);
    EXPECT_EQ(RunCore(state_, "QrvCore_78.exe", "work/", "03", 0), kCoreStartFailed);
}

TEST_F(RunCoreTest, ACoreThatCannotStartIsNinetyNineAfterOnePoll) {
    qrvtest::ClearSleeps();
    EXPECT_EQ(RunCore(state_, "QrvCore_79.exe", "work/", "03", 0), kCoreStartFailed);
    EXPECT_EQ(SleepsOf(2000), 1u);
    // Not a program at all.
    qrvtest::WriteFileText("QrvCore_7a.exe", "not a program");
    EXPECT_EQ(RunCore(state_, "QrvCore_7a.exe", "work/", "03", 0), kCoreStartFailed);
}

TEST_F(RunCoreTest, CleanupRunIsQuietAndLeavesTheRecordAlone) {
    Script("cleanup\nremove_files\nexit 101\n");
    const uint64_t before = gCoreRecord.process_id.load();
    BeginCapture();
    EXPECT_EQ(RunCore(state_, "QrvCore_78.exe", "work/", "03", 1), kCoreSpecialExit);
    const std::string out = EndCapture();
    EXPECT_EQ(out.find("Working on Unit"), std::string::npos) << out;
    EXPECT_EQ(out.find("+ Working"), std::string::npos);
    EXPECT_FALSE(FileExists("work/wudata_03.dat"));
    EXPECT_NE(Journal().find("cleanup pid="), std::string::npos);
    EXPECT_NE(Journal().find("args=-dir work/ -suffix 03 -cleanup -lifeline " + Pid()),
              std::string::npos)
        << Journal();
    EXPECT_EQ(gCoreRecord.process_id.load(), before);
}

TEST_F(RunCoreTest, CoreLogIsCopiedAndProgressLinesRefreshUnitInfo) {
    // A stale log of an earlier run must not be shown again.
    qrvtest::WriteFileText("work/logfile_03.txt", "stale line from before\n");
    Script("name Copy test\n"
           "log Starting unit\n"
           "progress 20 100\n"
           "log Finished 20%\n"
           "sleep_ms 400\n"
           "progress 70 100\n"
           "log The run Finished part two\n"
           "sleep_ms 400\n"
           "log Last words\n"
           "exit 100\n");
    BeginCapture();
    EXPECT_EQ(RunCore(state_, "QrvCore_78.exe", "work/", "03", 0), kCoreFinished);
    const std::string out = EndCapture();
    EXPECT_EQ(out.find("stale line"), std::string::npos);
    for (const char* line : {"] Starting unit\n", "] Finished 20%\n", "] The run Finished part two\n",
                             "] Last words\n"}) {
        EXPECT_EQ(CountOf(out, line), 1u) << line << " in\n" << out;
    }
    // Only the line that begins with "Finished" ran the check: the status
    // file shows 20%, not the 70% written before the other line.
    const std::string info = ReadFileText("unitinfo.txt");
    EXPECT_NE(info.find("Name: Copy test\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Progress: 20%  [||________]"), std::string::npos) << info;
}

TEST_F(RunCoreTest, WritingLocalFilesAlsoRunsTheCheck) {
    Script("progress 40 100\nlog Writing local files\nsleep_ms 400\nexit 100\n");
    EXPECT_EQ(RunCore(state_, "QrvCore_78.exe", "work/", "03", 0), kCoreFinished);
    EXPECT_NE(ReadFileText("unitinfo.txt").find("Progress: 40%"), std::string::npos);
}

TEST_F(RunCoreTest, LinesOfACoreThatEndsAtOnceAreNotLost) {
    Script("log Quick line one\nlog Quick line two\nexit 112\n");
    BeginCapture();
    EXPECT_EQ(RunCore(state_, "QrvCore_78.exe", "work/", "03", 0), kCoreUnitInvalid);
    const std::string out = EndCapture();
    EXPECT_EQ(CountOf(out, "Quick line one\n"), 1u) << out;
    EXPECT_EQ(CountOf(out, "Quick line two\n"), 1u) << out;
}

// In real time (the sleep hook would hide a poll): the launcher learns of
// the core's end from the system and wakes the output thread, so a core's
// exit is acted on at once, its last line copied first. The core's last act
// is its journal's "exit" line, whose time stamp marks its end. Best of
// three runs, so that one descheduling on a busy machine does not decide.
TEST_F(RunCoreTest, ACoreThatEndsIsActedOnWithinATenthOfASecond) {
    v3SetSleepHook(nullptr);
    Script("log working\nsleep_ms 300\nlog last words\nexit 100\n");
    double best_s = 1e9;
    for (int run = 0; run < 3; ++run) {
        BeginCapture();
        EXPECT_EQ(RunCore(state_, "QrvCore_78.exe", "work/", "03", 0), kCoreFinished);
        const auto returned = std::chrono::system_clock::now();
        const std::string out = EndCapture();
        EXPECT_EQ(CountOf(out, "] last words\n"), 1u) << out;
        struct stat journal {};
        ASSERT_EQ(stat((script_ + ".journal").c_str(), &journal), 0);
        const auto ended = std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(
                std::chrono::seconds(journal.st_mtim.tv_sec) +
                std::chrono::nanoseconds(journal.st_mtim.tv_nsec)));
        best_s = std::min(best_s, std::chrono::duration<double>(returned - ended).count());
    }
    EXPECT_LT(best_s, 0.1);
}

// Runs a core that logs until it is stopped, stops it with StopCore once it
// runs, and returns its exit code.
uint32_t RunAndStop(ClientState& state, bool* stopped) {
    std::atomic<uint32_t> code{0};
    std::thread run([&] { code = RunCore(state, "QrvCore_78.exe", "work/", "03", 0); });
    *stopped = false;
    for (int i = 0; i < 1000 && !*stopped; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        // The core answers once its semaphores exist.
        *stopped = gCoreRecord.running.load() != 0 && FileExists("work/logfile_03.txt") &&
                   StopCore() == 0;
    }
    run.join();
    return code.load();
}

TEST_F(RunCoreTest, StopCoreOfTheShutdownStopsTheCoreAndItsOutput) {
    EXPECT_EQ(StopCore(), 0);  // nothing runs: nothing to send
    Script("log started\nsleep_ms 20000\nexit 100\n");
    BeginCapture();
    bool stopped = false;
    EXPECT_EQ(RunAndStop(state_, &stopped), kCoreInterrupted);
    const std::string out = EndCapture();
    EXPECT_TRUE(stopped);
    EXPECT_NE(Journal().find("signal 2\n"), std::string::npos) << Journal();
    EXPECT_EQ(gCoreRecord.running.load(), 0u);
    // The client is ending: the core's answer is not shown after the
    // shutdown line.
    EXPECT_NE(ReadFileText("work/logfile_03.txt").find("stopping on signal 2"), std::string::npos);
    EXPECT_EQ(out.find("stopping on signal 2"), std::string::npos) << out;
}

// The shutdown's wait for a stopped core: it ends with the core's end, not
// with a poll interval, and gives up on a core that does not listen after
// its bound (here in the sleep hook's time).
TEST_F(RunCoreTest, WaitForCoreEndEndsWithTheCoreOrItsBound) {
    EXPECT_TRUE(WaitForCoreEnd(30000));  // nothing runs
    EXPECT_EQ(qrvtest::SleepsOf(1000), 0u);

    Script("run 1\non_sigint ignore\nlog started\nsleep_ms 20000\nexit 100\n"
           "run 2\non_sigint checkpoint 200\nlog started\nsleep_ms 20000\nexit 100\n");
    for (int run = 1; run <= 2; ++run) {
        std::remove("work/logfile_03.txt");
        std::atomic<uint32_t> code{0};
        std::thread core([&] { code = RunCore(state_, "QrvCore_78.exe", "work/", "03", 0); });
        bool stopped = false;
        for (int i = 0; i < 1000 && !stopped; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            stopped = gCoreRecord.running.load() != 0 && FileExists("work/logfile_03.txt") &&
                      StopCore() == 0;
        }
        ASSERT_TRUE(stopped) << "run " << run;
        if (run == 1) {
            qrvtest::ClearSleeps();
            EXPECT_FALSE(WaitForCoreEnd(30000));
            EXPECT_EQ(qrvtest::SleepsOf(1000), 30u);
            ::kill(static_cast<pid_t>(gCoreRecord.process_id.load()), SIGKILL);
        } else {
            v3SetSleepHook(nullptr);
            const auto asked = std::chrono::steady_clock::now();
            EXPECT_TRUE(WaitForCoreEnd(30000));
            EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(5));
            // Its end is marked as it is reaped, before the run returns.
            EXPECT_NE(Journal().find("exit 102\n"), std::string::npos) << Journal();
            EXPECT_EQ(gCoreRecord.running.load(), 0u);
        }
        core.join();
    }
}

TEST_F(RunCoreTest, StopCoreOfTheDeadlineCheckKeepsCopying) {
    Script("log started\nsleep_ms 20000\nexit 100\n");
    gDeadlineInterruptMark.store(1);
    BeginCapture();
    bool stopped = false;
    EXPECT_EQ(RunAndStop(state_, &stopped), kCoreInterrupted);
    const std::string out = EndCapture();
    EXPECT_TRUE(stopped);
    EXPECT_NE(out.find("] Checkpoint written, stopping on signal 2\n"), std::string::npos) << out;
}

// The output thread on its own, fed by hand: CR LF line ends, a line that
// is still being written, an overlong line, and the rest after the core
// has gone.
TEST_F(RunCoreTest, OutputThreadCopiesWholeLinesOnly) {
    CoreOutputHandshake handshake;
    std::snprintf(handshake.log_path, sizeof handshake.log_path, "work/logfile_03.txt");
    BeginCapture();
    std::thread copier(CoreOutputThread, &handshake);
    FILE* log = std::fopen("work/logfile_03.txt", "w");
    ASSERT_NE(log, nullptr);
    std::fputs("first line\r\nhalf a li", log);
    std::fflush(log);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::fputs("ne\n", log);
    std::fputs(std::string(1500, 'x').c_str(), log);
    std::fputs("\nunfinished", log);
    std::fclose(log);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    handshake.done.store(1);
    copier.join();
    const std::string out = EndCapture();
    EXPECT_EQ(handshake.finished.load(), 1u);
    EXPECT_EQ(CountOf(out, "] first line\n"), 1u) << out;
    EXPECT_EQ(CountOf(out, "] half a line\n"), 1u) << out;
    EXPECT_EQ(out.find('\r'), std::string::npos);
    EXPECT_EQ(CountOf(out, "] unfinished\n"), 1u) << out;
}

TEST(CoreFile, NameByEditionAndTypeAndPresence) {
    char name[kCoreFileNameSize];
    MakeCoreFileName(name, 2, 0x78);
    EXPECT_STREQ(name, "QrvCore_78.exe");
    MakeCoreFileName(name, 5, 0xAB);
    EXPECT_STREQ(name, "VantorQrvCore_ab.exe");
    MakeCoreFileName(name, 5, 0xFFFFFFFFu);
    EXPECT_STREQ(name, "VantorQrvCore_ffffffff.exe");
}

TEST_F(CoreOptionsTest, AnEmptyCoreFileIsNoCore) {
    EXPECT_TRUE(CorePresent("QrvCore_78.exe"));
    qrvtest::WriteFileText("QrvCore_79.exe", "");
    EXPECT_FALSE(CorePresent("QrvCore_79.exe"));
    EXPECT_FALSE(CorePresent("QrvCore_7a.exe"));
}

TEST(CoreOutputLines, ProgressLinesBeginWithTheWord) {
    EXPECT_TRUE(IsProgressLine("Finished 10%\n"));
    EXPECT_TRUE(IsProgressLine("Writing local files\n"));
    EXPECT_FALSE(IsProgressLine(" Finished\n"));
    EXPECT_FALSE(IsProgressLine("Unit Finished\n"));
    EXPECT_FALSE(IsProgressLine("Finishe"));
}

}  // namespace
