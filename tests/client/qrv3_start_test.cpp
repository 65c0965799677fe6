// End-to-end: the real qrv3 binary started in a fresh directory.
#include <sys/stat.h>
#include <time.h>

#include <regex>
#include <string>
#include <vector>

#include "client/qrv3_process.h"
#include "client/qrv3_test_support.h"
#include "common/temp_dir.h"
#include "log/banner.h"
#include "support/time_value.h"

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

// Month name and day as the full stamp prints them, for a clock reading.
std::string StampDate(time_t when) {
    struct tm utc {};
    gmtime_r(&when, &utc);
    return std::string(kMonthNames[utc.tm_mon]) + " " + std::to_string(utc.tm_mday);
}

TEST_F(Qrv3StartTest, NormalStartOpensTheLogWritesTheBannerAndMeasures) {
    const time_t started = time(nullptr);
    ChildProcess qrv3(qrvtest::BinPath("qrv3"), {"-verbosity", "6"}, Env());
    ASSERT_TRUE(qrv3.WaitForOutput("The benchmark result is "));
    WaitForClientThread(qrv3);
    qrv3.Signal(SIGINT);
    EXPECT_EQ(qrv3.WaitExit(), 0);
    const time_t ended = time(nullptr);

    const std::string log = ReadFileText("QRVlog.txt");
    const std::regex opening(R"(^\r\n\r\n--- Opening Log file \[([A-Za-z]+ [0-9]+) [0-9]{2}:[0-9]{2}:[0-9]{2}\] \r\n\r\n)");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(log, m, opening)) << log.substr(0, 200);
    EXPECT_TRUE(m[1] == StampDate(started) || m[1] == StampDate(ended)) << m[1];

    const std::string frame = "\r\n# Windows Console Edition " + std::string(53, '#') + "\r\n";
    EXPECT_EQ(log.find(frame), static_cast<size_t>(m.length(0)));
    const size_t arguments = log.find("Arguments: -verbosity 6 \r\n\r\n");
    ASSERT_NE(arguments, std::string::npos);
    EXPECT_GT(arguments, log.find("email:"));

    const std::regex result(R"(\] The benchmark result is ([0-9]+)\r\n)");
    ASSERT_TRUE(std::regex_search(log, m, result));
    const unsigned long figure = std::stoul(m[1]);
    EXPECT_GT(figure, 0u);
    EXPECT_EQ(figure % 4, 0u) << "the figure is sent multiplied by 4";
    const size_t creating = log.find("] Work directory not found. Creating...\r\n");
    const size_t benchmarking = log.find("] + Benchmarking ...\r\n");
    EXPECT_NE(creating, std::string::npos);
    EXPECT_LT(arguments, creating);
    EXPECT_LT(creating, benchmarking);
    EXPECT_LT(benchmarking, log.find("The benchmark result"));

    struct stat st {};
    ASSERT_EQ(stat("work", &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));

    EXPECT_NE(log.find("] ***** Got a SIGTERM signal (2) from OS\r\n\r\nQuorvel Client Shutdown.\r\n"),
              std::string::npos);
    EXPECT_TRUE(qrvtest::EndsWith(log, "\r\n\r\nQuorvel Client Shutdown.\r\n"));
    // The console shows the same words with plain line ends.
    const std::string console = qrv3.output();
    EXPECT_NE(console.find("Arguments: -verbosity 6 \n\n"), std::string::npos);
    EXPECT_EQ(console.find('\r'), std::string::npos);
    EXPECT_TRUE(qrvtest::EndsWith(console, "\n\nQuorvel Client Shutdown.\n"));
}

TEST_F(Qrv3StartTest, NoArgumentsNoArgumentLineAndQuietAtLevelThree) {
    ChildProcess qrv3(qrvtest::BinPath("qrv3"), {}, Env());
    ASSERT_TRUE(qrv3.WaitForOutput("+ Benchmarking ...\n"));
    WaitForClientThread(qrv3);
    qrv3.Signal(SIGINT);
    EXPECT_EQ(qrv3.WaitExit(), 0);
    const std::string log = ReadFileText("QRVlog.txt");
    EXPECT_EQ(log.find("Arguments:"), std::string::npos);
    // Level 4 and 6 messages are not shown at the default level 3.
    EXPECT_EQ(log.find("The benchmark result"), std::string::npos);
    EXPECT_EQ(log.find("*****"), std::string::npos);
    EXPECT_EQ(CountOf(log, "\r\nQuorvel Client Shutdown.\r\n"), 1u);
}

TEST_F(Qrv3StartTest, QueueInfoSkipsTheBenchmark) {
    ChildProcess qrv3(qrvtest::BinPath("qrv3"), {"-queueinfo", "-verbosity", "9"}, Env());
    WaitForClientThread(qrv3);
    qrv3.Signal(SIGTERM);
    EXPECT_EQ(qrv3.WaitExit(), 0);
    const std::string log = ReadFileText("QRVlog.txt");
    EXPECT_EQ(log.find("Benchmarking"), std::string::npos);
    EXPECT_EQ(log.find("benchmark result"), std::string::npos);
    EXPECT_NE(log.find("] ***** Got an Activate signal (15) from OS\r\n\r\nQuorvel Client Shutdown.\r\n"),
              std::string::npos);
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

TEST_F(Qrv3StartTest, SecondClientInTheSameDirectoryLogsIntoTheFallback) {
    ChildProcess first(qrvtest::BinPath("qrv3"), {"-queueinfo"}, Env());
    WaitForClientThread(first);
    ChildProcess second(qrvtest::BinPath("qrv3"), {"-queueinfo"}, Env());
    WaitForClientThread(second);
    second.Signal(SIGINT);
    EXPECT_EQ(second.WaitExit(), 0);
    first.Signal(SIGINT);
    EXPECT_EQ(first.WaitExit(), 0);

    const std::string fallback = ReadFileText("QRVlog2.txt");
    EXPECT_EQ(fallback.find("] \r\nThe file QRVlog.txt has been locked by the operating system "
                            "and cannot be\r\n opened for writing"),
              9u);
    EXPECT_NE(fallback.find("] Before you next run Quorvel, please ensure QRVlog.txt is not open "
                            "anywhere,\r\n or simply delete it. For now, QRVlog2.txt will be used.\r\n"),
              std::string::npos);
    EXPECT_EQ(CountOf(fallback, "Quorvel Client Shutdown."), 1u);
    EXPECT_NE(second.output().find("For now, QRVlog2.txt will be used.\n"), std::string::npos);
    // The first client's log holds only its own run.
    const std::string log = ReadFileText("QRVlog.txt");
    EXPECT_EQ(CountOf(log, "--- Opening Log file"), 1u);
    EXPECT_EQ(CountOf(log, "Quorvel Client Shutdown."), 1u);
}

}  // namespace
