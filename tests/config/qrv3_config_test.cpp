// The configuration as the real program runs it at start-up.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "client/qrv3_process.h"
#include "common/temp_dir.h"

namespace {

using qrvtest::ChildProcess;
using qrvtest::ReadFileText;
using qrvtest::WriteFileText;

const char kQuestions[] =
    "User name [Anonymous]? Team Number[0]? Ask before fetching/sending work [no] (yes/no)? "
    "Use Internet Explorer Settings [no] (yes/no)? Use proxy [no] (yes/no)? "
    "Change advanced options [no] (yes/no)? ";
const char kSixEnters[] = "\n\n\n\n\n\n";
const char kStopLine[] = "Configuration needs answers on the console, but console input has ended";

class Qrv3ConfigTest : public qrvtest::TempDirTest {
protected:
    void SetUp() override {
        qrvtest::TempDirTest::SetUp();
        registry_ = dir() + "/registry";
        mkdir(registry_.c_str(), 0700);
        mkdir("run", 0700);
        ASSERT_EQ(chdir("run"), 0);
    }
    void StoreUserID() {
        WriteFileText(registry_ + "/HKLM.txt", "[Software\\Tarnwick\\Quorvel]\nUserID=bin:2a00000000000000\n\n");
    }
    std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& args = {}) {
        return std::make_unique<ChildProcess>(qrvtest::BinPath("qrv3"), args,
                                              std::vector<std::string>{"QRV_REGISTRY_DIR=" + registry_});
    }
    std::string registry_;
};

TEST_F(Qrv3ConfigTest, EmptyDirectoryGetsDefaultsAndEnterKeepsThem) {
    StoreUserID();
    auto qrv3 = Start();
    qrv3->Write(kSixEnters);
    ASSERT_TRUE(qrv3->WaitForOutput("- Machine ID: 1\n")) << qrv3->output();
    const std::string out = qrv3->output();
    EXPECT_NE(out.find(std::string("Configuring Quorvel...\n\n") + kQuestions), std::string::npos) << out;
    EXPECT_NE(out.find("- User ID = 2A\n"), std::string::npos) << out;
    EXPECT_EQ(ReadFileText("client.cfg"),
              "[settings]\nusername=Anonymous\nteam=0\nasknet=no\nmachineid=1\n\n"
              "[http]\nactive=no\nhost=localhost\nport=8080\nusereg=no\n\n");
}

TEST_F(Qrv3ConfigTest, EndOfInputAtAQuestionWithoutAValueToKeepEndsWithAnError) {
    StoreUserID();
    // A value too long for an answer is shown cut and never kept by Enter:
    // with nobody to answer, the question would be asked for ever.
    const std::string settings = "[settings]\nusername=bob\nteam=3\nasknet=" + std::string(70, 'n') +
                                 "\nmachineid=2\n\n[http]\nactive=no\nhost=localhost\nport=8080\nusereg=no\n\n";
    WriteFileText("client.cfg", settings);
    auto qrv3 = Start({"-local", "-config"});
    qrv3->CloseInput();
    EXPECT_EQ(qrv3->WaitExit(), 255);
    const std::string out = qrv3->output();
    EXPECT_NE(out.find("Team Number[3]? \nAsk before fetching/sending work [nnnnn] (yes/no)? \n"), std::string::npos)
        << out;
    EXPECT_TRUE(qrvtest::EndsWith(out, std::string(kStopLine) + "; run qrv3 -config with a console to configure.\n"))
        << out;
    EXPECT_EQ(qrvtest::CountOf(out, "Ask before fetching"), 1u) << out;
    EXPECT_EQ(ReadFileText("client.cfg"), settings) << "the group's answers were not half saved";
}

TEST_F(Qrv3ConfigTest, SettingsThatCannotBeSavedEndTheQuestionsAfterOneRound) {
    StoreUserID();
    // client.cfg is a folder, and the name it would be set aside under is
    // taken: no settings file can be read or written. Asking again would
    // only lose the answers again, for as long as someone answers.
    ASSERT_EQ(mkdir("client.cfg", 0700), 0);
    ASSERT_EQ(mkdir("client.cfg.bad", 0700), 0);
    WriteFileText("client.cfg.bad/kept", "earlier settings");
    auto qrv3 = Start({"-local", "-verbosity", "4"});
    qrv3->Write(kSixEnters);
    qrv3->Write(kSixEnters);  // a second round's answers, never asked for
    EXPECT_EQ(qrv3->WaitExit(), 255);
    const std::string out = qrv3->output();
    EXPECT_NE(out.find("Configuring Quorvel...\n\nUser name [Anonymous]? Team Number[0]? "), std::string::npos)
        << out;
    EXPECT_EQ(qrvtest::CountOf(out, "Configuring Quorvel..."), 1u) << out;
    // The volunteer is told that the answers could not be kept.
    EXPECT_NE(out.find("- Warning: Could not save client.cfg"), std::string::npos) << out;
    EXPECT_TRUE(qrvtest::EndsWith(out, "The configuration could not be saved in client.cfg; run qrv3 -config "
                                       "once it can be written.\n"))
        << out;
    EXPECT_EQ(out.find("- Machine ID"), std::string::npos) << out;
    EXPECT_EQ(out.find("Benchmarking"), std::string::npos) << out;
    // Nothing that was there is lost.
    EXPECT_EQ(ReadFileText("client.cfg.bad/kept"), "earlier settings");
}

TEST_F(Qrv3ConfigTest, BadProxySettingsAskTheQuestionsAgain) {
    StoreUserID();
    WriteFileText("client.cfg", "[settings]\nusername=bob\nteam=3\n\n[http]\nusereg=no\nactive=yes\n\n");
    auto qrv3 = Start({"-local"});
    // The defaults written after the failed load turned the proxy off and
    // put localhost in; the volunteer turns it on again with an address.
    qrv3->Write("\n\n\n\ny\n127.0.0.9\n3128\nn\n\n");
    ASSERT_TRUE(qrv3->WaitForOutput("- Machine ID: 1\n")) << qrv3->output();
    const std::string out = qrv3->output();
    EXPECT_NE(out.find("Bad proxy settings. Use qrv3 -config to reconfigure\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Proxy Name [localhost]? "), std::string::npos) << out;
    EXPECT_NE(out.find("- Proxy: 127.0.0.9:3128\n"), std::string::npos) << out;
}

TEST_F(Qrv3ConfigTest, ConfigOptionAsksEvenWhenSettingsLoad) {
    StoreUserID();
    WriteFileText("client.cfg",
                  "[settings]\nusername=bob\nteam=3\nasknet=no\nmachineid=2\n\n"
                  "[http]\nactive=no\nhost=localhost\nport=8080\nusereg=no\n\n");
    auto qrv3 = Start({"-local", "-config"});
    qrv3->Write("alice\n\n\n\n\n\n");
    ASSERT_TRUE(qrv3->WaitForOutput("- User name: alice (Team 3)\n")) << qrv3->output();
    EXPECT_NE(qrv3->output().find("Quorvel User Configuration\n\n"), std::string::npos);
    EXPECT_NE(ReadFileText("client.cfg").find("username=alice\nteam=3\n"), std::string::npos);
}

}  // namespace
