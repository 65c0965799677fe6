#include "client/arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/console_capture.h"
#include "log/log.h"

namespace {

using qrvtest::ConsoleCapture;

struct Parsed {
    int result;
    std::string console;
};

class ArgumentsTest : public ::testing::Test {
protected:
    void SetUp() override { SetLogVerbosity(kLogDefaultVerbosity); }
    void TearDown() override { SetLogVerbosity(kLogDefaultVerbosity); }

    Parsed Parse(std::vector<std::string> args) {
        args.insert(args.begin(), "qrv3");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ConsoleCapture capture;
        const int result = ParseArguments(static_cast<int>(args.size()), argv.data(), &state);
        return Parsed{result, capture.Stop()};
    }

    ClientState state;
};

TEST_F(ArgumentsTest, NoArgumentsLeaveTheNormalMode) {
    const Parsed p = Parse({});
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.console, "");
    EXPECT_EQ(state.run_mode, MODE_NORMAL);
    EXPECT_EQ(state.local, 0u);
    EXPECT_EQ(state.pause + state.forceasm + state.service.load(), 0u);
}

TEST_F(ArgumentsTest, FlagsAndTheirConsoleLines) {
    const Parsed p = Parse({"-local", "-pause", "-forceasm", "-advmethods", "-betateam",
                            "-internal", "-service", "-config"});
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.console, "Using local directory for work files\nQuorvel User Configuration\n\n");
    EXPECT_EQ(state.local, 1u);
    EXPECT_EQ(state.pause, 1u);
    EXPECT_EQ(state.forceasm, 1u);
    EXPECT_EQ(state.advmethods, 1u);
    EXPECT_EQ(state.betateam, 1u);
    EXPECT_EQ(state.internal, 1u);
    EXPECT_EQ(state.service.load(), 1u);
    EXPECT_EQ(state.run_mode, MODE_CONFIG);
}

TEST_F(ArgumentsTest, LaterModeWins) {
    EXPECT_EQ(Parse({"-queueinfo", "-config"}).result, 0);
    EXPECT_EQ(state.run_mode, MODE_CONFIG);
    EXPECT_EQ(Parse({"-config", "-queueinfo"}).result, 0);
    EXPECT_EQ(state.run_mode, MODE_QUEUEINFO);
}

TEST_F(ArgumentsTest, DeleteTakesAnIndexBelowTen) {
    Parsed p = Parse({"-delete", "9"});
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(state.run_mode, MODE_DELETE);
    EXPECT_EQ(state.mode_argument, 9u);

    for (const char* bad : {"10", "4294967296", "abc", "3abc", "-1", ""}) {
        state.run_mode = MODE_NORMAL;
        p = Parse({"-delete", bad});
        EXPECT_EQ(p.result, -1) << bad;
        EXPECT_EQ(p.console, "Error: Argument to -delete out of range. Must be <10") << bad;
        EXPECT_EQ(state.run_mode, MODE_NORMAL) << "a refused index must not select a unit";
    }
    p = Parse({"-delete"});
    EXPECT_EQ(p.result, -1);
    EXPECT_EQ(p.console, "Error: -delete must be followed by an argument\n");
}

TEST_F(ArgumentsTest, VerbosityBetweenOneAndNine) {
    Parsed p = Parse({"-verbosity", "9"});
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(LogVerbosity(), 9u);

    SetLogVerbosity(kLogDefaultVerbosity);
    for (const char* bad : {"0", "10"}) {
        p = Parse({"-verbosity", bad});
        EXPECT_EQ(p.result, -1) << bad;
        EXPECT_EQ(p.console, "Error: Verbosity must be between 1 (min) and 9 (max)");
        EXPECT_EQ(LogVerbosity(), kLogDefaultVerbosity) << "refused level was stored: " << bad;
    }
    // Not a number (or too large for one): the level stays as it was, and
    // that level is valid.
    for (const char* unread : {"loud", "99999999999"}) {
        p = Parse({"-verbosity", unread});
        EXPECT_EQ(p.result, 0) << unread;
        EXPECT_EQ(LogVerbosity(), kLogDefaultVerbosity) << unread;
    }

    p = Parse({"-verbosity"});
    EXPECT_EQ(p.result, -1);
    EXPECT_EQ(p.console, "Error: -verbosity must be followed by an argument\n");
}

TEST_F(ArgumentsTest, SendOneOrAll) {
    EXPECT_EQ(Parse({"-send", "all"}).result, 0);
    EXPECT_EQ(state.run_mode, MODE_SEND);
    EXPECT_EQ(state.mode_argument, 1u);

    EXPECT_EQ(Parse({"-send", "3"}).result, 0);
    EXPECT_EQ(state.mode_argument, 0u);
    EXPECT_EQ(state.send_index, 3u);

    // A value that is no number keeps the index an earlier -send gave.
    EXPECT_EQ(Parse({"-send", "7", "-send", "ALL"}).result, 0);
    EXPECT_EQ(state.mode_argument, 0u);
    EXPECT_EQ(state.send_index, 7u);

    const Parsed p = Parse({"-pause", "-send"});
    EXPECT_EQ(p.result, -1);
    EXPECT_EQ(p.console, "Error: -send must be followed by an argument\n");
}

TEST_F(ArgumentsTest, AValueIsNeverTakenAsAnOption) {
    EXPECT_EQ(Parse({"-send", "-pause"}).result, 0);
    EXPECT_EQ(state.pause, 0u);
    EXPECT_EQ(state.run_mode, MODE_SEND);
}

TEST_F(ArgumentsTest, UnknownWordsAreRefusedAndEarlierOptionsKept) {
    const Parsed p = Parse({"-pause", "-Config", "-forceasm"});
    EXPECT_EQ(p.result, -1);
    EXPECT_EQ(p.console, "Bad argument: -Config\n");
    EXPECT_EQ(state.pause, 1u);
    EXPECT_EQ(state.forceasm, 0u);
    EXPECT_EQ(state.run_mode, MODE_NORMAL);

    EXPECT_EQ(Parse({"-config "}).result, -1);
    EXPECT_EQ(Parse({"-conf"}).result, -1);
    EXPECT_EQ(Parse({"%s%n"}).console, "Bad argument: %s%n\n");
}

TEST(ProgramName, TextAfterTheLastSeparator) {
    EXPECT_STREQ(ProgramNameFromArgument("C:\\dir/sub\\prog.exe"), "prog.exe");
    EXPECT_STREQ(ProgramNameFromArgument("/usr/local/bin/qrv3"), "qrv3");
    EXPECT_STREQ(ProgramNameFromArgument("qrv3-test"), "qrv3-test");
    EXPECT_STREQ(ProgramNameFromArgument("dir/"), "");
    EXPECT_STREQ(ProgramNameFromArgument(nullptr), "qrv3");
}

TEST(Usage, ExactText) {
    ConsoleCapture capture;
    PrintUsage("a-very-long-program-name-that-goes-on-and-on.exe");
    const std::string text = capture.Stop();
    EXPECT_EQ(text,
              "Quorvel Version 3.24\n"
              "Usage:   a-very-long-program-name-that- [-mode]\n\n"
              "modes:\n"
              "  -config      Configure user information\n"
              "  -queueinfo   Get information on queued work units\n"
              "  -delete x    Delete item #x from work queue\n"
              "  -send x      Send result #x to server. Use x=all to send all results\n"
              "  -verbosity x Sets the output level, from 1 to 9 (max). The default is 3\n"
              "  -pause       Pause after finishing & trying to send current unit\n"
              "  -forceasm    Force core assembly optimizations to be used if available\n"
              "  -advmethods  Use new advanced scientific menthods (beta)\n"
              "  -service     Run in service mode (for programs such as firedaemon)\n"
              "  -local       Use configuration files from local directory\n"
              "  default:     Use configuration from Windows registry\n"
              "\n");
}

}  // namespace
