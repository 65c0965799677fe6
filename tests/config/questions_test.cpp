#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "config/client_type.h"
#include "config/interactive_config.h"
#include "config/questions.h"
#include "config_fixture.h"

namespace {

using qrvtest::ReadFileText;
using qrvtest::StdinFeed;
using qrvtest::StdoutCapture;
using qrvtest::WriteFileText;

const char kDefaults[] =
    "[settings]\nusername=Anonymous\nteam=0\nasknet=no\n\n"
    "[http]\nactive=no\nhost=localhost\nport=8080\nusereg=no\n\n";

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::string Check(const char* current, const std::string& typed, const char* const* choices) {
    char answer[kAnswerSize] = {};
    typed.copy(answer, kAnswerSize - 1);
    return CheckAnswer(current, answer, choices) ? answer : "(again)";
}

TEST(CheckAnswerTest, AcceptsLettersAndWholeWordsOnly) {
    for (const char* yes : {"y", "Y", "yes", "YES", "Yesss"}) EXPECT_EQ(Check(nullptr, yes, kYesNo), "yes") << yes;
    for (const char* no : {"n", "N", "no", "NO", "nope"}) EXPECT_EQ(Check("yes", no, kYesNo), "no") << no;
    for (const char* refused : {"ye", "x", "", "maybe", "yo"}) EXPECT_EQ(Check(nullptr, refused, kYesNo), "(again)");
    // Enter keeps the current value as it stands.
    EXPECT_EQ(Check("Yes", "", kYesNo), "Yes");
    EXPECT_EQ(Check(std::string(70, 'x').c_str(), "", kYesNo), "(again)");

    static const char* const kTypes[] = {"no-pref", "qrv", "tmx", nullptr};
    EXPECT_EQ(Check(nullptr, "t", kTypes), "tmx");
    EXPECT_EQ(Check(nullptr, "Q", kTypes), "qrv");
    EXPECT_EQ(Check(nullptr, "n", kTypes), "no-pref");
    EXPECT_EQ(Check(nullptr, "no", kTypes), "(again)");
    EXPECT_EQ(Check(nullptr, "No-Preference", kTypes), "no-pref");
}

TEST(ClientTypeTest, KeywordsBothWays) {
    EXPECT_EQ(ClientTypeFromKeyword("tmx"), 2u);
    EXPECT_EQ(ClientTypeFromKeyword("qrv"), 1u);
    EXPECT_EQ(ClientTypeFromKeyword("no-pref"), 0u);
    EXPECT_EQ(ClientTypeFromKeyword("tmxx"), 0u);
    EXPECT_EQ(ClientTypeFromKeyword("TMX"), 0u);
    EXPECT_EQ(ClientTypeFromKeyword(nullptr), 0u);
    EXPECT_STREQ(ClientTypeKeyword(1), "qrv");
    EXPECT_STREQ(ClientTypeKeyword(2), "tmx");
    EXPECT_STREQ(ClientTypeKeyword(0), "no-pref");
    EXPECT_STREQ(ClientTypeKeyword(3), "no-pref");
}

class QuestionsTest : public qrvtest::ConfigTest {
protected:
    // Starts from text as client.cfg, loaded.
    void Start(const std::string& text) {
        WriteFileText("client.cfg", text);
        ASSERT_EQ(v3ConfigLoad(ClientConfig(), "client.cfg"), 0);
    }
    // Runs one group with typed on standard input; gives its result and
    // leaves the questions it printed in asked_.
    int Answer(int (*group)(), const std::string& typed) {
        StdinFeed feed(typed);
        StdoutCapture capture;
        const int rc = group();
        asked_ = capture.Take();
        return rc;
    }
    std::string Config() { return ReadFileText("client.cfg"); }
    std::string asked_;
};

TEST_F(QuestionsTest, EnterEverywhereKeepsTheDefaults) {
    Start(kDefaults);
    ASSERT_EQ(Answer(AskUserQuestions, "\n\n"), 0);
    EXPECT_EQ(asked_, "User name [Anonymous]? Team Number[0]? ");
    ASSERT_EQ(Answer(AskNetworkQuestions, "\n\n\n"), 0);
    EXPECT_EQ(asked_,
              "Ask before fetching/sending work [no] (yes/no)? Use Internet Explorer Settings [no] (yes/no)? "
              "Use proxy [no] (yes/no)? ");
    ASSERT_EQ(Answer(AskAdvancedQuestions, "\n"), 0);
    EXPECT_EQ(asked_, "Change advanced options [no] (yes/no)? ");
    EXPECT_EQ(Config(), kDefaults);
}

TEST_F(QuestionsTest, TextAnswersReplaceAndAreCutAtSixtyThree) {
    Start(kDefaults);
    ASSERT_EQ(Answer(AskUserQuestions, std::string(80, 'v') + "\nnot a number\n"), 0);
    EXPECT_NE(Config().find("username=" + std::string(63, 'v') + "\nteam=not a number\n"), std::string::npos);

    Start("");
    ASSERT_EQ(Answer(AskUserQuestions, "ann\n7"), 0);  // the last line may lack its line feed
    EXPECT_EQ(asked_, "User Name? Team Number? ");
    EXPECT_EQ(Config(), "[settings]\nusername=ann\nteam=7\n\n");
}

TEST_F(QuestionsTest, EveryFormOfYesStoresYes) {
    for (const char* typed : {"y", "Y", "yes", "YES", "Yesss"}) {
        Start(kDefaults);
        ASSERT_EQ(Answer(AskNetworkQuestions, std::string(typed) + "\n\n\n"), 0) << typed;
        EXPECT_NE(Config().find("asknet=yes\n"), std::string::npos) << typed;
    }
    // A refused answer asks the same question again, with nothing else said.
    Start(kDefaults);
    ASSERT_EQ(Answer(AskNetworkQuestions, "ye\ny\n\n\n"), 0);
    EXPECT_EQ(asked_.rfind("Ask before fetching/sending work [no] (yes/no)? "
                           "Ask before fetching/sending work [no] (yes/no)? Use Internet",
                           0),
              0u);
    EXPECT_NE(Config().find("asknet=yes\n"), std::string::npos);
}

TEST_F(QuestionsTest, ProxyQuestions) {
    Start(kDefaults);
    ASSERT_EQ(Answer(AskNetworkQuestions, "n\nn\ny\n10.0.0.1\n3128\ny\nme\npw\n"), 0);
    EXPECT_EQ(asked_,
              "Ask before fetching/sending work [no] (yes/no)? Use Internet Explorer Settings [no] (yes/no)? "
              "Use proxy [no] (yes/no)? Proxy Name [localhost]? Proxy Port [8080]? "
              "Use username & password with proxy (yes/no)? Proxy Username? Proxy Password? ");
    EXPECT_EQ(Config(),
              "[settings]\nusername=Anonymous\nteam=0\nasknet=no\n\n"
              "[http]\nactive=yes\nhost=10.0.0.1\nport=3128\nusereg=no\nusepasswd=yes\nproxy_name=me\n"
              "proxy_passwd=pw\n\n");

    // No user name typed and none before: no password question, and an
    // empty password is stored.
    Start(kDefaults);
    ASSERT_EQ(Answer(AskNetworkQuestions, "n\nn\ny\n\n\ny\n\n"), 0);
    EXPECT_EQ(asked_.find("Proxy Password? "), std::string::npos);
    EXPECT_NE(Config().find("usepasswd=yes\nproxy_passwd=\n"), std::string::npos);

    // An empty password is stored too when a name exists.
    Start("[http]\nactive=no\nhost=h\nport=1\nusereg=no\nproxy_name=old\n\n");
    ASSERT_EQ(Answer(AskNetworkQuestions, "n\nn\ny\n\n\ny\n\n\n"), 0);
    EXPECT_NE(asked_.find("Proxy Username [old]? Proxy Password? "), std::string::npos);
    EXPECT_NE(Config().find("proxy_name=old\nusepasswd=yes\nproxy_passwd=\n"), std::string::npos);
}

TEST_F(QuestionsTest, NoToProxyOrSystemSettingsStopsTheNetworkQuestions) {
    Start(std::string(kDefaults) + "[http]\nactive=yes\nhost=p.example\nport=1\n\n");
    ASSERT_EQ(Answer(AskNetworkQuestions, "\n\nno\n"), 0);
    EXPECT_NE(Config().find("host=p.example\nport=1\n"), std::string::npos);
    EXPECT_NE(Config().find("active=no\n"), std::string::npos);

    Start(kDefaults);
    ASSERT_EQ(Answer(AskNetworkQuestions, "\nyes\n"), 0);
    EXPECT_EQ(asked_.find("Use proxy"), std::string::npos);
    EXPECT_NE(Config().find("usereg=yes\n"), std::string::npos);
}

TEST_F(QuestionsTest, AdvancedAnswers) {
    Start(kDefaults);
    ASSERT_EQ(Answer(AskAdvancedQuestions, "y\nt\nlow\n4\ny\nn\n5\n"), 0);
    EXPECT_EQ(asked_,
              "Change advanced options [no] (yes/no)? Core Type [no-pref] (no-pref/qrv/tmx)? "
              "Core Priority [idle] (idle/low)? CPU usage requested (5-100)? "
              "Disable highly optimized assembly code [no] (no/yes)? "
              "Ignore deadline information (mainly useful if\n system clock frequently has errors)? [no] "
              "(no/yes)? Machine ID (1-4) [1]? ");
    std::string text = Config();
    EXPECT_NE(text.find("[clienttype]\ntype=2\n"), std::string::npos);
    EXPECT_NE(text.find("[core]\npriority=96\ncpuusage=100\ndisableassembly=yes\nignoredeadlines=no\n"),
              std::string::npos);
    EXPECT_NE(text.find("machineid=1\n"), std::string::npos);
    // The first answer goes nowhere else.
    EXPECT_EQ(text.find("usepasswd"), std::string::npos);

    // Enter keeps what there is; numbers in range are taken.
    Start(std::string(kDefaults) + "[clienttype]\ntype=1\n\n[core]\npriority=96\ncpuusage=20\n\n");
    ASSERT_EQ(Answer(AskAdvancedQuestions, "yes\n\n\n50\n\n\n3\n"), 0);
    EXPECT_NE(asked_.find("Client Type [qrv] (no-pref/qrv/tmx)? Core Priority [low] (idle/low)? "
                          "CPU usage requested [20]? "),
              std::string::npos);
    text = Config();
    EXPECT_NE(text.find("[clienttype]\ntype=1\n"), std::string::npos);
    EXPECT_NE(text.find("priority=96\ncpuusage=50\ndisableassembly=no\nignoredeadlines=no\n"), std::string::npos);
    EXPECT_NE(text.find("machineid=3\n"), std::string::npos);

    Start(kDefaults);
    ASSERT_EQ(Answer(AskAdvancedQuestions, "y\nq\ni\n101\n\n\n9\n"), 0);
    text = Config();
    EXPECT_NE(text.find("type=1\n"), std::string::npos);
    EXPECT_NE(text.find("priority=0\ncpuusage=100\n"), std::string::npos);
    EXPECT_NE(text.find("machineid=1\n"), std::string::npos);
}

TEST_F(QuestionsTest, NoAdvancedChangesWriteNothing) {
    Start(kDefaults);
    std::remove("client.cfg");
    ASSERT_EQ(Answer(AskAdvancedQuestions, "no\n"), 0);
    EXPECT_FALSE(qrvtest::FileExists("client.cfg"));
}

TEST_F(QuestionsTest, EndOfInputKeepsEveryValueAndStopsOnlyWhereNoneIsKept) {
    // At the end of input each answer is empty, as Enter would give: what
    // was typed counts, the rest is kept, and the group is saved.
    Start(kDefaults);
    EXPECT_EQ(Answer(AskUserQuestions, "bob\n"), 0);
    EXPECT_EQ(asked_, "User name [Anonymous]? Team Number[0]? \n");
    EXPECT_EQ(Config(),
              "[settings]\nusername=bob\nteam=0\nasknet=no\n\n"
              "[http]\nactive=no\nhost=localhost\nport=8080\nusereg=no\n\n");

    // A choice with no current value refuses Enter; at the end of input it
    // stops instead of asking for ever, and saves nothing.
    Start("");
    EXPECT_EQ(Answer(AskNetworkQuestions, "\n\n\n"), kAnswersEnded);
    EXPECT_EQ(Count(asked_, "Ask before fetching/sending work (yes/no)? "), 4u);
    EXPECT_EQ(Config(), "");

    Start(kDefaults);
    EXPECT_EQ(Answer(AskNetworkQuestions, ""), 0);
    EXPECT_EQ(Config(), kDefaults);

    // Every advanced question has a value Enter keeps.
    Start(kDefaults);
    EXPECT_EQ(Answer(AskAdvancedQuestions, "y\nt\n"), 0);
    EXPECT_EQ(Config(), std::string(kDefaults) + "[clienttype]\ntype=2\n\n"
                                                 "[core]\npriority=0\ndisableassembly=no\nignoredeadlines=no\n\n");

    // A proxy password is never lost because nobody was there to type it.
    Start("[http]\nusereg=no\nactive=yes\nhost=h\nport=1\nusepasswd=yes\nproxy_name=u\nproxy_passwd=secret\n\n"
          "[settings]\nasknet=no\n\n");
    EXPECT_EQ(Answer(AskNetworkQuestions, "\n\n\n\n\n\n"), 0);
    EXPECT_NE(asked_.find("Proxy Password? \n"), std::string::npos) << asked_;
    EXPECT_NE(Config().find("proxy_name=u\nproxy_passwd=secret\n"), std::string::npos) << Config();
}

TEST_F(QuestionsTest, AnswersThatCannotBeSavedAreReported) {
    Start(kDefaults);
    ASSERT_EQ(std::remove("client.cfg"), 0);
    ASSERT_EQ(mkdir("client.cfg", 0700), 0);
    EXPECT_EQ(Answer(AskUserQuestions, "bob\n7\n"), kAnswersNotSaved);
    EXPECT_EQ(Answer(AskNetworkQuestions, "\n\n\n"), kAnswersNotSaved);
    EXPECT_EQ(Answer(AskAdvancedQuestions, "\n"), 0) << "no advanced answers, nothing to save";
}

}  // namespace
