// End-to-end: the real qrv3 against the testbed's servers. From an empty
// directory to a returned unit; the send modes; and a client killed at
// random moments that still loses no unit.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "client/qrv3_process.h"
#include "client/qrv3_test_support.h"
#include "common/testbed.h"
#include "core/bundle_maker.h"
#include "net/conversation_support.h"
#include "conversation/work_fetch.h"
#include "queue/work_queue.h"
#include "support/time_value.h"

namespace {

using qrvtest::ChildProcess;
using qrvtest::FileExists;
using qrvtest::ReadFileText;

// Lines of a "key=value key=value" listing (/units.txt, /journal.txt).
std::vector<qrvconv::JournalEvent> Lines(const std::string& text) {
    std::vector<qrvconv::JournalEvent> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        qrvconv::JournalEvent e;
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            const size_t eq = word.find('=');
            if (eq != std::string::npos) e.fields[word.substr(0, eq)] = word.substr(eq + 1);
        }
        out.push_back(e);
    }
    return out;
}

class ConversationE2ETest : public qrvtest::Qrv3Test {
protected:
    void SetUp() override {
        Qrv3Test::SetUp();
        ASSERT_TRUE(qrvtest::InPrivateNetwork()) << "ctest runs this test through netns-run";
        if (!qrvtest::DemoKeyEmbedded()) GTEST_SKIP() << "the build embeds a deployment key";
        bundles_ = dir() + "/bundles";
        mkdir(bundles_.c_str(), 0700);
    }

    void PackCore(const std::string& program) {
        ASSERT_EQ(qrvtest::PackBundle(qrvtest::BinPath(program), bundles_ + "/Core_78.qrv"), 0);
    }
    void StartTestbed(const std::string& config = "") {
        ASSERT_TRUE(testbed_.Start(dir(), config, bundles_)) << testbed_.error();
    }
    std::vector<qrvconv::JournalEvent> Journal(const std::string& kind) {
        std::vector<qrvconv::JournalEvent> out;
        for (auto& e : Lines(testbed_.Control("GET", "/journal.txt"))) {
            if (e["kind"] == kind) out.push_back(e);
        }
        return out;
    }
    // Polls the testbed (every 100 ms, reading the client's output
    // meanwhile) until the summary value key reaches at least n.
    bool WaitForSummary(ChildProcess& client, const std::string& key, long n, int timeout_ms) {
        auto last = std::chrono::steady_clock::now() - std::chrono::seconds(1);
        return client.WaitUntil(
            [&] {
                if (std::chrono::steady_clock::now() - last < std::chrono::milliseconds(100)) return false;
                last = std::chrono::steady_clock::now();
                return testbed_.Summary(key) >= n;
            },
            timeout_ms);
    }

    std::string bundles_;
    qrvtest::Testbed testbed_;
};

TEST_F(ConversationE2ETest, FromAnEmptyDirectoryToAReturnedUnit) {
    PackCore("test_core");
    // The primary assignment server is down throughout: the secondary gives
    // the ID and the work server, and the work server is reached on port 80.
    StartTestbed(R"({"servers": {"primary": {"down": true}}})");
    RemoveSettings();
    ASSERT_EQ(mkdir("client", 0700), 0);
    ASSERT_EQ(chdir("client"), 0);

    // The first unit is finished at once; the core works on the second until
    // it is stopped, so the stop below always finds that unit in the queue
    // however quickly the client turns from one unit to the next.
    const std::string script = dir() + "/core.script";
    qrvtest::WriteFileText(script,
                  "run 1\nprogress 0 100\nlog Test core working on the unit\nprogress 100 100\n"
                  "result test core result\nlog Finished\nexit 100\n"
                  "run 2+\nprogress 0 100\nlog Test core working on the unit\nsleep_ms 60000\nexit 100\n"
                  "cleanup\nremove_files\nexit 101\n");
    std::vector<std::string> env = Env();
    env.push_back("QRV_TEST_CORE_SCRIPT=" + script);
    ChildProcess qrv3(qrvtest::BinPath("qrv3"), {"-local"}, env);
    qrv3.Write("Tester\n7\n\n\n\n\n");
    // The second unit is issued, and stored: the core works on it.
    const bool second = WaitForSummary(qrv3, "units_issued", 2, 60000) &&
                        qrv3.WaitUntil([&] { return qrvtest::CountOf(qrv3.output(), "+ Working ...") >= 2; },
                                       20000);
    qrv3.Signal(SIGINT);
    EXPECT_EQ(qrv3.WaitExit(), 0);
    const std::string out = qrv3.output();
    ASSERT_TRUE(second) << out;

    EXPECT_NE(out.find("+ Could not connect to Primary Assignment Server for ID\n"), std::string::npos)
        << out;
    EXPECT_EQ(out.find("Could not get ID from server"), std::string::npos) << out;
    const std::string registry = (FileExists(dir() + "/registry/HKLM.txt") ? ReadFileText(dir() + "/registry/HKLM.txt") : "") +
                                 (FileExists(dir() + "/registry/HKCU.txt") ? ReadFileText(dir() + "/registry/HKCU.txt") : "");
    EXPECT_NE(registry.find("UserID=bin:"), std::string::npos) << "the new ID was stored";
    EXPECT_NE(out.find("+ Downloading new core: QrvCore_78.exe\n"), std::string::npos) << out;
    EXPECT_NE(out.find("+ Core successfully engaged\n"), std::string::npos) << out;
    EXPECT_TRUE(FileExists("QrvCore_78.exe"));
    EXPECT_FALSE(FileExists("Core_78.qrv"));
    EXPECT_NE(out.find("+ Results successfully sent\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Thank you for your contribution to Quorvel.\n"), std::string::npos) << out;
    EXPECT_NE(ReadFileText("client.cfg").find("local=1\n"), std::string::npos) << ReadFileText("client.cfg");

    EXPECT_EQ(testbed_.Summary("units_accepted"), 1);
    EXPECT_EQ(testbed_.Summary("problems"), 0) << testbed_.Control("GET", "/journal");
    const std::string journal = testbed_.Control("GET", "/journal");
    EXPECT_NE(journal.find("\"127.0.0.2:80\""), std::string::npos) << "work server reached on port 80";
    EXPECT_EQ(journal.find("\"127.0.0.2:8080\""), std::string::npos);

    // The queue holds the second unit, nothing else.
    std::unique_ptr<WorkQueue> q = LoadQueueCopy();
    ASSERT_NE(q, nullptr);
    int units = 0;
    for (const QueueEntry& e : q->entries) {
        if (e.status == kSlotEmpty) continue;
        ++units;
        EXPECT_TRUE(e.status == kSlotReady || e.status == kSlotDone) << e.status;
        EXPECT_EQ(e.server_port(), 80u);
    }
    EXPECT_EQ(units, 1) << out;
}

TEST_F(ConversationE2ETest, SendModesReturnResultsAndEnd) {
    StartTestbed();
    // Three real units from ws1 for this client, finished, in slots 1, 3, 5.
    mkdir("work", 0700);
    std::unique_ptr<WorkQueue> queue = NewWorkQueue();
    ASSERT_NE(queue, nullptr);
    for (uint32_t slot : {1u, 3u, 5u}) {
        char data[32];
        char results[32];
        snprintf(data, sizeof data, "work/wudata_%02u.dat", slot);
        snprintf(results, sizeof results, "work/wuresults_%02u.dat", slot);
        QueueEntry& e = queue->entries[slot];
        ASSERT_EQ(qrvconv::FetchAsFixtureClient(&e, data, queue.get()), 0);
        e.status = kSlotDone;
        e.core_finished = 1;
        v3TimeNow(&e.completed);
        qrvtest::WriteFileText(results, "results of slot " + std::to_string(slot) + "\n");
    }
    ASSERT_EQ(SaveQueue(queue.get()), 0);

    auto status = [](uint32_t slot) {
        std::unique_ptr<WorkQueue> q = LoadQueueCopy();
        const uint32_t s = q != nullptr ? q->entries[slot].status : 99;
        return s;
    };
    {
        ChildProcess send(qrvtest::BinPath("qrv3"), {"-send", "3"}, Env());
        EXPECT_EQ(send.WaitExit(), 0);
        EXPECT_NE(send.output().find("Attempting to return result(s) to server...\n"), std::string::npos);
        EXPECT_NE(send.output().find("+ Results successfully sent\n"), std::string::npos) << send.output();
    }
    EXPECT_EQ(status(3), kSlotEmpty);
    EXPECT_EQ(status(1), kSlotDone);
    EXPECT_EQ(status(5), kSlotDone);
    EXPECT_FALSE(FileExists("work/wuresults_03.dat"));
    EXPECT_EQ(testbed_.Summary("units_accepted"), 1);
    {
        ChildProcess send(qrvtest::BinPath("qrv3"), {"-send", "all"}, Env());
        EXPECT_EQ(send.WaitExit(), 0);
        EXPECT_EQ(send.output().find("- Failed"), std::string::npos) << send.output();
    }
    EXPECT_EQ(status(1), kSlotEmpty);
    EXPECT_EQ(status(5), kSlotEmpty);
    EXPECT_EQ(testbed_.Summary("units_accepted"), 3);
    EXPECT_EQ(testbed_.Summary("uploads"), 3);
    EXPECT_NE(ReadFileText("client.cfg").find("local=3\n"), std::string::npos) << ReadFileText("client.cfg");
}

// The demo core on small units (every result is checked by the server, and
// names its unit), servers that take a moment to answer so that kills land
// inside fetches and uploads too.
std::string KillTestConfig() {
    return std::string(R"({"servers": {
        "primary": {"delay_ms": 60},
        "ws1": {"delay_ms": 250, "units": {"source": "plugin", "path": ")") +
           QRV_SOURCE_DIR + R"(/testbed/server/qrvtb/md_units.py", "class": "MdUnits",
                 "args": {"cells": 3, "cutoff": 2.0, "steps": 2000, "checkpoint_every": 200,
                          "sample_every": 100, "probe_steps": 5}}}}})";
}

// The units the queue holds now, by the digest of their data. Every unit
// the queue holds has its data, and a finished one its results.
std::set<std::string> QueuedUnits(const char* when) {
    std::set<std::string> out;
    std::unique_ptr<WorkQueue> q = LoadQueueCopy();
    EXPECT_NE(q, nullptr) << "queue.dat does not load " << when;
    if (q == nullptr) return out;
    for (uint32_t i = 0; i < kQueueSlots; ++i) {
        const uint32_t s = q->entries[i].status;
        // A slot claimed for a fetch that never finished holds no unit.
        if (s == kSlotEmpty || s == kSlotFetching) continue;
        char data[32];
        char results[32];
        snprintf(data, sizeof data, "work/wudata_%02u.dat", i);
        snprintf(results, sizeof results, "work/wuresults_%02u.dat", i);
        EXPECT_TRUE(FileExists(data)) << "slot " << i << " (status " << s << ") lost its data " << when;
        if (s == kSlotDone) {
            EXPECT_TRUE(FileExists(results)) << "slot " << i << " is DONE without results " << when;
        }
        if (FileExists(data)) out.insert(qrvconv::FileSha256(data));
    }
    return out;
}

TEST_F(ConversationE2ETest, KilledAtRandomMomentsLosesNoUnit) {
    PackCore("md_core");
    StartTestbed(KillTestConfig());
    // The core is in place from the start (its download is shown above).
    ASSERT_EQ(symlink(qrvtest::BinPath("md_core").c_str(), "QrvCore_78.exe"), 0);
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);

    std::set<std::string> ever_queued;  // units the client had stored at some point
    std::set<long> in_flight;           // the last unit issued before each end of the client
    long ends = 0;
    auto after_end = [&](const std::string& when) {
        ++ends;
        const long issued = testbed_.Summary("units_issued");
        if (issued > 0) in_flight.insert(issued - 1);
        for (const std::string& unit : QueuedUnits(when.c_str())) ever_queued.insert(unit);
    };
    for (int run = 0; run < 4; ++run) {
        ChildProcess qrv3(qrvtest::BinPath("qrv3"), {}, Env());
        // Kill right as a work request or an upload reaches the server (its
        // answer is still on the way), or at a random time.
        const int how = run == 3 ? 1 : run;
        if (how == 2) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300 + rng() % 4000));
        } else {
            const std::string key = how == 0 ? "work_requests" : "uploads";
            const long now = testbed_.Summary(key);
            WaitForSummary(qrv3, key, now + 1, 15000);
            std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 300));
        }
        qrv3.Signal(SIGKILL);
        qrv3.WaitExit();
        after_end("after kill " + std::to_string(run));
    }
    // A last run that ends normally after one more unit was accepted.
    {
        ChildProcess qrv3(qrvtest::BinPath("qrv3"), {}, Env());
        const long accepted = testbed_.Summary("units_accepted");
        EXPECT_TRUE(WaitForSummary(qrv3, "units_accepted", accepted + 1, 30000)) << qrv3.output();
        qrv3.Signal(SIGINT);
        EXPECT_EQ(qrv3.WaitExit(), 0);
        after_end("at the end");
    }

    // Every issued unit was accepted, or is still in the queue, or was on
    // its way when the client ended and never reached the queue. A unit the
    // queue once held leaves it only with the server's acknowledgement.
    const std::set<std::string> queued = QueuedUnits("at the end");
    const auto units = Lines(testbed_.Control("GET", "/units.txt"));
    ASSERT_GE(units.size(), 2u);
    for (const auto& u : units) {
        EXPECT_NE(u["status"], "refused") << "unit " << u["index"] << " verdicts " << u["verdicts"];
        if (u["status"] == "accepted" || queued.count(u["sha256"]) > 0) continue;
        EXPECT_EQ(ever_queued.count(u["sha256"]), 0u)
            << "unit " << u["index"] << " left the queue without being accepted";
        EXPECT_GT(in_flight.count(u.Number("index")), 0u) << "unit " << u["index"] << " was lost";
    }
    // A unit is sent again only when the client ended before the server's
    // acknowledgement reached it; the server then says it has the unit.
    long duplicates = 0;
    for (const auto& e : Journal("upload")) {
        if (e["verdict"] == "434") ++duplicates;
    }
    EXPECT_LE(duplicates, ends);
}

}  // namespace
