#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log/log_test_support.h"
#include "support/file.h"

namespace {

using qrvtest::FileExists;
using qrvtest::kOpeningLine;
using qrvtest::ReadFileText;
using qrvtest::WriteFileText;

class LogFileTest : public qrvtest::LogTest {};

constexpr const char* kLockedMessage =
    "\r\nThe file QRVlog.txt has been locked by the operating system and cannot be\r\n opened "
    "for writing (possibly because it is open in another application).\r\n";
constexpr const char* kBeforeNextRun =
    "Before you next run Quorvel, please ensure QRVlog.txt is not open anywhere,\r\n or simply "
    "delete it. For now, QRVlog2.txt will be used.\r\n";

TEST_F(LogFileTest, LogJustBelowTheLimitIsAppendedTo) {
    const std::string old(49999, 'o');
    WriteFileText("QRVlog.txt", old);
    WriteFileText("QRVlog-Prev.txt", "earlier");
    OpenLog(nullptr);
    LogPrint("hello\n");
    CloseLog();
    EXPECT_EQ(ReadFileText("QRVlog.txt"), old + kOpeningLine + "[17:32:09] hello\r\n");
    EXPECT_EQ(ReadFileText("QRVlog-Prev.txt"), "earlier");
}

TEST_F(LogFileTest, LogAtTheLimitBecomesThePreviousLog) {
    const std::string old(50000, 'f');
    WriteFileText("QRVlog.txt", old);
    WriteFileText("QRVlog-Prev.txt", "earlier");
    OpenLog(nullptr);
    CloseLog();
    EXPECT_EQ(ReadFileText("QRVlog-Prev.txt"), old);
    EXPECT_EQ(ReadFileText("QRVlog.txt"), kOpeningLine);
}

TEST_F(LogFileTest, MissingLogIsCreatedAndThePreviousLogGoes) {
    WriteFileText("QRVlog-Prev.txt", "earlier");
    LogStream* fallback = nullptr;
    OpenLog(&fallback);
    CloseLog();
    EXPECT_EQ(fallback, nullptr);
    EXPECT_EQ(ReadFileText("QRVlog.txt"), kOpeningLine);
    EXPECT_FALSE(FileExists("QRVlog-Prev.txt"));
}

TEST_F(LogFileTest, LogHeldByAnotherWriterSendsOutputToTheFallbackLog) {
    WriteFileText("QRVlog.txt", "the other client's log\n");
    v3File holder{};
    ASSERT_EQ(v3FileOpenLocked(&holder, "QRVlog.txt", kFileModeWrite | kFileModeAppend), 0);

    LogStream* fallback = nullptr;
    OpenLog(&fallback);
    LogPrint("into the fallback\n");
    CloseLog();
    v3FileClose(&holder);

    EXPECT_NE(fallback, nullptr);
    EXPECT_EQ(ReadFileText("QRVlog.txt"), "the other client's log\n");
    EXPECT_EQ(ReadFileText("QRVlog2.txt"), std::string("[17:32:09] ") + kLockedMessage +
                                               "[17:32:09] " + kBeforeNextRun + kOpeningLine +
                                               "[17:32:09] into the fallback\r\n");
}

TEST_F(LogFileTest, FullLogHeldByAnotherWriterIsNotRotated) {
    const std::string full(60000, 'h');
    WriteFileText("QRVlog.txt", full);
    WriteFileText("QRVlog-Prev.txt", "the other client's previous log");
    v3File holder{};
    ASSERT_EQ(v3FileOpenLocked(&holder, "QRVlog.txt", kFileModeWrite | kFileModeAppend), 0);
    OpenLog(nullptr);
    CloseLog();
    v3FileClose(&holder);
    EXPECT_EQ(ReadFileText("QRVlog.txt"), full);
    EXPECT_EQ(ReadFileText("QRVlog-Prev.txt"), "the other client's previous log");
    EXPECT_TRUE(FileExists("QRVlog2.txt"));
}

TEST_F(LogFileTest, FallbackMessagesFollowTheLevel) {
    SetLogVerbosity(2);
    v3File holder{};
    ASSERT_EQ(v3FileOpenLocked(&holder, "QRVlog.txt",
                               kFileModeWrite | kFileModeCreate | kFileModeAppend),
              0);
    OpenLog(nullptr);
    CloseLog();
    v3FileClose(&holder);
    EXPECT_EQ(ReadFileText("QRVlog2.txt"), kOpeningLine);
}

TEST_F(LogFileTest, UnopenableLogThatCanBeDeletedIsStartedAgain) {
    // A name that points at a folder cannot be opened as a file, but the
    // name itself can be removed.
    ASSERT_EQ(mkdir("elsewhere", 0700), 0);
    ASSERT_EQ(symlink("elsewhere", "QRVlog.txt"), 0);
    LogStream* fallback = nullptr;
    OpenLog(&fallback);
    CloseLog();
    EXPECT_NE(fallback, nullptr);
    EXPECT_EQ(ReadFileText("QRVlog.txt"),
              std::string("[17:32:09] \r\nQuorvel was originally unable to open QRVlog.txt, so "
                          "it was deleted and a new copy started.\r\n") +
                  kOpeningLine);
    EXPECT_FALSE(FileExists("QRVlog2.txt"));
}

TEST_F(LogFileTest, NoLogAtAllStillRuns) {
    v3File first{};
    v3File second{};
    ASSERT_EQ(v3FileOpenLocked(&first, "QRVlog.txt", kFileModeWrite | kFileModeCreate), 0);
    ASSERT_EQ(v3FileOpenLocked(&second, "QRVlog2.txt", kFileModeWrite | kFileModeCreate), 0);
    LogStream* fallback = reinterpret_cast<LogStream*>(1);
    EXPECT_EQ(OpenLog(&fallback), 0);
    EXPECT_EQ(fallback, nullptr);
    LogPrint("console only\n");
    CloseLog();
    v3FileClose(&first);
    v3FileClose(&second);
    EXPECT_EQ(ReadFileText("QRVlog.txt"), "");
    EXPECT_EQ(ReadFileText("QRVlog2.txt"), "");
}

constexpr const char* kFillText =
    "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx";
// One line of kFillText as the file holds it: 100 bytes.
const std::string kFillLine = std::string("[17:32:09] ") + kFillText + "\r\n";

// Lines of kFillText until the log, `now` bytes long, is less than a line
// short of `size`; returns the bytes written.
std::string FillLogTo(uint64_t size, uint64_t now) {
    std::string written;
    while (now + kFillLine.size() <= size) {
        LogPrint("%s\n", kFillText);
        written += kFillLine;
        now += kFillLine.size();
    }
    return written;
}

// The file's text is `want`; on a difference, says where, without
// printing megabytes of log.
testing::AssertionResult HoldsText(const char* name, const std::string& want) {
    const std::string got = ReadFileText(name);
    if (got == want) return testing::AssertionSuccess();
    size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
    return testing::AssertionFailure() << name << " holds " << got.size() << " bytes, expected "
                                       << want.size() << "; first difference at byte " << at << ": \""
                                       << got.substr(at, 40) << "\" instead of \"" << want.substr(at, 40)
                                       << "\"";
}

uint64_t FileSize(const char* name) {
    struct stat st {};
    return stat(name, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// Lines of kFillText until the log file `name` shrinks, which only a
// rotation does; returns the bytes written up to it. At most twice the
// rotation size, for a log that is never rotated.
std::string WriteUntilRotated(const char* name) {
    std::string written;
    uint64_t size = FileSize(name);
    while (written.size() < 2 * kLogRotateRunningSize) {
        LogPrint("%s\n", kFillText);
        written += kFillLine;
        const uint64_t now = FileSize(name);
        if (now < size) break;
        size = now;
    }
    return written;
}

// A client left alone for months must not fill its disk with its log: once
// QRVlog.txt has reached the size, the line that took it there is finished
// in it and it becomes QRVlog-Prev.txt, replacing the one before; the next
// line opens a new QRVlog.txt, as a start-up would. And again at the size.
TEST_F(LogFileTest, RunningLogIsRotatedAtTheEndOfTheLineThatFillsIt) {
    WriteFileText("QRVlog.txt", "before\r\n");
    WriteFileText("QRVlog-Prev.txt", "earlier");
    OpenLog(nullptr);
    const size_t opening = strlen(kOpeningLine);
    std::string first = "before\r\n" + (kOpeningLine + FillLogTo(kLogRotateRunningSize, 8 + opening));
    // Printed in pieces: the first passes the size in the middle of a line.
    const std::string piece(120, 'p');
    LogPrint("%s", piece.c_str());
    EXPECT_EQ(ReadFileText("QRVlog-Prev.txt"), "earlier");
    LogPrint("end\n");
    first += "[17:32:09] " + piece + "end\r\n";
    LogPrint("next\n");
    EXPECT_TRUE(HoldsText("QRVlog-Prev.txt", first));
    EXPECT_TRUE(HoldsText("QRVlog.txt", std::string(kOpeningLine) + "[17:32:09] next\r\n"));

    const std::string second = WriteUntilRotated("QRVlog.txt");
    EXPECT_GE(second.size() + opening + 17, kLogRotateRunningSize);
    EXPECT_LT(second.size() + opening + 17, kLogRotateRunningSize + kFillLine.size());
    LogPrint("after\n");
    CloseLog();
    EXPECT_TRUE(HoldsText("QRVlog-Prev.txt", kOpeningLine + ("[17:32:09] next\r\n" + second)));
    EXPECT_TRUE(HoldsText("QRVlog.txt", std::string(kOpeningLine) + "[17:32:09] after\r\n"));
}

// A line that never ends is no way past the size: it is cut into the next
// log once it has run kLogRotateSlack bytes beyond it.
TEST_F(LogFileTest, RunningLogWithoutLineEndsIsRotatedAfterTheSlack) {
    OpenLog(nullptr);
    FillLogTo(kLogRotateRunningSize, strlen(kOpeningLine));
    const std::string piece(200, 'n');
    uint64_t pieces = 0;
    while (!FileExists("QRVlog-Prev.txt") && pieces < 2 * kLogRotateSlack / piece.size()) {
        LogPrint("%s", piece.c_str());
        ++pieces;
    }
    CloseLog();
    struct stat previous {};
    ASSERT_EQ(stat("QRVlog-Prev.txt", &previous), 0);
    EXPECT_GE(static_cast<uint64_t>(previous.st_size), kLogRotateRunningSize + kLogRotateSlack);
    EXPECT_LT(static_cast<uint64_t>(previous.st_size), kLogRotateRunningSize + kLogRotateSlack + 256);
    EXPECT_TRUE(HoldsText("QRVlog.txt", kOpeningLine));
}

// When the rotation cannot be made (here the previous log's name is taken
// by a folder), the log carries on in QRVlog.txt, losing nothing, and the
// rotation is tried again a quarter of the size later, not at every line.
TEST_F(LogFileTest, RotationThatCannotBeMadeLeavesTheLogGoingAndIsTriedLater) {
    ASSERT_EQ(mkdir("QRVlog-Prev.txt", 0700), 0);
    WriteFileText("QRVlog-Prev.txt/keep", "x");
    OpenLog(nullptr);
    std::string all = kOpeningLine + FillLogTo(kLogRotateRunningSize + 1000, strlen(kOpeningLine));
    EXPECT_TRUE(HoldsText("QRVlog.txt", all));
    ASSERT_EQ(std::remove("QRVlog-Prev.txt/keep"), 0);
    ASSERT_EQ(rmdir("QRVlog-Prev.txt"), 0);
    all += WriteUntilRotated("QRVlog.txt");
    LogPrint("next\n");
    CloseLog();
    // The failed try was at the first line end past the size.
    const uint64_t retry = kLogRotateRunningSize + kLogRotateRunningSize / 4;
    EXPECT_GE(all.size(), retry);
    EXPECT_LT(all.size(), retry + 2 * kFillLine.size());
    EXPECT_TRUE(HoldsText("QRVlog-Prev.txt", all));
    EXPECT_TRUE(HoldsText("QRVlog.txt", std::string(kOpeningLine) + "[17:32:09] next\r\n"));
}

// QRVlog2.txt has no previous name: at the size it is begun anew, as a
// start-up begins it, and the log held by the other program is left alone.
TEST_F(LogFileTest, RunningFallbackLogIsBegunAnewAtTheSize) {
    WriteFileText("QRVlog.txt", "the other client's log\n");
    v3File holder{};
    ASSERT_EQ(v3FileOpenLocked(&holder, "QRVlog.txt", kFileModeWrite | kFileModeAppend), 0);
    OpenLog(nullptr);
    const uint64_t made = ReadFileText("QRVlog2.txt").size();
    const std::string written = WriteUntilRotated("QRVlog2.txt");
    EXPECT_GE(made + written.size(), kLogRotateRunningSize);
    EXPECT_LT(made + written.size(), kLogRotateRunningSize + kFillLine.size());
    LogPrint("next\n");
    CloseLog();
    v3FileClose(&holder);
    EXPECT_TRUE(HoldsText("QRVlog2.txt", std::string(kOpeningLine) + "[17:32:09] next\r\n"));
    EXPECT_EQ(ReadFileText("QRVlog.txt"), "the other client's log\n");
    EXPECT_FALSE(FileExists("QRVlog-Prev.txt"));
}

// Writers on several threads go on through a rotation: every line is in
// one of the two logs, whole, once, and each thread's lines stay in order.
TEST_F(LogFileTest, ConcurrentWritersLoseNothingAcrossARotation) {
    OpenLog(nullptr);
    constexpr int kThreads = 4;
    const std::string text(180, 'c');
    // About one and a half times the size: one rotation.
    const int lines = static_cast<int>(kLogRotateRunningSize * 3 / 2 / 210 / kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, lines, &text] {
            for (int i = 0; i < lines; ++i) LogPrint("T%d L%06d %s\n", t, i, text.c_str());
        });
    }
    for (std::thread& th : threads) th.join();
    CloseLog();
    const std::string previous = ReadFileText("QRVlog-Prev.txt");
    const std::string current = ReadFileText("QRVlog.txt");
    ASSERT_EQ(current.compare(0, strlen(kOpeningLine), kOpeningLine), 0);
    ASSERT_GT(previous.size(), strlen(kOpeningLine));
    ASSERT_EQ(previous.substr(previous.size() - 2), "\r\n");
    std::istringstream in(previous.substr(strlen(kOpeningLine)) + current.substr(strlen(kOpeningLine)));
    std::vector<int> next(kThreads, 0);
    const std::string tail = " " + text + "\r";
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        int t = -1;
        int i = -1;
        const bool ok = line.size() == 11 + 10 + tail.size() &&
                        std::sscanf(line.c_str(), "[17:32:09] T%d L%6d", &t, &i) == 2 && t >= 0 &&
                        t < kThreads && line.compare(21, tail.size(), tail) == 0;
        ASSERT_TRUE(ok) << "line " << count << ": " << line.substr(0, 40);
        ASSERT_EQ(i, next[t]) << "thread " << t;
        ++next[t];
        ++count;
    }
    EXPECT_EQ(count, kThreads * lines);
}

}  // namespace
