// End-to-end: the real qrv3 binary started in a fresh directory, in the runs
// that end before any work is fetched. Starts that go on to fetch work are in
// qrv3_start_testbed_test.cpp, inside a private network namespace.
#include <signal.h>

#include <cstdio>
#include <string>
#include <vector>

#include "client/qrv3_process.h"
#include "client/qrv3_test_support.h"
#include "common/temp_dir.h"
#include "log/banner.h"

namespace {

using qrvtest::ChildProcess;
using qrvtest::CountOf;
using qrvtest::FileExists;
using qrvtest::ReadFileText;

class Qrv3StartTest : public qrvtest::Qrv3Test {};

std::string ExpectedLicence() {
    std::string text;
    for (int i = 0; i < kLicencePieces; ++i) text += LicencePiece(i);
    return text;
}

TEST_F(Qrv3StartTest, LicencePrintsAndTouchesNothing) {
    RemoveSettings();
    ChildProcess qrv3(qrvtest::BinPath("qrv3"), {"-license", "-Bogus", "-delete"}, Env());
    ASSERT_TRUE(qrv3.started());
    EXPECT_EQ(qrv3.WaitExit(), 0);
    EXPECT_EQ(qrv3.output(), ExpectedLicence());
    EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{});
}

TEST_F(Qrv3StartTest, BadArgumentsShowUsageWaitForAKeyAndTouchNothing) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"-Config"}, "Bad argument: -Config\n"},
        {{"-local", "-delete", "10"},
         "Using local directory for work files\n"
         "Error: Argument to -delete out of range. Must be <10"},
        {{"-verbosity", "0"}, "Error: Verbosity must be between 1 (min) and 9 (max)"},
        {{"-pause", "-send"}, "Error: -send must be followed by an argument\n"},
    };
    const std::vector<std::string> before = DirectoryEntries();
    const std::string settings = ReadFileText("client.cfg");
    for (const Case& c : cases) {
        ChildProcess qrv3(qrvtest::BinPath("qrv3"), c.args, Env());
        ASSERT_TRUE(qrv3.started());
        ASSERT_TRUE(qrv3.WaitForOutput("Press any key to exit.\n"));
        // Waiting for the key: nothing more is written until it comes.
        EXPECT_EQ(CountOf(qrv3.output(), "Shutdown"), 0u);
        qrv3.Write("k");
        EXPECT_EQ(qrv3.WaitExit(), 0) << c.args[0];
        EXPECT_EQ(qrv3.output(), c.message + "Bad Argument(s) received\n\n" + qrvtest::UsageText() +
                                     "Please note the above recognized flags and try again.\n"
                                     "Press any key to exit.\n"
                                     "\nQuorvel Client Shutdown.\n");
        EXPECT_EQ(DirectoryEntries(), before) << c.args[0];
        EXPECT_EQ(ReadFileText("client.cfg"), settings);
    }
}

TEST_F(Qrv3StartTest, BadArgumentWithoutConsoleInputStillEnds) {
    ChildProcess qrv3(qrvtest::BinPath("qrv3"), {"-nonsense"}, Env());
    qrv3.CloseInput();
    EXPECT_EQ(qrv3.WaitExit(), 0);
    EXPECT_NE(qrv3.output().find("Press any key to exit.\n\nQuorvel Client Shutdown.\n"),
              std::string::npos);
    EXPECT_FALSE(FileExists("QRVlog.txt"));
}

// Signal 15 from the system while the client still starts up ends it as
// signal 2 would: through the shutdown handler, with its line and code 0,
// not by the system's default (code 143, no line).
TEST_F(Qrv3StartTest, TerminateDuringStartUpShutsDownLikeAnInterrupt) {
    struct Case {
        std::vector<std::string> args;
        bool first_start;
        std::string waiting_at;
    };
    const std::vector<Case> cases = {
        {{"-Config"}, false, "Press any key to exit.\n"},
        {{}, true, "User name [Anonymous]? "},
    };
    for (const Case& c : cases) {
        for (int sig : {SIGTERM, SIGINT}) {
            std::remove("QRVlog.txt");
            if (c.first_start) RemoveSettings();
            ChildProcess qrv3(qrvtest::BinPath("qrv3"), c.args, Env());
            ASSERT_TRUE(qrv3.WaitForOutput(c.waiting_at)) << qrv3.output();
            qrv3.Signal(sig);
            const std::string what = c.waiting_at + " / signal " + std::to_string(sig);
            EXPECT_EQ(qrv3.WaitExit(), 0) << what;
            EXPECT_TRUE(qrvtest::EndsWith(qrv3.output(), c.waiting_at + "\nQuorvel Client Shutdown.\n"))
                << what << "\n" << qrv3.output();
            if (c.first_start) {
                EXPECT_TRUE(qrvtest::EndsWith(ReadFileText("QRVlog.txt"), "\r\nQuorvel Client Shutdown.\r\n"))
                    << what;
            }
        }
    }
}

TEST_F(Qrv3StartTest, QueueInfoSkipsTheBenchmark) {
    ChildProcess qrv3(qrvtest::BinPath("qrv3"), {"-queueinfo", "-verbosity", "9"}, Env());
    // Showing the queue is all it does: it ends by itself.
    EXPECT_EQ(qrv3.WaitExit(), 0);
    const std::string console = qrv3.output();
    EXPECT_NE(console.find("] Queue Status:\n"), std::string::npos) << console;
    EXPECT_NE(console.find("CURRENT QUEUE: \n00 *EMPTY    \n01  EMPTY    \n"), std::string::npos)
        << console;
    EXPECT_NE(console.find("09  EMPTY    \n"), std::string::npos) << console;
    EXPECT_EQ(console.find("+ Benchmarking"), std::string::npos) << console;
    EXPECT_TRUE(qrvtest::EndsWith(console, "\n\nQuorvel Client Shutdown.\n")) << console;

    const std::string log = ReadFileText("QRVlog.txt");
    EXPECT_EQ(log.find("Benchmarking"), std::string::npos);
    EXPECT_EQ(log.find("benchmark result"), std::string::npos);
    // No server is asked for anything.
    EXPECT_EQ(log.find("Connecting to"), std::string::npos);
    EXPECT_EQ(log.find("Attempting to get work packet"), std::string::npos);
    // The client ends itself with an interrupt.
    EXPECT_NE(log.find("] ***** Got a SIGTERM signal (2) from OS\r\n\r\nQuorvel Client Shutdown.\r\n"),
              std::string::npos);
    EXPECT_EQ(CountOf(log, "Quorvel Client Shutdown."), 1u);
    EXPECT_TRUE(qrvtest::EndsWith(log, "\r\n\r\nQuorvel Client Shutdown.\r\n"));
}

TEST_F(Qrv3StartTest, WorkDirectoryThatCannotBeMadeEndsTheStart) {
    qrvtest::WriteFileText("work", "a file where the folder belongs");
    ChildProcess qrv3(qrvtest::BinPath("qrv3"), {"-queueinfo"}, Env());
    EXPECT_EQ(qrv3.WaitExit(), 255);
    const std::string log = ReadFileText("QRVlog.txt");
    EXPECT_NE(log.find("] Work directory not found. Creating...\r\n"), std::string::npos);
    EXPECT_NE(log.find("] + Could not access or create work directory, exiting.\r\n"),
              std::string::npos);
    EXPECT_EQ(ReadFileText("work"), "a file where the folder belongs");
}

// A service instance outside 1..4 hands the client a machine ID that is
// none; the client refuses it before it touches its folder, with a status
// that a service manager does not restart.
TEST_F(Qrv3StartTest, MachineIDFromTheEnvironmentThatIsNoneEndsTheStart) {
    const std::vector<std::string> before = DirectoryEntries();
    for (const char* bad : {"5", "0", "x"}) {
        std::vector<std::string> env = Env();
        env.push_back(std::string("QRV_MACHINE_ID=") + bad);
        ChildProcess qrv3(qrvtest::BinPath("qrv3"), {"-local"}, env);
        EXPECT_EQ(qrv3.WaitExit(), 255) << bad;
        EXPECT_EQ(qrv3.output(), std::string("Using local directory for work files\n"
                                             "QRV_MACHINE_ID is \"") +
                                     bad + "\", but a machine ID is 1, 2, 3 or 4; exiting.\n");
        EXPECT_EQ(DirectoryEntries(), before) << bad;
    }
}

}  // namespace
