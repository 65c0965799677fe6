#include "config/config_file.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "common/temp_dir.h"
#include "support/atomic_file.h"

namespace {

using qrvtest::ReadFileText;
using qrvtest::WriteFileText;

class ConfigFileTest : public qrvtest::TempDirTest {
protected:
    void TearDown() override {
        v3ConfigDestroy(&config_);
        v3FileSetReplaceFaultHook(nullptr);
        qrvtest::TempDirTest::TearDown();
    }
    // Saves to a scratch file and gives its text.
    std::string Saved() {
        EXPECT_EQ(v3ConfigSave(&config_, "saved.cfg"), 0);
        return ReadFileText("saved.cfg");
    }
    v3Config config_{};
};

const char kClientText[] =
    "[settings]\nusername=Anonymous\nteam=0\nasknet=no\n\n"
    "[http]\nactive=no\nhost=localhost\nport=8080\nusereg=no\n\n";

TEST_F(ConfigFileTest, FileWrittenByTheClientReadsBackUnchanged) {
    const std::string text = std::string(kClientText) + "[odd]\na=b=c\nempty=\n=novalue\n\n";
    WriteFileText("client.cfg", text);
    ASSERT_EQ(v3ConfigLoad(&config_, "client.cfg"), 0);
    EXPECT_STREQ(v3ConfigGet(&config_, "odd", "a"), "b=c");
    EXPECT_STREQ(v3ConfigGet(&config_, "odd", "empty"), "");
    EXPECT_STREQ(v3ConfigGet(&config_, "odd", ""), "novalue");
    EXPECT_EQ(Saved(), text);
}

TEST_F(ConfigFileTest, BuildsTheDefaultLayoutFromNothing) {
    v3ConfigSet(&config_, "settings", "username", "Anonymous");
    v3ConfigSet(&config_, "settings", "team", "0");
    v3ConfigSet(&config_, "settings", "asknet", "no");
    v3ConfigSet(&config_, "http", "active", "no");
    v3ConfigSet(&config_, "http", "host", "localhost");
    v3ConfigSet(&config_, "http", "port", "8080");
    v3ConfigSet(&config_, "http", "usereg", "no");
    EXPECT_EQ(Saved(), kClientText);
}

TEST_F(ConfigFileTest, TextWithoutSectionsAndMissingFiles) {
    WriteFileText("plain.cfg", "username=x\nno sections here\n");
    ASSERT_EQ(v3ConfigLoad(&config_, "plain.cfg"), 0);
    EXPECT_EQ(v3ConfigGet(&config_, "settings", "username"), nullptr);
    EXPECT_EQ(Saved(), "");

    // A failed load leaves what the object held.
    v3ConfigSet(&config_, "s", "k", "kept");
    EXPECT_EQ(v3ConfigLoad(&config_, "missing.cfg"), -2);
    EXPECT_STREQ(v3ConfigGet(&config_, "s", "k"), "kept");

    // Without a path only an empty object is reset.
    EXPECT_EQ(v3ConfigLoad(&config_, nullptr), -1);
    EXPECT_STREQ(v3ConfigGet(&config_, "s", "k"), "kept");
    v3ConfigClear(&config_);
    EXPECT_EQ(v3ConfigLoad(&config_, nullptr), 0);
}

TEST_F(ConfigFileTest, LoadReplacesEverythingThatWasThere) {
    v3ConfigSet(&config_, "old", "k", "v");
    WriteFileText("client.cfg", kClientText);
    ASSERT_EQ(v3ConfigLoad(&config_, "client.cfg"), 0);
    EXPECT_EQ(v3ConfigGet(&config_, "old", "k"), nullptr);
    EXPECT_EQ(Saved(), kClientText);
}

TEST_F(ConfigFileTest, AddingDeletingAndRevivingKeepTheOrder) {
    WriteFileText("client.cfg", kClientText);
    ASSERT_EQ(v3ConfigLoad(&config_, "client.cfg"), 0);
    ASSERT_EQ(v3ConfigSet(&config_, "core", "priority", "96"), 0);
    ASSERT_EQ(v3ConfigSet(&config_, "settings", "machineid", "1"), 0);
    EXPECT_EQ(Saved(),
              "[settings]\nusername=Anonymous\nteam=0\nasknet=no\nmachineid=1\n\n"
              "[http]\nactive=no\nhost=localhost\nport=8080\nusereg=no\n\n"
              "[core]\npriority=96\n\n");

    // The last live entry gone, the section is not written.
    ASSERT_EQ(v3ConfigSet(&config_, "core", "priority", nullptr), 0);
    EXPECT_EQ(v3ConfigGet(&config_, "core", "priority"), nullptr);
    EXPECT_EQ(Saved().find("[core]"), std::string::npos);

    // A deleted entry comes back where it stood, not at the end.
    ASSERT_EQ(v3ConfigSet(&config_, "settings", "team", nullptr), 0);
    ASSERT_EQ(v3ConfigSet(&config_, "settings", "team", "7"), 0);
    EXPECT_EQ(Saved().rfind("[settings]\nusername=Anonymous\nteam=7\nasknet=no\nmachineid=1\n\n", 0), 0u);

    // Deleting what never existed adds nothing.
    ASSERT_EQ(v3ConfigSet(&config_, "ghost", "k", nullptr), 0);
    EXPECT_EQ(Saved().find("ghost"), std::string::npos);
}

TEST_F(ConfigFileTest, ChangedValuesStayInPlaceAndOtherValuesDoNotMove) {
    WriteFileText("client.cfg", kClientText);
    ASSERT_EQ(v3ConfigLoad(&config_, "client.cfg"), 0);
    const char* host = v3ConfigGet(&config_, "http", "host");
    ASSERT_STREQ(host, "localhost");
    ASSERT_EQ(v3ConfigSet(&config_, "settings", "username", "a much longer name than before"), 0);
    ASSERT_EQ(v3ConfigSet(&config_, "http", "port", "1"), 0);
    for (int i = 0; i < 200; ++i) {
        v3ConfigSet(&config_, "http", ("extra" + std::to_string(i)).c_str(), "x");
    }
    // A pointer handed out for an untouched entry survives every change.
    EXPECT_STREQ(host, "localhost");
    EXPECT_STREQ(v3ConfigGet(&config_, "settings", "username"), "a much longer name than before");
    const std::string saved = Saved();
    EXPECT_EQ(saved.substr(0, 53), "[settings]\nusername=a much longer name than before\nte");
    EXPECT_NE(saved.find("host=localhost\nport=1\nusereg=no\nextra0=x\n"), std::string::npos);
}

TEST_F(ConfigFileTest, NamesAndKeysMatchExactly) {
    WriteFileText("client.cfg", "[settings]\nusername=bob\n\n");
    ASSERT_EQ(v3ConfigLoad(&config_, "client.cfg"), 0);
    EXPECT_EQ(v3ConfigGet(&config_, "settings", "user"), nullptr);
    EXPECT_EQ(v3ConfigGet(&config_, "set", "username"), nullptr);
    EXPECT_EQ(v3ConfigGet(&config_, "settings", "usernames"), nullptr);
    ASSERT_EQ(v3ConfigSet(&config_, "set", "user", "x"), 0);
    EXPECT_STREQ(v3ConfigGet(&config_, "settings", "username"), "bob");
    EXPECT_EQ(Saved(), "[settings]\nusername=bob\n\n[set]\nuser=x\n\n");
    EXPECT_EQ(v3ConfigHasSection(&config_, "set"), 1);
    EXPECT_EQ(v3ConfigHasSection(&config_, "se"), 0);
}

TEST_F(ConfigFileTest, HandEditedFilesAreReadWhole) {
    WriteFileText("client.cfg",
                  "junk before\r\n[settings]\r\n\r\nusername=bob\r\nthis line has no equals\r\n"
                  "team=5\r\n[http]\r\nhost=proxy\n[settings]\nlate=1");
    ASSERT_EQ(v3ConfigLoad(&config_, "client.cfg"), 0);
    EXPECT_STREQ(v3ConfigGet(&config_, "settings", "username"), "bob");
    EXPECT_STREQ(v3ConfigGet(&config_, "settings", "team"), "5");
    EXPECT_STREQ(v3ConfigGet(&config_, "http", "host"), "proxy");
    // A second section of the same name is still searched, and kept.
    EXPECT_STREQ(v3ConfigGet(&config_, "settings", "late"), "1");
    EXPECT_EQ(Saved(),
              "[settings]\nusername=bob\nteam=5\n\n[http]\nhost=proxy\n\n[settings]\nlate=1\n\n");
}

TEST_F(ConfigFileTest, RefusesTextsTheFileCannotCarry) {
    v3ConfigSet(&config_, "s", "k", "v");
    EXPECT_EQ(v3ConfigSet(&config_, "s", "k", "two\nlines"), -1);
    EXPECT_EQ(v3ConfigSet(&config_, "s", "k", "ends with cr\r"), -1);
    EXPECT_EQ(v3ConfigSet(&config_, "s", "a=b", "v"), -1);
    EXPECT_EQ(v3ConfigSet(&config_, "s", "[x]", "v"), -1);
    EXPECT_EQ(v3ConfigSet(&config_, "s]", "k", "v"), -1);
    EXPECT_EQ(v3ConfigSet(&config_, "s", nullptr, "v"), -1);
    EXPECT_EQ(v3ConfigSet(&config_, nullptr, "k", "v"), -1);
    EXPECT_EQ(v3ConfigSet(nullptr, "s", "k", "v"), -1);
    EXPECT_EQ(Saved(), "[s]\nk=v\n\n");
}

TEST_F(ConfigFileTest, CopyRefusesWhatDoesNotFit) {
    v3ConfigSet(&config_, "s", "k", "0123456789");
    char out[11] = "garbage";
    EXPECT_EQ(v3ConfigGetCopy(&config_, "s", "k", out, sizeof out), 0);
    EXPECT_STREQ(out, "0123456789");
    EXPECT_EQ(v3ConfigGetCopy(&config_, "s", "k", out, 10), -1);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(v3ConfigGetCopy(&config_, "s", "missing", out, sizeof out), -2);
}

bool FailRename(ReplaceStep step) { return step == ReplaceStep::kRename; }
bool FailWrite(ReplaceStep step) { return step == ReplaceStep::kWrite; }

TEST_F(ConfigFileTest, FailedSaveIsReportedAndKeepsTheOldFile) {
    WriteFileText("client.cfg", kClientText);
    ASSERT_EQ(v3ConfigLoad(&config_, "client.cfg"), 0);
    v3ConfigSet(&config_, "settings", "username", "changed");
    for (ReplaceFaultHook hook : {FailWrite, FailRename}) {
        v3FileSetReplaceFaultHook(hook);
        EXPECT_LT(v3ConfigSave(&config_, "client.cfg"), 0);
        EXPECT_EQ(ReadFileText("client.cfg"), kClientText);
    }
    v3FileSetReplaceFaultHook(nullptr);
    EXPECT_EQ(v3ConfigSave(&config_, "no/such/folder/client.cfg"), -2);
    EXPECT_EQ(v3ConfigSave(&config_, "client.cfg"), 0);
    EXPECT_NE(ReadFileText("client.cfg").find("username=changed\n"), std::string::npos);
}

// Two threads changing and saving the one object, as the main cycle and the
// result-return thread do: every save is whole and the last one wins.
TEST_F(ConfigFileTest, ConcurrentChangesAndSavesStayWhole) {
    auto work = [this](const char* key) {
        for (int i = 1; i <= 40; ++i) {
            v3ConfigSet(&config_, "settings", key, std::to_string(i).c_str());
            EXPECT_EQ(v3ConfigSave(&config_, "client.cfg"), 0);
        }
    };
    std::thread a(work, "local");
    std::thread b(work, "other");
    a.join();
    b.join();
    v3Config reread{};
    ASSERT_EQ(v3ConfigLoad(&reread, "client.cfg"), 0);
    EXPECT_STREQ(v3ConfigGet(&reread, "settings", "local"), "40");
    EXPECT_STREQ(v3ConfigGet(&reread, "settings", "other"), "40");
    v3ConfigDestroy(&reread);
}

}  // namespace
