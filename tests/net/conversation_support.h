// Shared by the tests of the server conversations: the testbed's servers in
// the test's private network namespace, the client's settings for talking
// to them, and readers of the testbed's journal and of the exact bytes each
// request carried (decoded here from their offsets, independently of the
// client's own record code).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/testbed.h"
#include "config/config_file.h"
#include "config/settings.h"
#include "conversation/work_fetch.h"
#include "net/assignment.h"
#include "net/direct_transport.h"
#include "net_test_support.h"
#include "support/sleep.h"

namespace qrvconv {

inline constexpr uint64_t kTestUserId = 0x1A2B3C4D5E6F7081ull;
inline constexpr uint32_t kWorkServer1 = 0x7F000002;  // ws1: 127.0.0.2
inline constexpr uint64_t kFirstTestbedId = 0x00A1B2C3D4E50001ull;

// One line of the testbed's text journal: "seq=3 server=ws1 kind=upload ...".
struct JournalEvent {
    std::map<std::string, std::string> fields;
    std::string operator[](const std::string& key) const {
        auto it = fields.find(key);
        return it == fields.end() ? std::string() : it->second;
    }
    long Number(const std::string& key) const { return std::strtol((*this)[key].c_str(), nullptr, 10); }
};

inline uint32_t BE32(const std::string& b, size_t at) {
    return (uint32_t(uint8_t(b[at])) << 24) | (uint32_t(uint8_t(b[at + 1])) << 16) |
           (uint32_t(uint8_t(b[at + 2])) << 8) | uint32_t(uint8_t(b[at + 3]));
}
inline uint64_t BE64(const std::string& b, size_t at) {
    return (uint64_t(BE32(b, at)) << 32) | BE32(b, at + 4);
}

class ConversationTest : public qrvnet::NetTest {
protected:
    void SetUp() override {
        qrvnet::NetTest::SetUp();
        ResetAssignmentState();
        v3SetSleepHook(nullptr);
        v3ConfigClear(ClientConfig());
        v3ConfigSet(ClientConfig(), "settings", "username", "Tester");
        v3ConfigSet(ClientConfig(), "settings", "team", "77");
        identity_.config = ClientConfig();
        identity_.user_id = kTestUserId;
        identity_.machine_id = 2;
        settings_.config = ClientConfig();
        ASSERT_TRUE(qrvtest::InPrivateNetwork()) << "ctest runs this test through netns-run";
        ASSERT_TRUE(testbed_.Start(dir(), TestbedConfig(), CoresDir())) << testbed_.error();
    }
    void TearDown() override {
        testbed_.Stop();
        v3SetSleepHook(nullptr);
        ResetAssignmentState();
        qrvnet::NetTest::TearDown();
    }

    // The testbed's start configuration and bundle folder; defaults unless
    // a test overrides them.
    virtual std::string TestbedConfig() const { return ""; }
    virtual std::string CoresDir() const { return ""; }

    bool Configure(const std::string& server, const std::string& json) {
        return testbed_.Configure(server, json);
    }

    // Every journal event, or those of one kind ("user_id", "upload", ...).
    std::vector<JournalEvent> Journal(const std::string& kind = "") {
        std::vector<JournalEvent> out;
        std::istringstream in(testbed_.Control("GET", "/journal.txt"));
        std::string line;
        while (std::getline(in, line)) {
            JournalEvent e;
            std::istringstream words(line);
            std::string word;
            while (words >> word) {
                const size_t eq = word.find('=');
                if (eq != std::string::npos) e.fields[word.substr(0, eq)] = word.substr(eq + 1);
            }
            if (kind.empty() || e["kind"] == kind) out.push_back(e);
        }
        return out;
    }

    // The body of request seq exactly as it arrived.
    std::string RequestBody(const JournalEvent& e) {
        const std::string raw = testbed_.Control("GET", "/raw/" + e["seq"]);
        const size_t head = raw.find("\r\n\r\n");
        return head == std::string::npos ? std::string() : raw.substr(head + 4);
    }

    qrvtest::Testbed testbed_;
    // The settings a result upload counts a finished unit in.
    Settings settings_;
};

inline size_t Count(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

// Records every wait of v3Sleep instead of sleeping.
inline std::vector<uint32_t>& RecordedWaits() {
    static std::vector<uint32_t> waits;
    return waits;
}
inline void RecordWait(uint32_t ms) { RecordedWaits().push_back(ms); }

// A work fetch as the client of the end-to-end fixtures' client.cfg (its
// user ID, machine 1, no name sent), over the built-in transport without a
// proxy: real units for that client to find in its queue.
inline int FetchAsFixtureClient(QueueEntry* entry, const char* work_file, WorkQueue* queue) {
    ClientIdentity identity;
    identity.user_id = 0x1A2B3C4D5E6F7081ull;
    identity.machine_id = 1;
    DirectTransport transport{ProxySettings{}};
    NetworkPermission permission;
    return FetchWork({identity, transport, permission}, entry, work_file, queue);
}

// SHA-256 of a file as lower-case hex, by the system's Python (the testbed
// reports its units by this digest).
inline std::string FileSha256(const std::string& path) {
    const std::string cmd = std::string(QRV_PYTHON) +
                            " -c \"import hashlib,sys;print(hashlib.sha256(open(sys.argv[1],'rb')"
                            ".read()).hexdigest())\" '" + path + "'";
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[128];
        while (fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

}  // namespace qrvconv
