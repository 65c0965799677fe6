// End-to-end: the real qrv3 binary making a normal start in a fresh
// directory, up to the point where it fetches work. No server answers here:
// ctest runs this file inside a private network namespace, where the fetch
// finds nothing listening, and the client waits and retries until the test
// ends it.
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "client/qrv3_process.h"
#include "client/qrv3_test_support.h"
#include "common/temp_dir.h"
#include "common/testbed.h"
#include "queue/work_queue.h"
#include "support/platform/semaphore.h"
#include "support/time_value.h"
#include "support/unprivileged.h"

namespace {

using qrvtest::ChildProcess;
using qrvtest::CountOf;
using qrvtest::kNobody;
using qrvtest::ReadFileText;

class Qrv3StartTest : public qrvtest::Qrv3Test {
protected:
    void SetUp() override {
        Qrv3Test::SetUp();
        ASSERT_TRUE(qrvtest::InPrivateNetwork()) << "ctest runs this test through netns-run";
    }

    // A folder the registry names (so that nothing else is said first) with
    // one unit waiting in slot 0: what the lock tests hold or refuse.
    void NamedFolderWithOneReadyUnit() {
        qrvtest::WriteFileText("registry/HKCU.txt",
                               "[Software\\Tarnwick\\Quorvel]\nDirName=sz:" + dir() + "\n\n");
        std::unique_ptr<WorkQueue> queue = NewWorkQueue();
        ASSERT_NE(queue, nullptr);
        queue->entries[0].status = kSlotReady;
        ASSERT_EQ(SaveQueue(queue.get()), 0);
    }
};

// Month name and day as the full stamp prints them, for a clock reading.
std::string StampDate(time_t when) {
    struct tm utc {};
    gmtime_r(&when, &utc);
    return std::string(kMonthNames[utc.tm_mon]) + " " + std::to_string(utc.tm_mday);
}

// "hh:mm:ss" with two digits each.
bool IsClockReading(const std::string& text) {
    if (text.size() != 8 || text[2] != ':' || text[5] != ':') return false;
    for (size_t i : {0, 1, 3, 4, 6, 7}) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    return true;
}

TEST_F(Qrv3StartTest, NormalStartOpensTheLogWritesTheBannerAndMeasures) {
    const time_t started = time(nullptr);
    auto qrv3 = StartWaitingClient({"-verbosity", "6"});
    qrv3->Signal(SIGINT);
    EXPECT_EQ(qrv3->WaitExit(), 0);
    const time_t ended = time(nullptr);

    const std::string log = ReadFileText("QRVlog.txt");
    // "\r\n\r\n--- Opening Log file [December 8 17:50:33] \r\n\r\n" first.
    const std::string head = "\r\n\r\n--- Opening Log file [";
    ASSERT_EQ(log.compare(0, head.size(), head), 0) << log.substr(0, 200);
    const size_t close = log.find("] \r\n\r\n", head.size());
    ASSERT_NE(close, std::string::npos) << log.substr(0, 200);
    const std::string stamp = log.substr(head.size(), close - head.size());
    const size_t clock = stamp.rfind(' ');
    ASSERT_NE(clock, std::string::npos) << stamp;
    EXPECT_TRUE(IsClockReading(stamp.substr(clock + 1))) << stamp;
    const std::string date = stamp.substr(0, clock);
    EXPECT_TRUE(date == StampDate(started) || date == StampDate(ended)) << stamp;

    const std::string frame = "\r\n# Windows Console Edition " + std::string(53, '#') + "\r\n";
    EXPECT_EQ(log.find(frame), close + std::string("] \r\n\r\n").size());
    const size_t arguments = log.find("Arguments: -verbosity 6 \r\n\r\n");
    ASSERT_NE(arguments, std::string::npos);
    EXPECT_GT(arguments, log.find("email:"));

    const std::string result = "] The benchmark result is ";
    const size_t figure_at = log.find(result);
    ASSERT_NE(figure_at, std::string::npos);
    const size_t digits = figure_at + result.size();
    const size_t line_end = log.find("\r\n", digits);
    ASSERT_NE(line_end, std::string::npos);
    const std::string figure_text = log.substr(digits, line_end - digits);
    ASSERT_FALSE(figure_text.empty());
    ASSERT_EQ(figure_text.find_first_not_of("0123456789"), std::string::npos) << figure_text;
    const unsigned long figure = std::stoul(figure_text);
    EXPECT_GT(figure, 0u);
    EXPECT_EQ(figure % 4, 0u) << "the figure is sent multiplied by 4";
    const size_t creating = log.find("] Work directory not found. Creating...\r\n");
    const size_t benchmarking = log.find("] + Benchmarking ...\r\n");
    const size_t measured = log.find("The benchmark result");
    EXPECT_NE(creating, std::string::npos);
    EXPECT_LT(arguments, creating);
    EXPECT_LT(creating, benchmarking);
    EXPECT_LT(benchmarking, measured);
    // The work cycle begins only once the machine is measured.
    EXPECT_LT(measured, log.find("+ Attempting to get work packet"));

    struct stat st {};
    ASSERT_EQ(stat("work", &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));

    EXPECT_NE(log.find("] ***** Got a SIGTERM signal (2) from OS\r\n\r\nQuorvel Client Shutdown.\r\n"),
              std::string::npos);
    EXPECT_TRUE(qrvtest::EndsWith(log, "\r\n\r\nQuorvel Client Shutdown.\r\n"));
    // The console shows the same words with plain line ends.
    const std::string console = qrv3->output();
    EXPECT_NE(console.find("Arguments: -verbosity 6 \n\n"), std::string::npos);
    EXPECT_EQ(console.find('\r'), std::string::npos);
    EXPECT_TRUE(qrvtest::EndsWith(console, "\n\nQuorvel Client Shutdown.\n"));
}

TEST_F(Qrv3StartTest, FirstStartWithoutConsoleInputTakesTheDefaultsAndFetchesWork) {
    // Started by a service manager, or as "qrv3 </dev/null &", in an empty
    // folder: nobody answers the questions, so each keeps its value and the
    // client goes to work as "Anonymous" of team 0. The testbed's servers
    // answer here, for the user ID and the unit.
    RemoveSettings();
    const std::string servers = dir() + "/servers";
    ASSERT_EQ(mkdir(servers.c_str(), 0700), 0);
    qrvtest::Testbed testbed;
    ASSERT_TRUE(testbed.Start(servers)) << testbed.error();
    ChildProcess qrv3(qrvtest::BinPath("qrv3"), {}, Env());
    qrv3.CloseInput();
    ASSERT_TRUE(qrv3.WaitForOutput("+ Closed connections\n", 60000)) << qrv3.output();
    const std::string out = qrv3.output();
    EXPECT_NE(out.find("User name [Anonymous]? \nTeam Number[0]? \nAsk before fetching/sending work [no] "
                       "(yes/no)? \nUse Internet Explorer Settings [no] (yes/no)? \nUse proxy [no] (yes/no)? "
                       "\nChange advanced options [no] (yes/no)? \n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("- User name: Anonymous (Team 0)\n"), std::string::npos) << out;
    EXPECT_EQ(ReadFileText("client.cfg"),
              "[settings]\nusername=Anonymous\nteam=0\nasknet=no\nmachineid=1\n\n"
              "[http]\nactive=no\nhost=localhost\nport=8080\nusereg=no\n\n");
    EXPECT_EQ(testbed.Summary("user_ids"), 1);
    EXPECT_EQ(testbed.Summary("units_issued"), 1);
    qrv3.Signal(SIGINT);
    EXPECT_EQ(qrv3.WaitExit(), 0);
}

TEST_F(Qrv3StartTest, NoArgumentsNoArgumentLineAndQuietAtLevelThree) {
    auto qrv3 = StartWaitingClient({});
    EXPECT_NE(qrv3->output().find("+ Benchmarking ...\n"), std::string::npos) << qrv3->output();
    qrv3->Signal(SIGINT);
    EXPECT_EQ(qrv3->WaitExit(), 0);
    const std::string log = ReadFileText("QRVlog.txt");
    EXPECT_EQ(log.find("Arguments:"), std::string::npos);
    // Level 4 and 6 messages are not shown at the default level 3.
    EXPECT_EQ(log.find("The benchmark result"), std::string::npos);
    EXPECT_EQ(log.find("*****"), std::string::npos);
    EXPECT_EQ(CountOf(log, "\r\nQuorvel Client Shutdown.\r\n"), 1u);
}

TEST_F(Qrv3StartTest, SecondClientInTheSameDirectoryLogsIntoTheFallback) {
    auto first = StartWaitingClient({});
    // The second one only shows the queue and ends by itself, while the
    // first still holds QRVlog.txt.
    ChildProcess second(qrvtest::BinPath("qrv3"), {"-queueinfo"}, Env());
    EXPECT_EQ(second.WaitExit(), 0);
    EXPECT_TRUE(first->running());
    first->Signal(SIGINT);
    EXPECT_EQ(first->WaitExit(), 0);

    const std::string fallback = ReadFileText("QRVlog2.txt");
    EXPECT_EQ(fallback.find("] \r\nThe file QRVlog.txt has been locked by the operating system "
                            "and cannot be\r\n opened for writing"),
              9u);
    EXPECT_NE(fallback.find("] Before you next run Quorvel, please ensure QRVlog.txt is not open "
                            "anywhere,\r\n or simply delete it. For now, QRVlog2.txt will be used.\r\n"),
              std::string::npos);
    EXPECT_NE(fallback.find("CURRENT QUEUE: \r\n"), std::string::npos) << fallback;
    EXPECT_EQ(CountOf(fallback, "Quorvel Client Shutdown."), 1u);
    EXPECT_NE(second.output().find("For now, QRVlog2.txt will be used.\n"), std::string::npos);
    // The first client's log holds only its own run.
    const std::string log = ReadFileText("QRVlog.txt");
    EXPECT_EQ(CountOf(log, "--- Opening Log file"), 1u);
    EXPECT_EQ(CountOf(log, "CURRENT QUEUE"), 0u);
    EXPECT_EQ(CountOf(log, "Quorvel Client Shutdown."), 1u);
}

// A client killed during a core download leaves the download's part file,
// which nothing else would ever name again. A start that takes the folder
// removes exactly such names in the folder itself; showing the queue takes
// no lock and removes nothing.
TEST_F(Qrv3StartTest, StartRemovesPartFilesOfInterruptedCoreDownloadsAndNothingElse) {
    const std::vector<std::string> parts = {"Core_78.qrv.part-AbC123", "Core_ffffffff.qrv.part-000000",
                                            "Core_0.qrv.part-zZ9aB1"};
    const std::vector<std::string> kept = {
        "Core_78.qrv",                     // a bundle that failed verification
        "Core_78.qrv.part-AbC12",          // five characters of the system's
        "Core_78.qrv.part-AbC1234",        // seven
        "Core_78.qrv.part-AbC12.",         // not a letter or digit
        "Core_7g.qrv.part-AbC123",         // not hexadecimal
        "Core_7A.qrv.part-AbC123",         // the bundle name has lower case
        "Core_123456789.qrv.part-AbC123",  // more digits than 32 bits have
        "Core_.qrv.part-AbC123",
        "core_78.qrv.part-AbC123",
        "xCore_78.qrv.part-AbC123",
        "Core_78.exe.part-AbC123",
        "queue.dat.part-AbC123",
    };
    for (const auto& name : parts) qrvtest::WriteFileText(name, std::string(4096, 'p'));
    for (const auto& name : kept) qrvtest::WriteFileText(name, "kept");
    ASSERT_EQ(mkdir("Core_79.qrv.part-AbC123", 0700), 0);
    ASSERT_EQ(mkdir("work", 0700), 0);
    qrvtest::WriteFileText("work/Core_78.qrv.part-AbC123", "kept");

    ChildProcess info(qrvtest::BinPath("qrv3"), {"-queueinfo"}, Env());
    EXPECT_EQ(info.WaitExit(), 0) << info.output();
    for (const auto& name : parts) EXPECT_TRUE(qrvtest::FileExists(name)) << name;

    auto qrv3 = StartWaitingClient({"-verbosity", "6"});
    qrv3->Signal(SIGINT);
    EXPECT_EQ(qrv3->WaitExit(), 0);
    for (const auto& name : parts) EXPECT_FALSE(qrvtest::FileExists(name)) << name;
    for (const auto& name : kept) EXPECT_EQ(ReadFileText(name), "kept") << name;
    struct stat folder {};
    EXPECT_EQ(stat("Core_79.qrv.part-AbC123", &folder), 0);
    EXPECT_TRUE(S_ISDIR(folder.st_mode));
    EXPECT_EQ(ReadFileText("work/Core_78.qrv.part-AbC123"), "kept");
    EXPECT_EQ(CountOf(qrv3->output(), "] - Removed 3 part file(s) of interrupted core downloads\n"), 1u)
        << qrv3->output();
}

// The client's signal semaphores are named after its process ID, so another
// local user can make one of them first. Such a name is not taken over: the
// client names it and its owner in one line and ends as on any failed
// registration, with code 75, so that a service manager starts it again
// (under a new process ID). A stale name of its own user, with a release
// still pending, is replaced and delivers nothing.
TEST_F(Qrv3StartTest, ASignalSemaphoreOfAnotherUserIsNamedAndLeftAlone) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can give a semaphore to another user";
    // It waits at its first question until the names are in place.
    ChildProcess qrv3(qrvtest::BinPath("qrv3"), {"-config"}, Env());
    ASSERT_TRUE(qrv3.WaitForOutput("User name [Tester]? ")) << qrv3.output();
    char stale[64];
    char foreign[64];
    snprintf(stale, sizeof stale, "%016llX-SIGINT", static_cast<unsigned long long>(qrv3.pid()));
    snprintf(foreign, sizeof foreign, "%016llX-SIGTERM", static_cast<unsigned long long>(qrv3.pid()));
    // Removed however the test ends, so that a failure leaves nothing behind.
    struct RemoveAtEnd {
        const char* names[2];
        ~RemoveAtEnd() {
            for (const char* name : names) v3PlatformNamedSemaphoreRemove(name);
        }
    } remove_at_end{{stale, foreign}};
    v3PlatformNamedSemaphore* left = v3PlatformNamedSemaphoreCreate(stale);
    ASSERT_NE(left, nullptr);
    EXPECT_EQ(v3PlatformNamedSemaphoreRelease(left), 0);
    v3PlatformNamedSemaphoreClose(left);
    v3PlatformNamedSemaphore* theirs = v3PlatformNamedSemaphoreCreate(foreign);
    ASSERT_NE(theirs, nullptr);
    const std::string foreign_path = std::string("/dev/shm/sem.") + foreign;
    ASSERT_EQ(chown(foreign_path.c_str(), kNobody, kNobody), 0);

    qrv3.Write("\n\n\n\n\n\n");
    EXPECT_EQ(qrv3.WaitExit(20000), 75) << qrv3.output();
    const passwd* nobody = getpwuid(kNobody);
    const std::string owner = nobody != nullptr ? std::string(nobody->pw_name) + " (uid 65534)" : "uid 65534";
    const std::string line = "Signal semaphore " + foreign_path + " belongs to another user, " + owner + "\n";
    const std::string console = qrv3.output();
    EXPECT_EQ(CountOf(console, line), 1u) << console;
    EXPECT_EQ(CountOf(console, "] " + line), 1u) << console;
    EXPECT_NE(console.find("] Signal registration failed\n"), std::string::npos) << console;
    EXPECT_EQ(console.find("Attempting to get work packet"), std::string::npos) << console;
    EXPECT_TRUE(qrvtest::EndsWith(console, "\nQuorvel Client Shutdown.\n")) << console;
    EXPECT_NE(ReadFileText("QRVlog.txt").find("] " + line.substr(0, line.size() - 1) + "\r\n"),
              std::string::npos);

    // Its own name is gone with it; the other user's is still there, theirs.
    EXPECT_EQ(v3PlatformNamedSemaphoreOpen(stale), nullptr);
    struct stat st {};
    EXPECT_EQ(stat(foreign_path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kNobody);
    v3PlatformNamedSemaphoreClose(theirs);
}

// Each name in the working folder with its content ("<folder>", "<link>" or
// "<special>" for one that is no regular file), the registry store aside.
std::map<std::string, std::string> FolderContents(const std::vector<std::string>& names) {
    std::map<std::string, std::string> contents;
    for (const std::string& name : names) {
        struct stat st {};
        if (lstat(name.c_str(), &st) != 0) {
            contents[name] = "<gone>";
        } else if (S_ISDIR(st.st_mode)) {
            contents[name] = "<folder>";
        } else if (S_ISLNK(st.st_mode)) {
            contents[name] = "<link>";
        } else if (!S_ISREG(st.st_mode)) {
            contents[name] = "<special>";
        } else {
            contents[name] = ReadFileText(name);
        }
    }
    return contents;
}

// One client works in a folder at a time. While one holds it (here a client
// waiting at its first configuration question), a second start in any mode
// that would change the queue says so in one line naming the folder, ends
// with code 1 and changes nothing there; showing the queue only reads and
// still works. A holder killed outright leaves its lock file, but no lock.
TEST_F(Qrv3StartTest, ASecondClientLeavesAHeldFolderUntouched) {
    NamedFolderWithOneReadyUnit();
    if (HasFatalFailure()) return;

    ChildProcess holder(qrvtest::BinPath("qrv3"), {"-config"}, Env());
    ASSERT_TRUE(holder.WaitForOutput("User name [Tester]? ")) << holder.output();
    const auto held = FolderContents(DirectoryEntries());
    ASSERT_EQ(held.count("QRVlog.txt"), 1u);
    ASSERT_EQ(held.count("queue.dat"), 1u);
    const std::string refusal = "Another Quorvel client is already working in " + dir() + "; exiting.\n";
    // -config announces itself while the arguments are read.
    const std::string configuring = "Quorvel User Configuration\n\n";
    const struct {
        std::vector<std::string> args;
        std::string said;
    } starts[] = {
        {{}, refusal},
        {{"-delete", "0"}, refusal},
        {{"-send", "all"}, refusal},
        {{"-send", "0"}, refusal},
        {{"-config"}, configuring + refusal},
        {{"-queueinfo", "-config"}, configuring + refusal},
    };
    for (const auto& start : starts) {
        const std::vector<std::string>& args = start.args;
        const std::string what = args.empty() ? "no arguments" : args[0] + " " + args.back();
        ChildProcess second(qrvtest::BinPath("qrv3"), args, Env());
        EXPECT_EQ(second.WaitExit(20000), 1) << what << "\n" << second.output();
        EXPECT_EQ(second.output(), start.said) << what;
        EXPECT_EQ(DirectoryEntries().size(), held.size()) << what;
        EXPECT_TRUE(FolderContents(DirectoryEntries()) == held) << what;
    }

    ChildProcess info(qrvtest::BinPath("qrv3"), {"-queueinfo"}, Env());
    EXPECT_EQ(info.WaitExit(), 0);
    EXPECT_NE(info.output().find("00 *READY"), std::string::npos) << info.output();

    holder.Signal(SIGKILL);
    EXPECT_EQ(holder.WaitExit(), 128 + SIGKILL);
    EXPECT_TRUE(qrvtest::FileExists("queue.lock"));
    ChildProcess next(qrvtest::BinPath("qrv3"), {"-delete", "0"}, Env());
    EXPECT_EQ(next.WaitExit(), 0) << next.output();
    EXPECT_NE(next.output().find("Deleting work unit #0 from work queue...\n"), std::string::npos)
        << next.output();
    EXPECT_EQ(ReadFileText("queue.dat").substr(8, 4), std::string(4, '\0'));
}

// A lock file that is not the client's own would let two clients work in
// the folder at once: a link (here to a file that another program could
// lock or replace), a folder, a pipe, or a file the client cannot write.
// Each refuses every start that could change the folder with one line and
// code 1, touching nothing; showing the queue still works.
TEST_F(Qrv3StartTest, ALockFileThatIsNotTheClientsOwnRefusesTheStart) {
    NamedFolderWithOneReadyUnit();
    if (HasFatalFailure()) return;
    ASSERT_EQ(mkdir("elsewhere", 0700), 0);
    qrvtest::WriteFileText("elsewhere/lock", "");
    const struct {
        std::string what;
        std::function<int()> make;
        std::string problem;
    } cases[] = {
        {"a link", [] { return symlink("elsewhere/lock", "queue.lock"); }, "is a symbolic link"},
        {"a dangling link", [] { return symlink("elsewhere/none", "queue.lock"); }, "is a symbolic link"},
        {"a folder", [] { return mkdir("queue.lock", 0700); }, "is a folder"},
        {"a pipe", [] { return mkfifo("queue.lock", 0600); }, "is not a regular file"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(c.make(), 0) << c.what;
        const auto before = FolderContents(DirectoryEntries());
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"-delete", "0"}, std::vector<std::string>{}}) {
            ChildProcess refused(qrvtest::BinPath("qrv3"), args, Env());
            EXPECT_EQ(refused.WaitExit(20000), 1) << c.what << "\n" << refused.output();
            EXPECT_EQ(refused.output(), "The lock file " + dir() + "/queue.lock " + c.problem +
                                            "; remove it and start again.\n")
                << c.what;
            EXPECT_TRUE(FolderContents(DirectoryEntries()) == before) << c.what;
        }
        EXPECT_EQ(ReadFileText("elsewhere/lock"), "") << c.what;
        EXPECT_FALSE(qrvtest::FileExists("elsewhere/none")) << c.what;

        ChildProcess info(qrvtest::BinPath("qrv3"), {"-queueinfo"}, Env());
        EXPECT_EQ(info.WaitExit(), 0) << c.what;
        EXPECT_NE(info.output().find("00 *READY"), std::string::npos) << c.what << "\n" << info.output();
        ASSERT_EQ(c.what == "a folder" ? rmdir("queue.lock") : unlink("queue.lock"), 0);
    }

    // A file the client cannot open for writing: the client runs as nobody
    // in a folder of its own, where root's lock file stands read-only.
    if (geteuid() != 0) GTEST_SKIP() << "only root can start the client as another user";
    qrvtest::WriteFileText("queue.lock", "");
    ASSERT_EQ(chmod("queue.lock", 0444), 0);
    for (const std::string& name : DirectoryEntries()) ASSERT_TRUE(qrvtest::GiveToChecker(name)) << name;
    ASSERT_EQ(chown("queue.lock", 0, 0), 0);
    ASSERT_TRUE(qrvtest::GiveToChecker(dir()));
    ASSERT_TRUE(qrvtest::GiveToChecker(dir() + "/registry"));
    ChildProcess refused("/usr/bin/setpriv",
                         {"--reuid=65534", "--regid=65534", "--clear-groups", qrvtest::BinPath("qrv3"),
                          "-delete", "0"},
                         Env());
    EXPECT_EQ(refused.WaitExit(20000), 1) << refused.output();
    EXPECT_EQ(refused.output(), "The lock file " + dir() +
                                    "/queue.lock cannot be opened for writing; remove it and start again.\n");
}

}  // namespace
