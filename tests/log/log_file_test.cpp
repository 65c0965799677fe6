#include <sys/stat.h>
#include <unistd.h>

#include <string>

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

}  // namespace
