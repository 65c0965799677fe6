// Servers that end a reply early, at every byte offset: the assignment
// reply, the work reply (header and a small unit) and the upload verdict,
// over both transports. The testbed cuts the body three ways: the
// connection closes although the full length was announced; the reply
// announces and carries only the cut length; a reply without any length
// closes where it is cut. A server of the test's own cuts inside the HTTP
// head. No cut reply may be taken for a whole one: no assignment from half
// a record, no unit stored from part of its data (an earlier data file
// stays as it was), no verdict read from bytes that never came.
#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "faults/cut_server.h"
#include "faults/fault_support.h"
#include "net/conversation_support.h"
#include "conversation/result_upload.h"
#include "conversation/work_fetch.h"

namespace {

constexpr const char* kDataFile = "work/wudata_06.dat";
constexpr const char* kResults = "work/wuresults_06.dat";
constexpr const char* kOldData = "data of the unit this slot held before";
constexpr size_t kUnitSize = 16;
constexpr size_t kRecordSize = 512;  // work header and upload verdict alike

struct CutMode {
    const char* name;
    const char* switches;  // JSON members that go with {"truncate": N}
};

const CutMode kModes[] = {
    {"closed before the announced length", R"("lie_length": true)"},
    {"short length announced", R"("lie_length": false)"},
    {"no length, closed", R"("framing": "close")"},
};

std::string Cut(const CutMode& mode, size_t n) {
    return R"({"truncate": )" + std::to_string(n) + ", " + mode.switches + "}";
}

// One-shot overrides for the next requests: cut at 0, 1, ..., count - 1.
std::string CutList(const CutMode& mode, size_t count) {
    std::string list = R"({"next": [)";
    for (size_t n = 0; n < count; ++n) list += (n > 0 ? "," : "") + Cut(mode, n);
    return list + "]}";
}

// The names in work/, so a temporary file left behind by a failed write
// shows.
std::vector<std::string> WorkFiles() {
    std::vector<std::string> names;
    if (DIR* d = opendir("work")) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        }
        closedir(d);
    }
    return names;
}

bool SameEntry(const QueueEntry& a, const QueueEntry& b) {
    return std::memcmp(a.work_header, b.work_header, sizeof a.work_header) == 0 &&
           std::memcmp(a.core_location, b.core_location, sizeof a.core_location) == 0 &&
           a.has_deadline == b.has_deadline && v3Int128Equal(a.received, b.received) &&
           a.download_options == b.download_options;
}

}  // namespace

// The cut replies of each test go over one transport: the built-in HTTP
// client (usereg no) or the system's (usereg yes).
class ServerCutTest : public qrvconv::ConversationTest,
                      public ::testing::WithParamInterface<uint32_t> {
protected:
    void SetUp() override {
        qrvconv::ConversationTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_EQ(mkdir("work", 0700), 0);
        queue_ = NewWorkQueue();
        ASSERT_NE(queue_, nullptr);
        ASSERT_TRUE(Configure("ws1", R"({"units": {"source": "random", "size": )" +
                                         std::to_string(kUnitSize) + "}}"));
        SetLogVerbosity(4);
    }
    void TearDown() override {
        qrvconv::ConversationTest::TearDown();
    }

    // The transport of this instance, for the cut exchanges only (the set-up
    // exchanges go over the built-in one).
    void UseTransport() { ConversationTest::UseTransport(GetParam()); }
    bool SystemTransport() const { return GetParam() == 1; }

    // What a failed fetch may say. The system's transport takes a reply
    // that ends early as a short one, so a cut header is refused by its
    // packet type instead.
    std::vector<std::string> FetchRefusals(const std::string& direct) const {
        if (!SystemTransport()) return {direct};
        return {direct, "- Error: Bad packet type from server, expected work assignment\n"};
    }

    // A fetch over a cut reply: it must fail, keep the entry and the slot's
    // earlier data file (and nothing else may appear in work/), and say why.
    // Returns whether it failed cleanly.
    bool FetchFails(const std::string& why, const std::vector<std::string>& messages) {
        const std::vector<std::string> files = WorkFiles();
        QueueEntry entry;
        std::memset(entry.work_header, 0x5A, sizeof entry.work_header);
        std::strcpy(entry.core_location, "old.example:80/cores");
        const QueueEntry before = entry;
        int result = 0;
        std::string text;
        {
            qrvnet::ConsoleCapture console;
            result = FetchWork(Access(), &entry, kDataFile, queue_.get());
            text = console.Text();
        }
        EXPECT_NE(result, 0) << why << ": a cut reply was stored as a unit";
        EXPECT_TRUE(SameEntry(entry, before)) << why << ": the entry changed";
        EXPECT_EQ(qrvtest::ReadFileText(kDataFile), kOldData) << why << ": the data file changed";
        EXPECT_EQ(WorkFiles(), files) << why << ": a file was left in work/";
        bool said = false;
        for (const std::string& m : messages) said = said || text.find(m) != std::string::npos;
        EXPECT_TRUE(said) << why << ":\n" << text;
        return result != 0 && SameEntry(entry, before);
    }

    // An upload over a cut verdict. A cut before the verdict's four bytes
    // are in must fail; one after them may count as the verdict the server
    // gave. A refusal never comes from a 400.
    void UploadOfCutVerdict(const QueueEntry& entry, size_t body_bytes, const std::string& why) {
        int result = 0;
        std::string text;
        {
            qrvnet::ConsoleCapture console;
            result = SendResults(Access(), settings_, &entry, kResults);
            text = console.Text();
        }
        if (body_bytes < 4) {
            EXPECT_EQ(result, -1) << why << ": a verdict read from bytes that never came\n" << text;
        } else {
            EXPECT_TRUE(result == -1 || result == 0) << why << ": " << result << "\n" << text;
        }
        // The system's transport takes a short reply; the request's own
        // packet type then stands where the verdict would be.
        if (result == -1) {
            const bool said =
                text.find("+ Could not connect to Work Server (results)\n") != std::string::npos ||
                (SystemTransport() &&
                 text.find("- Unknown packet returned from server, expected ACK for results\n") !=
                     std::string::npos);
            EXPECT_TRUE(said) << why << ":\n" << text;
        }
        EXPECT_TRUE(qrvtest::FileExists(kResults)) << why;
    }

    // From here on the test's own server answers for the primary
    // assignment server (127.0.0.1:8080), whose listener closes, with the
    // whole reply unless a test cuts it; the secondary is down. Its
    // assignment names ws1's address.
    void TakeOverAssignments() {
        ASSERT_TRUE(Configure("primary", R"({"down": true})"));
        ASSERT_TRUE(Configure("secondary", R"({"down": true})"));
        ASSERT_TRUE(assignment_server_.Start("127.0.0.1", kPrimaryAssignmentPort));
        std::string record(kAssignmentReplySize, '\0');
        record.replace(0, 4, std::string("\x7F\x00\x00\x02", 4));
        record.replace(4, 20, "127.0.0.4:8081/cores");
        assignment_server_.SetReply(Head(record.size()) + record);
        assignment_server_.SetCut(std::string::npos);
    }
    // From here on the test's own server answers for ws1 (127.0.0.2:8080).
    void TakeOverWorkServer() {
        ASSERT_TRUE(Configure("ws1", R"({"down": true})"));
        ASSERT_TRUE(work_server_.Start("127.0.0.2", kPrimaryAssignmentPort));
    }

    // The head the test's servers send before a body of `body` bytes.
    static std::string Head(size_t body) {
        return "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
               std::to_string(body) + "\r\nConnection: close\r\n\r\n";
    }

    // A unit of ws1 for the upload tests, with its results.
    QueueEntry FetchedUnit() {
        QueueEntry entry;
        EXPECT_EQ(FetchWork(Access(), &entry, "work/wudata_02.dat", queue_.get()), 0);
        entry.status = kSlotDone;
        qrvtest::WriteFileText(kResults, "results of unit 6\n");
        return entry;
    }

    std::unique_ptr<WorkQueue> queue_;
    qrvfault::CutServer assignment_server_;
    qrvfault::CutServer work_server_;
};

TEST_P(ServerCutTest, AssignmentReplyCutAtEveryOffset) {
    AssignmentReply whole{};
    ASSERT_EQ(RequestAssignment(Access(), &whole, 0.5f), 0);
    UseTransport();
    const long asked_before = testbed_.Summary("assignments");
    long asked = 0;
    for (const CutMode& mode : kModes) {
        SCOPED_TRACE(mode.name);
        // Both servers cut, so no whole reply is to be had.
        ASSERT_TRUE(Configure("primary", CutList(mode, kAssignmentReplySize)));
        ASSERT_TRUE(Configure("secondary", CutList(mode, kAssignmentReplySize)));
        for (size_t n = 0; n < kAssignmentReplySize; ++n) {
            AssignmentReply reply;
            std::memset(&reply, 0x5A, sizeof reply);
            const AssignmentReply before = reply;
            qrvnet::ConsoleCapture console;
            const int result = RequestAssignment(Access(), &reply, 0.5f);
            const std::string text = console.Text();
            asked += result == 0 ? 1 : 2;
            EXPECT_EQ(result, -1) << "cut at " << n << ": taken as an assignment\n" << text;
            EXPECT_EQ(std::memcmp(&reply, &before, sizeof reply), 0) << "cut at " << n;
            EXPECT_NE(text.find("+ Could not connect to Assignment Server 2\n"), std::string::npos)
                << "cut at " << n << ":\n" << text;
        }
        // Cut lists left over by a reply taken from the primary go.
        ASSERT_TRUE(Configure("secondary", R"({"next": null})"));
        // The cut at the full length is the whole reply.
        ASSERT_TRUE(Configure("primary", R"({"next": [)" + Cut(mode, kAssignmentReplySize) + "]}"));
        AssignmentReply reply{};
        ASSERT_EQ(RequestAssignment(Access(), &reply, 0.5f), 0);
        ++asked;
        EXPECT_EQ(reply.server_address, whole.server_address);
        EXPECT_STREQ(reply.core_location, whole.core_location);
        EXPECT_EQ(CurrentServerPort(), kPrimaryAssignmentPort);
    }
    // Every cut reached a server (no refused connections in disguise).
    EXPECT_EQ(testbed_.Summary("assignments") - asked_before, asked);

    TakeOverAssignments();
    for (size_t n = 0; n < Head(kAssignmentReplySize).size(); ++n) {
        assignment_server_.SetCut(n);
        AssignmentReply reply{};
        qrvnet::ConsoleCapture console;
        const int result = RequestAssignment(Access(), &reply, 0.5f);
        const std::string text = console.Text();
        EXPECT_EQ(result, -1) << "head cut at " << n << "\n" << text;
        EXPECT_EQ(reply.server_address, 0u) << "head cut at " << n;
        EXPECT_EQ(assignment_server_.requests(), static_cast<long>(n + 1))
            << "head cut at " << n << " never reached the server";
    }
}

TEST_P(ServerCutTest, WorkReplyCutAtEveryOffset) {
    // Whole assignments from the test's server: only the work replies are cut.
    TakeOverAssignments();
    UseTransport();
    const size_t full = kRecordSize + kUnitSize;
    const long requests_before = testbed_.Summary("work_requests");
    long requested = 0;
    for (const CutMode& mode : kModes) {
        SCOPED_TRACE(mode.name);
        ASSERT_TRUE(Configure("ws1", CutList(mode, full)));
        qrvtest::WriteFileText(kDataFile, kOldData);
        for (size_t n = 0; n < full; ++n) {
            ++requested;
            const bool clean = FetchFails(
                "cut at " + std::to_string(n),
                FetchRefusals(n < kRecordSize ? "+ Could not connect to Work Server\n"
                                              : "+ Could not get Work unit data from Work Server\n"));
            if (!clean) qrvtest::WriteFileText(kDataFile, kOldData);
        }
        ASSERT_TRUE(Configure("ws1", R"({"next": [)" + Cut(mode, full) + "]}"));
        QueueEntry entry;
        ASSERT_EQ(FetchWork(Access(), &entry, kDataFile, queue_.get()), 0);
        ++requested;
        EXPECT_EQ(qrvtest::ReadFileText(kDataFile).size(), kUnitSize);
        EXPECT_EQ(entry.payload_size(), kUnitSize);
    }
    EXPECT_EQ(testbed_.Summary("work_requests") - requests_before, requested);

    TakeOverWorkServer();
    qrvtest::WriteFileText(kDataFile, kOldData);
    work_server_.SetReply(Head(full) + std::string(full, '\0'));
    for (size_t n = 0; n < Head(full).size(); ++n) {
        work_server_.SetCut(n);
        FetchFails("head cut at " + std::to_string(n),
                   FetchRefusals("+ Could not connect to Work Server\n"));
        EXPECT_EQ(work_server_.requests(), static_cast<long>(n + 1))
            << "head cut at " << n << " never reached the server";
    }
}

TEST_P(ServerCutTest, UploadVerdictCutAtEveryOffset) {
    const QueueEntry entry = FetchedUnit();
    ASSERT_FALSE(HasFailure());
    ASSERT_TRUE(Configure("ws1", R"({"verdict": 400})"));
    UseTransport();
    const long uploads_before = testbed_.Summary("uploads");
    long uploaded = 0;
    for (const CutMode& mode : kModes) {
        SCOPED_TRACE(mode.name);
        ASSERT_TRUE(Configure("ws1", CutList(mode, kRecordSize)));
        for (size_t n = 0; n < kRecordSize; ++n) {
            ++uploaded;
            UploadOfCutVerdict(entry, n, "cut at " + std::to_string(n));
        }
        ASSERT_TRUE(Configure("ws1", R"({"next": [)" + Cut(mode, kRecordSize) + "]}"));
        qrvnet::ConsoleCapture console;
        const int result = SendResults(Access(), settings_, &entry, kResults);
        const std::string text = console.Text();
        EXPECT_EQ(result, 0) << text;
        ++uploaded;
    }
    EXPECT_EQ(testbed_.Summary("uploads") - uploads_before, uploaded);

    TakeOverWorkServer();
    work_server_.SetReply(Head(kRecordSize) + std::string(kRecordSize, '\0'));
    for (size_t n = 0; n < Head(kRecordSize).size(); ++n) {
        work_server_.SetCut(n);
        UploadOfCutVerdict(entry, 0, "head cut at " + std::to_string(n));
        EXPECT_EQ(work_server_.requests(), static_cast<long>(n + 1))
            << "head cut at " << n << " never reached the server";
    }
}

INSTANTIATE_TEST_SUITE_P(Transports, ServerCutTest, ::testing::Values(0u, 1u),
                         [](const ::testing::TestParamInfo<uint32_t>& info) {
                             return std::string(info.param == 0 ? "BuiltIn" : "System");
                         });
