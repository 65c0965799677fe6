// Work fetches from the testbed's work servers: what the entry and the data
// file receive, what the work request carries, and every refusal, each of
// which must leave the entry as it was.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "net/conversation_support.h"
#include "net/network_permission.h"
#include "conversation/work_fetch.h"
#include "support/time_value.h"

using qrvconv::BE32;

namespace {

constexpr const char* kDataFile = "work/wudata_04.dat";

bool SameEntry(const QueueEntry& a, const QueueEntry& b) {
    return std::memcmp(a.work_header, b.work_header, sizeof a.work_header) == 0 &&
           std::memcmp(a.core_location, b.core_location, sizeof a.core_location) == 0 &&
           a.has_deadline == b.has_deadline && v3Int128Equal(a.received, b.received) &&
           v3Int128Equal(a.deadline, b.deadline) && a.download_options == b.download_options;
}

// The unit lines of /units.txt, "server=ws1 index=0 status=issued ...".
std::vector<qrvconv::JournalEvent> Units(qrvtest::Testbed& tb) {
    std::vector<qrvconv::JournalEvent> out;
    std::istringstream in(tb.Control("GET", "/units.txt"));
    std::string line;
    while (std::getline(in, line)) {
        qrvconv::JournalEvent u;
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            const size_t eq = word.find('=');
            if (eq != std::string::npos) u.fields[word.substr(0, eq)] = word.substr(eq + 1);
        }
        out.push_back(u);
    }
    return out;
}

}  // namespace

class WorkFetchTest : public qrvconv::ConversationTest {
protected:
    void SetUp() override {
        qrvconv::ConversationTest::SetUp();
        mkdir("work", 0700);
        queue_ = NewWorkQueue();
        ASSERT_NE(queue_, nullptr);
        queue_->performance_fraction = 0.5f;
    }
    void TearDown() override {
        qrvconv::ConversationTest::TearDown();
    }

    // A fetch that must fail: returns what it printed (at level 4) and
    // checks that the entry kept every byte.
    std::string FailingFetch() {
        QueueEntry entry;
        std::memset(entry.work_header, 0x5A, sizeof entry.work_header);
        std::strcpy(entry.core_location, "old.example:80/cores");
        const QueueEntry before = entry;
        SetLogVerbosity(4);
        int result = 0;
        std::string text;
        {
            qrvnet::ConsoleCapture console;
            result = FetchWork(Access(), &entry, kDataFile, queue_.get());
            text = console.Text();
        }
        EXPECT_EQ(result, -1) << text;
        EXPECT_TRUE(SameEntry(entry, before)) << "a refused fetch changed the entry";
        return text;
    }

    std::unique_ptr<WorkQueue> queue_;
};

TEST_F(WorkFetchTest, UnitFillsEntryAndDataFile) {
    QueueEntry entry;
    Int128 before{};
    v3TimeNow(&before);
    {
        qrvnet::ConsoleCapture console;
        ASSERT_EQ(FetchWork(Access(), &entry, kDataFile, queue_.get()), 0);
        const std::string text = console.Text();
        EXPECT_NE(text.find("+ Attempting to get work packet\n"), std::string::npos);
        EXPECT_NE(text.find("+ Closed connections\n"), std::string::npos);
        EXPECT_EQ(text.find("Deadline time not received"), std::string::npos);
    }
    EXPECT_EQ(entry.packet_type(), 500u);
    EXPECT_EQ(entry.core_type(), 0x78u);
    EXPECT_EQ(entry.server_address(), qrvconv::kWorkServer1);
    EXPECT_EQ(entry.server_port(), 8080u);
    EXPECT_EQ(entry.payload_size(), 4096u);
    EXPECT_EQ(entry.core_name(), "Testbed core");
    EXPECT_STREQ(entry.core_location, "127.0.0.4:8081/cores");
    EXPECT_EQ(entry.has_deadline, 1u);
    EXPECT_FALSE(v3Int128SLess(entry.received, before));
    EXPECT_EQ(TimeSeconds(entry.deadline), TimeSeconds(entry.received) + 86400);
    EXPECT_EQ(entry.deadline.low, 0u) << "the deadline has no fraction";

    // The data file holds exactly the unit the server issued.
    const auto units = Units(testbed_);
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0]["delivery"], "sent");
    EXPECT_EQ(qrvconv::FileSha256(kDataFile), units[0]["sha256"]);

    // The work request as the work server received it.
    const auto requests = Journal("work_request");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["problems"], "0");
    const std::string body = RequestBody(requests[0]);
    ASSERT_EQ(body.size(), 512u);
    EXPECT_EQ(BE32(body, 0), 100u);
    EXPECT_EQ(BE32(body, 4), 101u) << "a client of type 0 asks for core type 101";
    EXPECT_EQ(BE32(body, 8), 324u);
    EXPECT_EQ(BE32(body, 88), qrvconv::kWorkServer1);
    EXPECT_EQ(qrvconv::BE64(body, 288), qrvconv::kTestUserId + 2);
    EXPECT_EQ(BE32(body, 324), 0u) << "no finished units in the queue";
}

TEST_F(WorkFetchTest, RequestReportsClientTypeAndFinishedUnitsOfThatServer) {
    // queue.dat with slots 0 and 3 DONE from ws1, slot 5 DONE from another
    // server and slot 6 READY from ws1: two count.
    std::unique_ptr<WorkQueue> on_disk = NewWorkQueue();
    ASSERT_NE(on_disk, nullptr);
    for (uint32_t i : {0u, 3u, 5u, 6u}) {
        on_disk->entries[i].status = i == 6 ? kSlotReady : kSlotDone;
        on_disk->entries[i].set_server_address(i == 5 ? 0x7F000003 : qrvconv::kWorkServer1);
    }
    ASSERT_EQ(SaveQueue(on_disk.get()), 0);
    identity_.client_type = 2;
    QueueEntry entry;
    ASSERT_EQ(FetchWork(Access(), &entry, kDataFile, queue_.get()), 0);
    const auto requests = Journal("work_request");
    ASSERT_EQ(requests.size(), 1u);
    const std::string body = RequestBody(requests[0]);
    ASSERT_EQ(body.size(), 512u);
    EXPECT_EQ(BE32(body, 4), 201u) << "a client of type 2 asks for core type 201";
    EXPECT_EQ(BE32(body, 324), 2u);
    // The performance fraction of the queue went to the assignment server.
    const std::string asked = RequestBody(Journal("assignment").at(0));
    EXPECT_EQ(BE32(asked, 188), 0x3F000000u);
}

TEST_F(WorkFetchTest, DeadlineZeroAndPortZeroAndLeadingCrLf) {
    // No deadline, no port: the unit is kept without deadline and returned
    // to the port of the assignment server that answered. The reply comes
    // behind a CR LF, which the framing drops.
    ASSERT_TRUE(Configure("ws1", R"({"deadline_seconds": 0, "reply_port": 0, "leading_crlf": 1})"));
    QueueEntry entry;
    {
        qrvnet::ConsoleCapture console;
        ASSERT_EQ(FetchWork(Access(), &entry, kDataFile, queue_.get()), 0);
        EXPECT_NE(console.Text().find("- Deadline time not received.\n"), std::string::npos);
    }
    EXPECT_EQ(entry.has_deadline, 0u);
    EXPECT_EQ(entry.server_port(), 8080u);
    EXPECT_EQ(entry.core_type(), 0x78u);

    ASSERT_TRUE(Configure("primary", R"({"down": true})"));
    QueueEntry second;
    ASSERT_EQ(FetchWork(Access(), &second, kDataFile, queue_.get()), 0);
    EXPECT_EQ(second.server_port(), 80u);
    const auto requests = Journal("work_request");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[1]["server"].find("ws1"), std::string::npos);
}

TEST_F(WorkFetchTest, PortAboveSixteenBitsIsTakenByItsLowBits) {
    // The port field is 32 bits wide; its low 16 bits name the port, so the
    // unit is kept (and later returned there) rather than thrown away.
    ASSERT_TRUE(Configure("ws1", R"({"reply_port": 73616})"));  // 65536 + 8080
    QueueEntry entry;
    ASSERT_EQ(FetchWork(Access(), &entry, kDataFile, queue_.get()), 0);
    EXPECT_EQ(entry.server_port(), 8080u);
    // Low bits of 80 while the unit came in on 8080: the reply's port wins.
    ASSERT_TRUE(Configure("ws1", R"({"reply_port": 65616})"));
    ASSERT_EQ(FetchWork(Access(), &entry, kDataFile, queue_.get()), 0);
    EXPECT_EQ(entry.server_port(), 80u);
    // Low bits of 0 mean no port, as a 0 does: the assignment server's.
    ASSERT_TRUE(Configure("ws1", R"({"reply_port": 65536})"));
    ASSERT_EQ(FetchWork(Access(), &entry, kDataFile, queue_.get()), 0);
    EXPECT_EQ(entry.server_port(), 8080u);
    EXPECT_EQ(testbed_.Summary("units_issued"), 3);
}

TEST_F(WorkFetchTest, PayloadOfTheLimitIsTakenOneMoreIsRefused) {
    ASSERT_TRUE(Configure("ws1", R"({"units": {"source": "random", "size": 2097152}})"));
    QueueEntry entry;
    ASSERT_EQ(FetchWork(Access(), &entry, kDataFile, queue_.get()), 0);
    struct stat st {};
    ASSERT_EQ(stat(kDataFile, &st), 0);
    EXPECT_EQ(st.st_size, 2097152);
    EXPECT_EQ(entry.payload_size(), 2097152u);

    ASSERT_TRUE(Configure("ws1", R"({"units": {"source": "random", "size": 16},
                                     "declared_size": 2097153})"));
    EXPECT_NE(FailingFetch().find("- Error: Work packet too large\n"), std::string::npos);
}

TEST_F(WorkFetchTest, EveryRefusalLeavesEntryUntouched) {
    ASSERT_TRUE(Configure("ws1", R"({"reply_type": 201})"));
    EXPECT_NE(FailingFetch().find("- Error: Bad packet type from server, expected work assignment\n"),
              std::string::npos);

    ASSERT_TRUE(Configure("ws1", R"({"reply_type": 200, "truncate": 600})"));
    EXPECT_NE(FailingFetch().find("+ Could not get Work unit data from Work Server\n"),
              std::string::npos);

    ASSERT_TRUE(Configure("ws1", R"({"truncate": null, "reply_address": "0.0.0.0"})"));
    EXPECT_NE(FailingFetch().find("+ Work Unit has an invalid address\n"), std::string::npos);

    ASSERT_TRUE(Configure("ws1", R"({"reply_address": null, "down": true})"));
    EXPECT_NE(FailingFetch().find("+ Could not connect to Work Server\n"), std::string::npos);
    const long requests_so_far = testbed_.Summary("work_requests");

    // Refusals of the assignment itself reach no work server.
    ASSERT_TRUE(Configure("primary", R"({"server_address": "0.0.0.0"})"));
    EXPECT_NE(FailingFetch().find("Work Unit has an invalid address.\n"), std::string::npos);
    ASSERT_TRUE(Configure("primary", R"({"server_address": null, "core_location": ""})"));
    EXPECT_NE(FailingFetch().find("The core URL is invalid.\n"), std::string::npos);
    ASSERT_TRUE(Configure("primary", R"({"down": true})"));
    ASSERT_TRUE(Configure("secondary", R"({"down": true})"));
    EXPECT_NE(FailingFetch().find("+ Couldn't get work instructions.\n"), std::string::npos);
    EXPECT_EQ(testbed_.Summary("work_requests"), requests_so_far);

    struct stat st {};
    EXPECT_NE(stat(kDataFile, &st), 0) << "no refused unit left a data file";

    // A unit whose data cannot be stored is not handed over either.
    ASSERT_TRUE(Configure("primary", R"({"down": false, "core_location": null})"));
    ASSERT_EQ(rmdir("work"), 0);
    FailingFetch();
}

TEST_F(WorkFetchTest, AsknetWithdrawsPermissionAfterFetch) {
    permission_.asknet = 1;
    permission_.given = 0;
    QueueEntry entry;
    SetLogVerbosity(2);
    qrvnet::ConsoleCapture console;
    ASSERT_EQ(FetchWork(Access(), &entry, kDataFile, queue_.get()), 0);
    EXPECT_NE(console.Text().find("+ Connections closed: You may now disconnect\n"),
              std::string::npos);
    EXPECT_EQ(NetworkPermissionGiven(permission_), 0u) << "the next network use must ask again";
}
