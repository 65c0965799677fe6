// The real qrv3 against the testbed's servers, with the scriptable test
// core installed as the core of the testbed's units: the set-up of the
// end-to-end fault tests, and the accounting that says whether a unit was
// lost (every unit the server issued is accepted, still in the queue, or
// was thrown away by the client with its own message).
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "client/qrv3_process.h"
#include "client/qrv3_test_support.h"
#include "common/testbed.h"
#include "net/conversation_support.h"
#include "queue/work_queue.h"

namespace qrvfault {

// One line of /units.txt: server=ws1 index=0 status=issued delivery=sent ...
using UnitLine = qrvconv::JournalEvent;

class ClientRunTest : public qrvtest::Qrv3Test {
protected:
    void SetUp() override {
        Qrv3Test::SetUp();
        ASSERT_TRUE(qrvtest::InPrivateNetwork()) << "ctest runs this test through testbed/netns-run";
        script_ = dir() + "/core.script";
        server_dir_ = dir() + "/server";
        ASSERT_EQ(mkdir(server_dir_.c_str(), 0700), 0);
    }
    void TearDown() override {
        client_.reset();
        testbed_.Stop();
        Qrv3Test::TearDown();
    }

    // The servers, with small units; the client's working directory is the
    // test's (or `client_dir` when a test gives it its own disk).
    void StartServers(const std::string& config =
                          R"({"servers": {"ws1": {"units": {"source": "random", "size": 256}}}})") {
        ASSERT_TRUE(testbed_.Start(server_dir_, config)) << testbed_.error();
    }

    // Installs the test core as the core of the testbed's units (type 0x78)
    // in folder, with its script.
    void InstallCore(const std::string& folder, const std::string& script) {
        const std::string link = folder + "/QrvCore_78.exe";
        unlink(link.c_str());
        ASSERT_EQ(symlink(qrvtest::BinPath("test_core").c_str(), link.c_str()), 0);
        qrvtest::WriteFileText(script_, script);
    }

    std::vector<std::string> ClientEnv() const {
        std::vector<std::string> env = Env();
        env.push_back("QRV_TEST_CORE_SCRIPT=" + script_);
        return env;
    }

    // Starts qrv3 in the current directory; its console input is closed.
    qrvtest::ChildProcess& StartClient(const std::vector<std::string>& args = {}) {
        client_ = std::make_unique<qrvtest::ChildProcess>(qrvtest::BinPath("qrv3"), args, ClientEnv());
        client_->CloseInput();
        return *client_;
    }

    // Ctrl-C, and the client's end: 0 and its shutdown line, in bounded time.
    void StopClient(qrvtest::ChildProcess& client, int limit_ms = 10000) {
        const auto asked = std::chrono::steady_clock::now();
        client.Signal(SIGINT);
        EXPECT_EQ(client.WaitExit(limit_ms), 0) << client.output();
        EXPECT_TRUE(qrvtest::EndsWith(client.output(), "\nQuorvel Client Shutdown.\n")) << client.output();
        EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(limit_ms));
    }

    std::string CoreJournal() const {
        const std::string path = script_ + ".journal";
        return qrvtest::FileExists(path) ? qrvtest::ReadFileText(path) : "";
    }

    // Polls (reading the client's output meanwhile) until cond holds.
    template <typename Cond>
    bool WaitFor(qrvtest::ChildProcess& client, Cond cond, int timeout_ms = 30000) {
        auto last = std::chrono::steady_clock::now() - std::chrono::seconds(1);
        return client.WaitUntil(
            [&] {
                if (std::chrono::steady_clock::now() - last < std::chrono::milliseconds(50)) return false;
                last = std::chrono::steady_clock::now();
                return cond();
            },
            timeout_ms);
    }
    bool WaitForSummary(qrvtest::ChildProcess& client, const std::string& key, long n,
                        int timeout_ms = 30000) {
        return WaitFor(client, [&] { return testbed_.Summary(key) >= n; }, timeout_ms);
    }
    bool WaitForJournal(qrvtest::ChildProcess& client, const std::string& text, int timeout_ms = 30000) {
        return WaitFor(client, [&] { return CoreJournal().find(text) != std::string::npos; }, timeout_ms);
    }

    // Every unit the servers issued.
    std::vector<UnitLine> Units() {
        std::vector<UnitLine> out;
        std::istringstream in(testbed_.Control("GET", "/units.txt"));
        std::string line;
        while (std::getline(in, line)) {
            UnitLine u;
            std::istringstream words(line);
            std::string word;
            while (words >> word) {
                const size_t eq = word.find('=');
                if (eq != std::string::npos) u.fields[word.substr(0, eq)] = word.substr(eq + 1);
            }
            if (!u.fields.empty()) out.push_back(u);
        }
        return out;
    }

    // The units queue.dat in folder holds (READY or DONE slots whose data is
    // there), by the digest of their data, with their status. A slot whose
    // data is gone holds no unit: either its unit was accepted and a save
    // that would have emptied the slot failed, or the unit is lost, which
    // ExpectNoUnitLost tells by the servers' list.
    std::map<std::string, uint32_t> QueuedUnits(const std::string& folder = ".") {
        std::map<std::string, uint32_t> out;
        const std::string here = folder + "/";
        char old_dir[4096];
        if (getcwd(old_dir, sizeof old_dir) == nullptr || chdir(folder.c_str()) != 0) {
            ADD_FAILURE() << "cannot enter " << folder;
            return out;
        }
        std::unique_ptr<WorkQueue> q = LoadQueueCopy();
        EXPECT_NE(q, nullptr) << "queue.dat does not load";
        for (uint32_t i = 0; q != nullptr && i < kQueueSlots; ++i) {
            const uint32_t s = q->entries[i].status;
            if (s == kSlotEmpty || s == kSlotFetching) continue;
            char data[32];
            char results[32];
            snprintf(data, sizeof data, "work/wudata_%02u.dat", i);
            snprintf(results, sizeof results, "work/wuresults_%02u.dat", i);
            if (!qrvtest::FileExists(data)) continue;
            if (s == kSlotDone) {
                EXPECT_TRUE(qrvtest::FileExists(results)) << "slot " << i << " is DONE without results";
            }
            out[qrvconv::FileSha256(here + data)] = s;
        }
        EXPECT_EQ(chdir(old_dir), 0);
        return out;
    }

    // Every issued unit is accepted by the server or held by the queue in
    // folder, but for `dropped` units that the client threw away itself,
    // each with its message. The server credits an upload of random units
    // to the oldest unit outstanding (their results do not name them), so
    // units are counted, not named, on the accepted side.
    void ExpectNoUnitLost(const std::string& folder = ".", size_t dropped = 0) {
        const std::map<std::string, uint32_t> queued = QueuedUnits(folder);
        const std::vector<UnitLine> units = Units();
        EXPECT_FALSE(units.empty());
        size_t unaccounted = 0;
        for (const UnitLine& u : units) {
            if (u["status"] != "accepted" && queued.count(u["sha256"]) == 0) ++unaccounted;
        }
        EXPECT_EQ(unaccounted, dropped) << "units neither accepted nor queued; the servers' list:\n"
                                        << testbed_.Control("GET", "/units.txt");
    }

    std::string script_;
    std::string server_dir_;
    qrvtest::Testbed testbed_;
    std::unique_ptr<qrvtest::ChildProcess> client_;
};

}  // namespace qrvfault
