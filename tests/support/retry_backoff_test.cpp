#include "support/retry_backoff.h"

#include <cstdint>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "support/sleep.h"

namespace {

std::vector<uint32_t> g_waits;
void RecordWait(uint32_t ms) { g_waits.push_back(ms); }

class RetryBackoffTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_waits.clear();
        v3SetSleepHook(RecordWait);
    }
    void TearDown() override { v3SetSleepHook(nullptr); }
};

// The values every server retry loop uses.
TEST_F(RetryBackoffTest, DoublesFromFiveSecondsToFortyEightMinutesWithSpread) {
    EXPECT_EQ(RetryBackoff(5000, 2880000, 15000), 0u);
    EXPECT_TRUE(g_waits.empty());  // initialising does not wait
    const uint32_t base[] = {5000,   10000,  20000,   40000,   80000,   160000,  320000,
                             640000, 1280000, 2560000, 2880000, 2880000, 2880000};
    std::set<uint32_t> extras;
    for (uint32_t i = 0; i < std::size(base); ++i) {
        EXPECT_EQ(RetryBackoff(0, 0, 0), i + 1);
        ASSERT_EQ(g_waits.size(), i + 1);
        EXPECT_GE(g_waits[i], base[i]) << "wait " << i;
        EXPECT_LE(g_waits[i], base[i] + 14941) << "wait " << i;  // 255 * 15000 / 256
        extras.insert(g_waits[i] - base[i]);
    }
    EXPECT_GT(extras.size(), 1u);  // the spread is random, not a constant
}

TEST_F(RetryBackoffTest, OnlyAnOrderedNonZeroPairInitialises) {
    RetryBackoff(100, 400, 0);
    EXPECT_EQ(RetryBackoff(0, 0, 0), 1u);
    EXPECT_EQ(RetryBackoff(0, 0, 0), 2u);
    EXPECT_EQ(RetryBackoff(5000, 1000, 0), 3u);  // first above longest: a wait
    EXPECT_EQ(RetryBackoff(0, 5000, 0), 4u);
    EXPECT_EQ(RetryBackoff(5000, 0, 0), 5u);
    EXPECT_EQ(g_waits, (std::vector<uint32_t>{100, 200, 400, 400, 400}));

    // Re-initialising resets the count and the current wait.
    EXPECT_EQ(RetryBackoff(300, 300, 0), 0u);
    EXPECT_EQ(RetryBackoff(0, 0, 0), 1u);
    EXPECT_EQ(g_waits.back(), 300u);
}

TEST_F(RetryBackoffTest, HugeSettingsNeitherWrapNorShrink) {
    RetryBackoff(0x80000000u, 0xFFFFFFFFu, 0xFFFFFFFFu);
    RetryBackoff(0, 0, 0);
    RetryBackoff(0, 0, 0);
    RetryBackoff(0, 0, 0);
    ASSERT_EQ(g_waits.size(), 3u);
    EXPECT_GE(g_waits[0], 0x80000000u);
    EXPECT_EQ(g_waits[1], 0xFFFFFFFFu);  // doubled to the longest, cut to 32 bits
    EXPECT_EQ(g_waits[2], 0xFFFFFFFFu);
}

}  // namespace
