// The real program started without any stored user ID, against the
// testbed's assignment servers (ctest runs this file inside a private
// network namespace): the ID comes from the server once and is kept.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "client/qrv3_process.h"
#include "common/temp_dir.h"
#include "common/testbed.h"

namespace {

using qrvtest::ChildProcess;
using qrvtest::CountOf;
using qrvtest::FileExists;
using qrvtest::ReadFileText;

const char kSixEnters[] = "\n\n\n\n\n\n";

class Qrv3ConfigTest : public qrvtest::TempDirTest {
protected:
    void SetUp() override {
        qrvtest::TempDirTest::SetUp();
        ASSERT_TRUE(qrvtest::InPrivateNetwork()) << "ctest runs this test through netns-run";
        // An ID whose bytes all differ, so that a byte-order slip shows.
        ASSERT_TRUE(testbed_.Start(dir(), R"({"first_user_id": 81985529216486895})")) << testbed_.error();
        registry_ = dir() + "/registry";
        ASSERT_EQ(mkdir(registry_.c_str(), 0700), 0);
        ASSERT_EQ(mkdir("run", 0700), 0);
        ASSERT_EQ(chdir("run"), 0);
    }
    std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& args) {
        return std::make_unique<ChildProcess>(qrvtest::BinPath("qrv3"), args,
                                              std::vector<std::string>{"QRV_REGISTRY_DIR=" + registry_});
    }
    std::string Registry() const {
        std::string text;
        for (const char* root : {"/HKLM.txt", "/HKCU.txt"}) {
            if (FileExists(registry_ + root)) text += ReadFileText(registry_ + root);
        }
        return text;
    }
    size_t IdRequests() { return CountOf(testbed_.Control("GET", "/journal.txt"), "kind=user_id"); }

    qrvtest::Testbed testbed_;
    std::string registry_;
};

TEST_F(Qrv3ConfigTest, WithoutAUserIDTheServerGivesOneAndItIsKept) {
    {
        auto qrv3 = Start({"-local", "-verbosity", "4"});
        qrv3->Write(kSixEnters);
        ASSERT_TRUE(qrv3->WaitForOutput("- Machine ID: 1\n")) << qrv3->output();
        qrv3->Signal(SIGINT);
        EXPECT_EQ(qrv3->WaitExit(), 0);
        const std::string out = qrv3->output();
        EXPECT_EQ(CountOf(out, "Configuring Quorvel..."), 1u) << out;
        const size_t asked = out.find("- User ID not found locally\n");
        ASSERT_NE(asked, std::string::npos) << out;
        EXPECT_NE(out.find("+ Requesting User ID from server\n", asked), std::string::npos) << out;
        EXPECT_NE(out.find("- Received User ID = 123456789ABCDEF\n", asked), std::string::npos) << out;
        EXPECT_EQ(out.find("Could not get ID from server"), std::string::npos) << out;
        EXPECT_EQ(out.find("Fatal"), std::string::npos) << out;
    }
    EXPECT_EQ(IdRequests(), 1u);
    // Kept in the registry store, least significant byte first, not in
    // client.cfg.
    EXPECT_NE(Registry().find("[Software\\Tarnwick\\Quorvel]\nUserID=bin:efcdab8967452301\n"),
              std::string::npos)
        << Registry();
    EXPECT_EQ(ReadFileText("client.cfg").find("userid"), std::string::npos);

    // The next start reads it and asks no server for another.
    auto again = Start({"-local", "-queueinfo"});
    EXPECT_EQ(again->WaitExit(), 0);
    EXPECT_NE(again->output().find("- User ID = 123456789ABCDEF\n"), std::string::npos) << again->output();
    EXPECT_EQ(again->output().find("Requesting User ID"), std::string::npos);
    EXPECT_EQ(IdRequests(), 1u);
}

TEST_F(Qrv3ConfigTest, WithoutAWritableRegistryTheNewIDIsKeptInClientCfg) {
    // A file where the registry store's folder belongs: no root can be
    // written.
    ASSERT_EQ(rmdir(registry_.c_str()), 0);
    qrvtest::WriteFileText(registry_, "not a folder");
    auto qrv3 = Start({"-local", "-verbosity", "4"});
    qrv3->Write(kSixEnters);
    ASSERT_TRUE(qrv3->WaitForOutput("- Machine ID: 1\n")) << qrv3->output();
    qrv3->Signal(SIGINT);
    EXPECT_EQ(qrv3->WaitExit(), 0);
    EXPECT_NE(qrv3->output().find("- Received User ID = 123456789ABCDEF\n"), std::string::npos)
        << qrv3->output();
    EXPECT_NE(ReadFileText("client.cfg").find("userid=123456789ABCDEF\n"), std::string::npos)
        << ReadFileText("client.cfg");
    EXPECT_EQ(ReadFileText(registry_), "not a folder");

    auto again = Start({"-local", "-queueinfo"});
    EXPECT_EQ(again->WaitExit(), 0);
    EXPECT_NE(again->output().find("- User ID = 123456789ABCDEF\n"), std::string::npos) << again->output();
    EXPECT_EQ(IdRequests(), 1u);
}

// Two clients of one machine (service instances) share the registry store
// and start at the same moment, each in its own folder with its own machine
// ID and no console. The assignment server takes its time over the ID, so
// both ask before either could have stored one: each would get its own ID,
// and the volunteer's work would be split between two users, unless the
// second waits for the first and reads what it stored.
TEST_F(Qrv3ConfigTest, ClientsStartingTogetherShareOneUserIDEachWithItsMachineID) {
    ASSERT_TRUE(testbed_.Configure("primary", R"({"delay_ms": 1500})"));
    std::vector<std::unique_ptr<ChildProcess>> clients;
    for (const std::string id : {"1", "2"}) {
        ASSERT_EQ(mkdir(id.c_str(), 0700), 0);
        ASSERT_EQ(chdir(id.c_str()), 0);
        clients.push_back(std::make_unique<ChildProcess>(
            qrvtest::BinPath("qrv3"), std::vector<std::string>{"-local", "-verbosity", "4"},
            std::vector<std::string>{"QRV_REGISTRY_DIR=" + registry_, "QRV_MACHINE_ID=" + id}));
        clients.back()->CloseInput();  // every first-start question keeps its default
        ASSERT_EQ(chdir(".."), 0);
    }
    std::string both;
    for (size_t k = 0; k < clients.size(); ++k) {
        ChildProcess& qrv3 = *clients[k];
        ASSERT_TRUE(qrv3.WaitForOutput("- Machine ID: " + std::to_string(k + 1) + "\n")) << qrv3.output();
        qrv3.Signal(SIGINT);
        EXPECT_EQ(qrv3.WaitExit(), 0);
        both += qrv3.output();
        const std::string cfg = ReadFileText(std::to_string(k + 1) + "/client.cfg");
        EXPECT_NE(cfg.find("machineid=" + std::to_string(k + 1) + "\n"), std::string::npos) << cfg;
    }
    EXPECT_EQ(IdRequests(), 1u) << both;
    // One obtained the ID and stored it; the other read it.
    EXPECT_EQ(CountOf(both, "- Received User ID = 123456789ABCDEF\n"), 1u) << both;
    EXPECT_EQ(CountOf(both, "- User ID = 123456789ABCDEF\n"), 1u) << both;
    EXPECT_EQ(CountOf(Registry(), "UserID=bin:efcdab8967452301\n"), 1u) << Registry();
}

}  // namespace
