#include <string>

#include "queue/queue_display.h"
#include "queue_test_support.h"

namespace {

using qrvtest::MakeUnit;
using qrvtest::Seconds2003;

class QueueDisplayTest : public qrvtest::QueueTest {};

TEST_F(QueueDisplayTest, AllEmptyQueueShowsTenBareLines) {
    WorkQueue q;
    std::string expected = "CURRENT QUEUE: \n00 *EMPTY    \n";
    for (int i = 1; i < 10; ++i) expected += "0" + std::to_string(i) + "  EMPTY    \n";
    EXPECT_EQ(FormatQueueInfo(q), expected);
}

TEST_F(QueueDisplayTest, EachKindOfSlotToTheCharacter) {
    WorkQueue q;
    q.current = 2;
    QueueEntry done = MakeUnit(kSlotDone, Seconds2003(12, 23, 10, 20, 30), 0xC000020A, 8080);
    done.completed = MakeTimeValue(Seconds2003(12, 24, 1, 2, 3), 0);
    q.entries[1] = done;
    QueueEntry ready = MakeUnit(kSlotReady, Seconds2003(2, 5, 17, 32, 9), 0x7F000001, 80);
    ready.has_deadline = 1;
    ready.deadline = MakeTimeValue(Seconds2003(2, 15, 17, 32, 9), 0);
    q.entries[2] = ready;
    q.entries[3].status = 9;  // an unknown item with nothing else in it
    q.entries[4] = MakeUnit(kSlotActive, Seconds2003(7, 4, 0, 0, 59), 0x0A000001, 8081);
    q.entries[5] = MakeUnit(kSlotFetching, 0);
    q.entries[6] = MakeUnit(kSlotReady, Seconds2003(1, 31, 23, 59, 58));
    q.entries[6].set_core_type(0xA3);

    const std::string expected =
        "CURRENT QUEUE: \n"
        "00  EMPTY    \n"
        "01  DONE      \"    Tinker\" (78) 192.0.2.10:8080  December 23 10:20:30"
        "->December 24 01:02:03\n"
        "02 *READY     \"    Tinker\" (78) 127.0.0.1:80  Feburary 5 17:32:09"
        " | Feburary 15 17:32\n"
        "03  UNKNOWN:09 \"   Quorvel\" (0) 0.0.0.0:0  January 1 00:00:00\n"
        "04  ACTIVE    \"    Tinker\" (78) 10.0.0.1:8081  July 4 00:00:59\n"
        "05  FETCHING \n"
        "06  READY     \"    Tinker\" (a3) 192.0.2.10:8080  January 31 23:59:58\n"
        "07  EMPTY    \n"
        "08  EMPTY    \n"
        "09  EMPTY    \n";
    EXPECT_EQ(FormatQueueInfo(q), expected);
}

TEST_F(QueueDisplayTest, CoreNameFromTheServerIsShownWithItsControlsMasked) {
    WorkQueue q;
    q.entries[0] = MakeUnit(kSlotReady, Seconds2003(9, 30, 23, 59, 59));
    // ESC, CR and LF; the one-byte CSI alone and as UTF-8 (U+009B).
    q.entries[0].set_core_name("A\x1b[2J\r\nB\x9b" "1m\xc2\x9b" "0m");
    const std::string table = FormatQueueInfo(q);
    EXPECT_NE(table.find("\"A?[2J??B?1m??0m\" (78)"), std::string::npos) << table;
    EXPECT_EQ(table.find('\x1b'), std::string::npos);
    EXPECT_EQ(table.find('\x9b'), std::string::npos);
}

TEST_F(QueueDisplayTest, LongCoreNamesAreShownWholeInConsoleAndLog) {
    WorkQueue q;
    const std::string name(63, 'n');
    for (QueueEntry& e : q.entries) {
        e = MakeUnit(kSlotReady, Seconds2003(9, 30, 23, 59, 59));
        e.set_core_name(name.c_str());
    }
    // A name filling its whole field without a terminator stops at 63.
    memset(q.entries[9].work_header + kWhCoreName, 'x', kCoreNameSize);
    const std::string table = FormatQueueInfo(q);
    EXPECT_GT(table.size(), 1024u);
    EXPECT_NE(table.find("\"" + name + "\""), std::string::npos);
    EXPECT_NE(table.find("\"" + std::string(63, 'x') + "\""), std::string::npos);

    LogStream* fallback = nullptr;
    OpenLog(&fallback);
    BeginCapture();
    EXPECT_EQ(PrintQueueInfo(&q), 0);
    const std::string out = EndCapture();
    CloseLog();
    EXPECT_NE(out.find("] Printing Queue Information\n" + table), std::string::npos);
    std::string log = qrvtest::ReadFileText("QRVlog.txt");
    std::string plain;
    for (char c : log) {
        if (c != '\r') plain += c;
    }
    EXPECT_NE(plain.find(table), std::string::npos);
}

}  // namespace
