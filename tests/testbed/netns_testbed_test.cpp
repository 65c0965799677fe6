// The harness that every end-to-end test against the servers relies on: the
// test really runs in a private network namespace, the servers come up on
// their fixed ports there, and the control interface answers.
#include "common/temp_dir.h"
#include "common/testbed.h"

#include <gtest/gtest.h>

class TestbedHarness : public qrvtest::TempDirTest {};

TEST_F(TestbedHarness, ServersStartInsidePrivateNamespace) {
    ASSERT_TRUE(qrvtest::InPrivateNetwork()) << "ctest must start this test through netns-run";
    qrvtest::Testbed testbed;
    ASSERT_TRUE(testbed.Start(dir())) << testbed.error();
    EXPECT_EQ(testbed.Summary("units_issued"), 0);
    EXPECT_TRUE(testbed.Configure("ws1", R"({"verdict": 434})"));
    EXPECT_FALSE(testbed.Configure("ws1", R"({"no_such_switch": 1})"));
    testbed.Stop();
}
