#include "support/console_input.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>

#include "support/platform/terminal.h"

namespace {

// Puts a pipe (or a pseudo-terminal) on descriptor 0 for one test and puts
// the real standard input back afterwards.
class ConsoleInputTest : public ::testing::Test {
protected:
    void SetUp() override { saved_stdin_ = dup(0); ASSERT_GE(saved_stdin_, 0); }
    void TearDown() override {
        dup2(saved_stdin_, 0);
        close(saved_stdin_);
    }
    // Feeds the text through a pipe and closes the writing end, so the
    // readers see the end of input right after it.
    void Feed(const std::string& text) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        ASSERT_EQ(write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(fds[1]);
        ASSERT_EQ(dup2(fds[0], 0), 0);
        close(fds[0]);
    }
    std::string Line(uint64_t size = 64, uint32_t mode = 0) {
        char buf[256];
        std::memset(buf, 'Q', sizeof buf);
        last_ = v3ReadLine(buf, size, mode);
        EXPECT_EQ(buf[last_ == kV3InputEnd ? 0 : last_], '\0');
        return last_ == kV3InputEnd ? std::string("<end>") : std::string(buf, last_);
    }
    uint64_t last_ = 0;

private:
    int saved_stdin_ = -1;
};

TEST_F(ConsoleInputTest, LinesUpToTheEndOfInput) {
    Feed("hello\n\nlast line without feed");
    EXPECT_EQ(Line(), "hello");
    EXPECT_EQ(last_, 5u);
    EXPECT_EQ(Line(), "");  // an empty line is not the end of input
    EXPECT_EQ(last_, 0u);
    EXPECT_EQ(Line(), "last line without feed");
    EXPECT_EQ(Line(), "<end>");
    EXPECT_EQ(last_, kV3InputEnd);
    EXPECT_EQ(Line(), "<end>");  // and it stays ended, without blocking
}

TEST_F(ConsoleInputTest, OverlongLineIsCutAndItsRestDropped) {
    Feed("abcdefgh\nnext\n");
    EXPECT_EQ(Line(5), "abcd");
    EXPECT_EQ(last_, 4u);
    EXPECT_EQ(Line(5), "next");
    char one[1] = {'Q'};
    Feed("xyz\n");
    EXPECT_EQ(v3ReadLine(one, 1, 0), 0u);
    EXPECT_EQ(one[0], '\0');
    EXPECT_EQ(Line(), "<end>");  // the whole line was consumed
}

TEST_F(ConsoleInputTest, CarriageReturnsBeforeLineFeedsAreDropped) {
    Feed("one\r\ntwo\rthree\r\nend\r");
    EXPECT_EQ(Line(), "one");
    EXPECT_EQ(Line(), "two\rthree");
    EXPECT_EQ(Line(), "end");
    EXPECT_EQ(Line(), "<end>");
}

TEST_F(ConsoleInputTest, KeyModeFallsBackToStandardInput) {
    Feed("ab\rcd\nk");
    EXPECT_EQ(Line(64, 1), "ab");  // Enter arrives as CR in key mode
    EXPECT_EQ(Line(64, 1), "cd");
    char k = 0;
    EXPECT_EQ(v3ReadKeys(&k, 1, 1), 1u);
    EXPECT_EQ(k, 'k');
    EXPECT_EQ(v3ReadKeys(&k, 1, 1), kV3InputEnd);
}

TEST_F(ConsoleInputTest, ReadKeysReadsExactlyCount) {
    Feed("xyz");
    char buf[8] = {};
    EXPECT_EQ(v3ReadKeys(buf, 2, 0), 2u);
    EXPECT_EQ(std::string(buf, 2), "xy");
    EXPECT_EQ(v3ReadKeys(buf, 5, 0), 1u);  // end of input cuts it short
    EXPECT_EQ(buf[0], 'z');
    EXPECT_EQ(v3ReadKeys(buf, 5, 0), kV3InputEnd);
    EXPECT_EQ(v3ReadKeys(buf, 0, 0), 0u);
    EXPECT_EQ(v3ReadLine(nullptr, 5, 0), 0u);
}

// On a real terminal a key press must arrive without Enter, and the
// terminal must be back in line mode with echo afterwards.
TEST_F(ConsoleInputTest, KeyFromTerminalNeedsNoEnter) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        GTEST_SKIP() << "no pseudo-terminals here";
    }
    int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    ASSERT_EQ(dup2(slave, 0), 0);
    close(slave);
    ASSERT_TRUE(PlatformStdinIsTerminal());

    auto key = std::async(std::launch::async, [] {
        char c = 0;
        uint64_t n = v3ReadKeys(&c, 1, 1);
        return n == 1 ? c : '\0';
    });
    // The read may start before or after the byte arrives; either way a key
    // read in raw mode returns it without a line feed.
    ASSERT_EQ(write(master, "q", 1), 1);
    bool done = key.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!done) {
        ASSERT_EQ(write(master, "\n", 1), 1);  // unblock before failing
    }
    EXPECT_TRUE(done) << "a single key press waited for Enter";
    EXPECT_EQ(key.get(), 'q');

    termios after{};
    ASSERT_EQ(tcgetattr(0, &after), 0);
    EXPECT_NE(after.c_lflag & ICANON, 0u);
    EXPECT_NE(after.c_lflag & ECHO, 0u);
    close(master);
}

}  // namespace
