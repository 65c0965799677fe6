// The settings loader when no user ID is stored and no assignment server can
// be reached. ctest runs this file inside a private network namespace, where
// nothing listens on the servers' ports; the loader's waits between tries are
// recorded instead of taken.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/testbed.h"
#include "config/settings.h"
#include "config_fixture.h"
#include "net/assignment.h"
#include "net/client_identity.h"
#include "net/server_access.h"
#include "net/transport.h"
#include "support/sleep.h"

namespace {

using qrvtest::ReadFileText;
using qrvtest::StdoutCapture;
using qrvtest::WriteFileText;

const char kDefaults[] =
    "[settings]\nusername=Anonymous\nteam=0\nasknet=no\n\n"
    "[http]\nactive=no\nhost=localhost\nport=8080\nusereg=no\n\n";

std::vector<uint32_t> g_waits;
void RecordWait(uint32_t ms) { g_waits.push_back(ms); }

size_t Count(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

class SettingsTest : public qrvtest::ConfigTest {
protected:
    void SetUp() override {
        ConfigTest::SetUp();
        ASSERT_TRUE(qrvtest::InPrivateNetwork()) << "ctest runs this test through netns-run";
        g_waits.clear();
        v3SetSleepHook(RecordWait);
    }
    void TearDown() override {
        v3SetSleepHook(nullptr);
        ConfigTest::TearDown();
    }
    int Load(std::string* messages) {
        StdoutCapture capture;
        // The assignment servers, over the transport the settings choose.
        const int rc = LoadSettings(settings_, edition_, "qrv3", [](Settings& settings, char* text, uint64_t size) {
            ClientIdentity identity;
            identity.config = settings.config;
            const std::unique_ptr<Transport> transport = MakeTransport(settings);
            return ObtainUserID({identity, *transport, settings.permission}, text, size);
        });
        *messages = capture.Take();
        return rc;
    }
};

TEST_F(SettingsTest, NoUserIDAnywhereIsFatal) {
    SetLogVerbosity(4);
    WriteFileText("client.cfg", kDefaults);
    std::string messages;
    EXPECT_EQ(Load(&messages), -1);
    EXPECT_NE(messages.find("- User ID not found locally\n"), std::string::npos) << messages;
    EXPECT_NE(messages.find("+ Requesting User ID from server\n"), std::string::npos) << messages;
    // The first try and ten retries, each at both servers, with growing waits.
    EXPECT_EQ(Count(messages, "+ Could not get ID from server. Retrying...\n"), 10u) << messages;
    EXPECT_EQ(Count(messages, "+ Could not connect to Primary Assignment Server for ID\n"), 11u);
    EXPECT_EQ(Count(messages, "+ Could not connect to Secondary Assignment Server for ID\n"), 11u);
    ASSERT_EQ(g_waits.size(), 10u);
    for (size_t k = 0; k < g_waits.size(); ++k) {
        const uint32_t base = 5000u << k;
        EXPECT_GE(g_waits[k], base) << k;
        EXPECT_LT(g_waits[k], base + 15000u) << k;
    }
    const size_t fatal = messages.find("- Fatal: Could not get new user ID\n");
    ASSERT_NE(fatal, std::string::npos) << messages;
    EXPECT_GT(fatal, messages.rfind("Retrying..."));
    EXPECT_EQ(messages.find("- Machine ID"), std::string::npos) << "the load stops at the ID";
    // Nothing was stored as an ID.
    EXPECT_EQ(settings_.user_id, 0u);
    EXPECT_EQ(ReadFileText("client.cfg"), kDefaults);
    for (const std::string& root : {MachineRegistry(), UserRegistry()}) {
        if (!qrvtest::FileExists(root)) continue;
        EXPECT_EQ(ReadFileText(root).find("UserID"), std::string::npos) << root;
    }

    // A stored 0 is no ID either: the servers are asked again.
    StoreRegistryUserID("0000000000000000");
    g_waits.clear();
    EXPECT_EQ(Load(&messages), -1);
    EXPECT_NE(messages.find("- User ID not found locally\n"), std::string::npos) << messages;
    EXPECT_NE(messages.find("- Fatal: Could not get new user ID\n"), std::string::npos) << messages;
    EXPECT_EQ(g_waits.size(), 10u);
}

}  // namespace
