// Result uploads to the testbed's work server: every verdict of the reply
// table, the cut of long results, the files that cannot be sent, and the
// follow-up of an accepted upload.
#include <sys/stat.h>

#include <cstring>

#include "config/config_file.h"
#include "net/conversation_support.h"
#include "conversation/result_upload.h"
#include "conversation/work_fetch.h"

using qrvconv::BE32;

namespace {

constexpr const char* kResults = "work/wuresults_02.dat";

struct VerdictCase {
    uint32_t reply;
    int result;
    std::vector<const char*> messages;
};

const std::vector<VerdictCase>& VerdictTable() {
    static const std::vector<VerdictCase> table = {
        {400, 0, {"+ Results successfully sent\n", "Thank you for your contribution to Quorvel.\n"}},
        {404, 22, {"- Server reports problem with unit.\n"}},
        {420, 22, {"- Core version used on unit below what server demands.\n"}},
        {430, 22, {"- Core type used on unit not what server demands.\n"}},
        {434, 22, {"- Server has already received unit.\n"}},
        {440, 22, {"- Server reports deadline for unit has passed.\n"}},
        {444, -1, {"- Server reports digital signature does not match.\n",
                   "  (May be due to corruption during network transmission or a corrupted file.)\n"}},
        {450, -1, {"- Server reports packet it received specified a data size of 0.\n",
                   "  (May be due to corruption during network transmission or a corrupted file.)\n"}},
        {454, -1, {"- Server reports packet it received an incomplete payload.\n",
                   "  (May be due to packet loss during network transmission or a corrupted file.)\n"}},
        {401, -1, {"- Unknown packet returned from server, expected ACK for results\n"}},
    };
    return table;
}

}  // namespace

class ResultUploadTest : public qrvconv::ConversationTest {
protected:
    void SetUp() override {
        qrvconv::ConversationTest::SetUp();
        mkdir("work", 0700);
        // A real unit from ws1, so that the server has one outstanding.
        std::unique_ptr<WorkQueue> queue = NewWorkQueue();
        ASSERT_NE(queue, nullptr);
        ASSERT_EQ(FetchWork(Access(), &entry_, "work/wudata_02.dat", queue.get()), 0);
        entry_.status = kSlotDone;
        qrvtest::WriteFileText(kResults, "results of unit 2\n");
    }

    // Runs SendResults and returns what it printed.
    std::string Send(int* result) {
        qrvnet::ConsoleCapture console;
        *result = SendResults(Access(), settings_, &entry_, kResults);
        return console.Text();
    }

    QueueEntry entry_;
};

TEST_F(ResultUploadTest, EveryVerdictGivesItsResultAndMessages) {
    for (const VerdictCase& c : VerdictTable()) {
        ASSERT_TRUE(Configure("ws1", R"({"verdict": )" + std::to_string(c.reply) + "}"));
        int result = 0;
        const std::string text = Send(&result);
        EXPECT_EQ(result, c.result) << "reply " << c.reply;
        EXPECT_NE(text.find("+ Attempting to send results\n"), std::string::npos);
        for (const char* m : c.messages) {
            EXPECT_NE(text.find(m), std::string::npos) << "reply " << c.reply << " lacks " << m;
        }
        EXPECT_TRUE(qrvtest::FileExists(kResults)) << "the upload itself never removes results";
    }
    // The verdict does not depend on what is printed.
    ASSERT_TRUE(Configure("ws1", R"({"verdict": 434})"));
    SetLogVerbosity(1);
    int result = 0;
    const std::string quiet = Send(&result);
    EXPECT_EQ(result, 22);
    EXPECT_EQ(quiet.find("already received"), std::string::npos);
}

TEST_F(ResultUploadTest, HeaderNamesUnitAndServerChecksIt) {
    entry_.core_finished = 1;
    qrvtest::WriteFileText("work/current.xyz", "3\nsnapshot\n");
    int result = 0;
    Send(&result);
    ASSERT_EQ(result, 0);
    // Judged by the server's own check, not forced.
    const auto uploads = Journal("upload");
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0]["verdict"], "400");
    EXPECT_EQ(uploads[0]["problems"], "0");
    const std::string body = RequestBody(uploads[0]);
    ASSERT_EQ(body.size(), 512u + 18u);
    EXPECT_EQ(BE32(body, 0), 300u);
    EXPECT_EQ(BE32(body, 4), 0x78u);
    EXPECT_EQ(BE32(body, 12), 18u);
    EXPECT_EQ(BE32(body, 304), 1u);
    EXPECT_EQ(BE32(body, 308), 1u);
    EXPECT_EQ(body.substr(512), "results of unit 2\n");
    EXPECT_EQ(testbed_.Summary("units_accepted"), 1);

    // The follow-up: a unit the core finished is counted, the snapshot goes.
    EXPECT_FALSE(qrvtest::FileExists("work/current.xyz"));
    char local[16] = {};
    ASSERT_EQ(v3ConfigGetCopy(ClientConfig(), "settings", "local", local, sizeof local), 0);
    EXPECT_STREQ(local, "1");

    // The same results again: the server has them already.
    Send(&result);
    EXPECT_EQ(result, 22);
}

TEST_F(ResultUploadTest, StoredPortIsUsedByItsLowSixteenBits) {
    // A queue.dat entry whose port word holds more than a port: the results
    // go to the port of its low 16 bits, 80 here, not nowhere.
    entry_.set_server_port(65536 + 80);
    int result = 0;
    Send(&result);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(Journal("upload").size(), 1u);
    // The unit itself was fetched on 8080: only the upload reached ws1 on 80.
    const std::string journal = testbed_.Control("GET", "/journal");
    EXPECT_NE(journal.find(R"("local": "127.0.0.2:80")"), std::string::npos) << journal;
}

TEST_F(ResultUploadTest, LongResultsAreCutAtTheLimit) {
    qrvtest::WriteFileText(kResults, std::string(3000000, 'r'));
    int result = 0;
    Send(&result);
    EXPECT_EQ(result, 0);
    const auto uploads = Journal("upload");
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0]["payload_len"], "2097152");
    const std::string body = RequestBody(uploads[0]);
    ASSERT_GE(body.size(), 512u);
    EXPECT_EQ(BE32(body, 12), 2097152u);
}

TEST_F(ResultUploadTest, NothingToSendOrNowhereToSendIt) {
    int result = 0;
    qrvtest::WriteFileText(kResults, "");
    std::string text = Send(&result);
    EXPECT_EQ(result, -2);
    EXPECT_NE(text.find("- Error: Could not read results file work/wuresults_02.dat from disk\n"),
              std::string::npos);
    std::remove(kResults);
    Send(&result);
    EXPECT_EQ(result, -2);

    qrvtest::WriteFileText(kResults, "results\n");
    QueueEntry no_server = entry_;
    no_server.set_server_address(0);
    {
        qrvnet::ConsoleCapture console;
        result = SendResults(Access(), settings_, &no_server, kResults);
        text = console.Text();
    }
    EXPECT_EQ(result, -2);
    EXPECT_NE(text.find("- Error: Results file corrupt\n"), std::string::npos);
    EXPECT_EQ(testbed_.Summary("uploads"), 0) << "none of these reached the server";

    // A results file that exists but cannot be read now is worth another
    // try: the results are still there.
    ASSERT_EQ(mkdir("work/wuresults_03.dat", 0700), 0);
    result = SendResults(Access(), settings_, &entry_, "work/wuresults_03.dat");
    EXPECT_EQ(result, -1);

    ASSERT_TRUE(Configure("ws1", R"({"down": true})"));
    text = Send(&result);
    EXPECT_EQ(result, -1);
    EXPECT_NE(text.find("+ Could not connect to Work Server (results)\n"), std::string::npos);
}
