// A finished unit returned to the testbed's work server through the real
// upload: every verdict leaves the slot as documented, and only an
// acknowledgement removes the results.
#include <sys/stat.h>

#include "net/conversation_support.h"
#include "conversation/result_upload.h"
#include "conversation/return_results.h"
#include "conversation/work_fetch.h"
#include "support/time_value.h"

class ReturnResultsTestbedTest : public qrvconv::ConversationTest {
protected:
    void SetUp() override {
        qrvconv::ConversationTest::SetUp();
        mkdir("work", 0700);
        queue_ = NewWorkQueue();
        ASSERT_NE(queue_, nullptr);
        returns_.queue = queue_.get();
        returns_.upload = [this](const QueueEntry* entry, const char* results_file) {
            return SendResults(Access(), settings_, entry, results_file);
        };
        returns_.permission = &permission_;
    }
    void TearDown() override {
        qrvconv::ConversationTest::TearDown();
    }

    // Fetches a real unit into slot 3 and finishes it: DONE, completed on
    // 2003-03-05, with its results file.
    void FinishUnit() {
        QueueEntry entry;
        ASSERT_EQ(FetchWork(Access(), &entry, "work/wudata_03.dat", queue_.get()), 0);
        entry.status = kSlotDone;
        entry.completed = MakeTimeValue((1096 + 31 + 28 + 4) * 86400LL + 3600, 0);  // 2003-03-05 01:00
        queue_->entries[3] = entry;
        ASSERT_EQ(SaveQueue(queue_.get()), 0);
        qrvtest::WriteFileText("work/wuresults_03.dat", "results of slot 3\n");
    }
    static uint32_t StoredStatus() {
        std::unique_ptr<WorkQueue> q = LoadQueueCopy();
        const uint32_t s = q != nullptr ? q->entries[3].status : 99;
        return s;
    }

    std::unique_ptr<WorkQueue> queue_;
    ResultReturn returns_;
};

TEST_F(ReturnResultsTestbedTest, EveryVerdictLeavesTheSlotAsDocumented) {
    struct Case {
        int verdict;
        int result;
        uint32_t slot;
    };
    const Case cases[] = {{400, 0, kSlotEmpty},  {404, -1, kSlotEmpty}, {420, -1, kSlotEmpty},
                          {430, -1, kSlotEmpty}, {434, -1, kSlotEmpty}, {440, -1, kSlotEmpty},
                          {444, -1, kSlotDone},  {450, -1, kSlotDone},  {454, -1, kSlotDone},
                          {401, -1, kSlotDone}};
    for (const Case& c : cases) {
        FinishUnit();
        ASSERT_TRUE(Configure("ws1", R"({"verdict": )" + std::to_string(c.verdict) + "}"));
        std::string text;
        int result = 1;
        {
            qrvnet::ConsoleCapture console;
            result = SendFinishedUnit(returns_, 3);
            text = console.Text();
        }
        EXPECT_EQ(result, c.result) << c.verdict;
        EXPECT_EQ(queue_->entries[3].status, c.slot) << c.verdict;
        EXPECT_EQ(StoredStatus(), c.slot) << c.verdict << ": queue.dat must say the same";
        const bool kept = text.find("Keeping unit in queue") != std::string::npos;
        EXPECT_EQ(kept, c.slot == kSlotDone) << c.verdict << "\n" << text;
        // Results go only with the server's acknowledgement.
        EXPECT_EQ(qrvtest::FileExists("work/wuresults_03.dat"), c.verdict != 400) << c.verdict;
    }
}

TEST_F(ReturnResultsTestbedTest, ServerDownKeepsUnitWithItsCompletionDate) {
    FinishUnit();
    ASSERT_TRUE(Configure("ws1", R"({"down": true})"));
    std::string text;
    {
        qrvnet::ConsoleCapture console;
        EXPECT_EQ(SendAllFinished(returns_), -1);
        text = console.Text();
    }
    EXPECT_NE(text.find("- Error: Could not transmit unit 03 (completed March 5). Keeping unit in queue.\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(StoredStatus(), kSlotDone);

    // Back up: the next attempt gets through and the server has one unit.
    ASSERT_TRUE(Configure("ws1", R"({"down": false})"));
    EXPECT_EQ(SendAllFinished(returns_), 0);
    EXPECT_EQ(StoredStatus(), kSlotEmpty);
    EXPECT_EQ(testbed_.Summary("units_accepted"), 1);
}
