// Inputs the fuzzing of client.cfg found, kept as ordinary tests.
#include <gtest/gtest.h>

#include <string>

#include "common/temp_dir.h"
#include "config/config_file.h"

namespace {

using qrvtest::ReadFileText;
using qrvtest::WriteFileText;

class ConfigFileRegressionTest : public qrvtest::TempDirTest {
protected:
    void TearDown() override {
        v3ConfigDestroy(&first_);
        v3ConfigDestroy(&second_);
        qrvtest::TempDirTest::TearDown();
    }
    v3Config first_{};
    v3Config second_{};
};

// A line ending in two carriage returns before its line feed once loaded as
// a value ending in "\r", which the file cannot carry: the save wrote
// "team=0\r\n" and the next load read "0", so each save and load changed
// the setting (and a value v3ConfigSet refuses lived in the object).
TEST_F(ConfigFileRegressionTest, LoadSaveLoadKeepsAValueWhoseLineEndsInSeveralCarriageReturns) {
    WriteFileText("client.cfg", "junk \"ef[z\nn\x14team=0\r\r\nodup\n[b]\n[c\r\r\nk=v\r\r\r\n");
    ASSERT_EQ(v3ConfigLoad(&first_, "client.cfg"), 0);
    EXPECT_STREQ(v3ConfigGet(&first_, "z", "n\x14team"), "0");
    EXPECT_STREQ(v3ConfigGet(&first_, "c", "k"), "v");
    ASSERT_EQ(v3ConfigSave(&first_, "saved.cfg"), 0);
    const std::string text = ReadFileText("saved.cfg");
    EXPECT_EQ(text, "[z]\nn\x14team=0\n\n[c]\nk=v\n\n");

    ASSERT_EQ(v3ConfigLoad(&second_, "saved.cfg"), 0);
    ASSERT_EQ(v3ConfigSave(&second_, "saved.cfg"), 0);
    EXPECT_EQ(ReadFileText("saved.cfg"), text);
    EXPECT_STREQ(v3ConfigGet(&second_, "z", "n\x14team"), "0");
}

}  // namespace
