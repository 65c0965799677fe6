#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log/log_test_support.h"

namespace {

using qrvtest::kOpeningLine;
using qrvtest::ReadFileText;

class LogOutputTest : public qrvtest::LogTest {};

TEST_F(LogOutputTest, OpeningLineCarriesTheFullUtcStamp) {
    LogStream* fallback = reinterpret_cast<LogStream*>(1);
    EXPECT_EQ(OpenLog(&fallback), 0);
    EXPECT_EQ(fallback, nullptr);
    CloseLog();
    EXPECT_EQ(ReadFileText("QRVlog.txt"), kOpeningLine);
}

TEST_F(LogOutputTest, StampsEachLineOnceAndStoresCarriageReturns) {
    OpenLog(nullptr);
    LogPrint("Initial: %04X ", 0xFFu);
    LogPrint("and the rest %s\n", "here");
    LogPrint("two\nlines\n");
    LogWrite("table row %u\n", 7u);
    LogPrint("after\n");
    CloseLog();
    EXPECT_EQ(ReadFileText("QRVlog.txt"), std::string(kOpeningLine) +
                                              "[17:32:09] Initial: 00FF and the rest here\r\n"
                                              "[17:32:09] two\r\nlines\r\n"
                                              "table row 7\r\n"
                                              "[17:32:09] after\r\n");
}

TEST_F(LogOutputTest, PercentSignsInArgumentsAreWrittenUnchanged) {
    OpenLog(nullptr);
    LogPrint("- User name: %s\n", "100%s %n %% done");
    CloseLog();
    EXPECT_NE(ReadFileText("QRVlog.txt").find("[17:32:09] - User name: 100%s %n %% done\r\n"),
              std::string::npos);
}

TEST_F(LogOutputTest, LongMessageIsCutButKeepsItsLine) {
    OpenLog(nullptr);
    const std::string long_text(400, 'z');
    LogPrint("%s\n", long_text.c_str());
    LogPrint("next\n");
    CloseLog();
    const std::string log = ReadFileText("QRVlog.txt").substr(strlen(kOpeningLine));
    const size_t end = log.find("\r\n");
    ASSERT_NE(end, std::string::npos);
    const std::string first = log.substr(0, end);
    // The message is cut to 255 characters (its line end kept), and the
    // write to 256 bytes: stamp, blank, 243 characters and CR LF.
    EXPECT_EQ(first, "[17:32:09] " + std::string(243, 'z'));
    EXPECT_EQ(log.substr(end + 2), "[17:32:09] next\r\n");
}

TEST_F(LogOutputTest, ConsoleGetsPlainLineFeedsAndTheSameWords) {
    OpenLog(nullptr);
    fflush(stdout);
    const int saved = dup(1);
    const int capture = open("console.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(capture, 0);
    dup2(capture, 1);
    LogSetConsoleEcho(true);
    LogPrint("+ Working ...\n");
    LogWrite("Arguments: %s \n\n", "-local");
    LogSetConsoleEcho(false);
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(capture);
    CloseLog();
    EXPECT_EQ(ReadFileText("console.txt"), "[17:32:09] + Working ...\nArguments: -local \n\n");
    EXPECT_NE(ReadFileText("QRVlog.txt").find("[17:32:09] + Working ...\r\nArguments: -local \r\n\r\n"),
              std::string::npos);
}

TEST_F(LogOutputTest, FullStampOfTheLongestMonth) {
    v3SetTimeNowHook([](Int128* now) {
        *now = TimeFromUnix(1033430399, 999);  // 2002-09-30 23:59:59.999
        return 0;
    });
    const std::string full = MakeTimeStamp(kStampFull);
    EXPECT_EQ(full, "[September 30 23:59:59]");
    EXPECT_EQ(full.size(), 23u);
    EXPECT_STREQ(MakeTimeStamp(kStampShort), "[23:59:59]");
}

TEST_F(LogOutputTest, AStampPassedAsArgumentIsNotTakenByAnotherThread) {
    const char* mine = MakeTimeStamp(kStampFull);
    std::thread other([] {
        v3SetTimeNowHook([](Int128* now) {
            *now = TimeFromUnix(1033430399, 0);
            return 0;
        });
        MakeTimeStamp(kStampShort);
        LogPrint("x\n");
    });
    other.join();
    EXPECT_STREQ(mine, "[Feburary 5 17:32:09]");
}

TEST_F(LogOutputTest, LinesOfConcurrentThreadsNeverMix) {
    OpenLog(nullptr);
    constexpr int kThreads = 4;
    constexpr int kLines = 150;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                if (i % 3 == 0) {
                    LogWrite("write %d of %d\n", i, t);
                } else {
                    LogPrint("thread %d line %d\n", t, i);
                }
            }
        });
    }
    for (std::thread& th : threads) th.join();
    CloseLog();
    std::istringstream in(ReadFileText("QRVlog.txt").substr(strlen(kOpeningLine)));
    const std::regex stamped(R"(\[17:32:09\] thread [0-3] line [0-9]+\r)");
    const std::regex plain(R"(write [0-9]+ of [0-3]\r)");
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        EXPECT_TRUE(std::regex_match(line, stamped) || std::regex_match(line, plain)) << line;
        ++count;
    }
    EXPECT_EQ(count, kThreads * kLines);
}

TEST_F(LogOutputTest, NothingReachesAClosedLog) {
    OpenLog(nullptr);
    CloseLog();
    LogPrint("after close\n");
    LogWrite("also after\n");
    EXPECT_EQ(ReadFileText("QRVlog.txt"), kOpeningLine);
}

// The shutdown line is the process's last: a thread still at work when it
// is written (an upload ending, say) writes nothing after it, neither to
// the log nor to the console. Sealing lasts for the process, so it runs in
// a child of its own.
TEST_F(LogOutputTest, NothingFollowsTheLastWords) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto last_words = [] {
        OpenLog(nullptr);
        fflush(stdout);
        const int capture = open("console.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (capture < 0 || dup2(capture, 1) < 0) _exit(2);
        LogSetConsoleEcho(true);
        LogLastWords("\nQuorvel Client Shutdown.\n");
        LogPrint("+ Results successfully sent\n");
        LogWrite("late\n");
        LogSetConsoleEcho(true);
        LogPrint("later\n");
        fflush(stdout);
        const bool console = ReadFileText("console.txt") == "\nQuorvel Client Shutdown.\n";
        const bool file = ReadFileText("QRVlog.txt") == std::string(kOpeningLine) + "\r\nQuorvel Client Shutdown.\r\n";
        if (!console || !file) {
            fprintf(stderr, "console [%s] log [%s]", ReadFileText("console.txt").c_str(),
                    ReadFileText("QRVlog.txt").c_str());
        }
        _exit(console && file ? 0 : 1);
    };
    EXPECT_EXIT(last_words(), testing::ExitedWithCode(0), "");
}

}  // namespace
