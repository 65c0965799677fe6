// User IDs and work server assignments from the testbed's assignment servers:
// the order of trial, the current server port, the retries of a new ID, and
// the request records as the servers receive them.
#include <cstring>

#include "conversation_support.h"
#include "net/assignment.h"

using qrvconv::BE32;
using qrvconv::BE64;

class AssignmentTest : public qrvconv::ConversationTest {};

TEST_F(AssignmentTest, UserIdFromPrimaryThenSecondaryThenNone) {
    uint64_t id = 0;
    {
        qrvnet::ConsoleCapture console;
        ASSERT_EQ(RequestUserID(Access(), &id), 0);
        EXPECT_EQ(console.Text().find("Could not connect"), std::string::npos);
    }
    EXPECT_EQ(id, qrvconv::kFirstTestbedId);
    EXPECT_EQ(CurrentServerPort(), kPrimaryAssignmentPort);

    // The request as the primary received it: type 11, identity only.
    const auto asked = Journal("user_id");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0]["server"], "primary");
    EXPECT_EQ(asked[0]["problems"], "0");
    const std::string body = RequestBody(asked[0]);
    ASSERT_EQ(body.size(), 432u);
    EXPECT_EQ(BE32(body, 0), 11u);
    EXPECT_EQ(body.substr(24, 5), std::string("3.24\0", 5));
    EXPECT_EQ(BE32(body, 32), 1u);
    EXPECT_EQ(BE32(body, 40), 1u);
    EXPECT_STREQ(body.c_str() + 48, "Tester");
    EXPECT_STREQ(body.c_str() + 112, "77");
    EXPECT_EQ(BE64(body, 8), 0u) << "no benchmark in an ID request";
    EXPECT_EQ(BE64(body, 16), 0u) << "no user ID in an ID request";

    ASSERT_TRUE(Configure("primary", R"({"down": true})"));
    {
        qrvnet::ConsoleCapture console;
        ASSERT_EQ(RequestUserID(Access(), &id), 0);
        EXPECT_NE(console.Text().find("+ Could not connect to Primary Assignment Server for ID\n"),
                  std::string::npos);
    }
    EXPECT_EQ(id, qrvconv::kFirstTestbedId + 1);
    EXPECT_EQ(CurrentServerPort(), kSecondaryAssignmentPort);

    ASSERT_TRUE(Configure("secondary", R"({"down": true})"));
    qrvnet::ConsoleCapture console;
    EXPECT_EQ(RequestUserID(Access(), &id), -1);
    EXPECT_EQ(id, qrvconv::kFirstTestbedId + 1) << "a failure leaves the ID as it was";
    const std::string text = console.Text();
    EXPECT_NE(text.find("+ Could not connect to Primary Assignment Server for ID\n"), std::string::npos);
    EXPECT_NE(text.find("+ Could not connect to Secondary Assignment Server for ID\n"),
              std::string::npos);
}

TEST_F(AssignmentTest, ObtainUserIdSucceedsOnTheTenthRetryWithGrowingWaits) {
    // Ten attempts fail at both servers (each drops the request unanswered);
    // the eleventh, the tenth retry, is answered.
    std::string drops = "[";
    for (int i = 0; i < 10; ++i) drops += std::string(i ? "," : "") + R"({"drop": true})";
    drops += "]";
    ASSERT_TRUE(Configure("primary", R"({"next": )" + drops + "}"));
    ASSERT_TRUE(Configure("secondary", R"({"next": )" + drops + "}"));
    qrvconv::RecordedWaits().clear();
    v3SetSleepHook(qrvconv::RecordWait);
    char text[101];
    std::string said;
    {
        qrvnet::ConsoleCapture console;
        ASSERT_EQ(ObtainUserID(Access(), text, sizeof text), 0);
        said = console.Text();
    }
    // Dropped requests used up IDs too: the one that arrived is the last
    // one handed out, written in hexadecimal.
    const auto asked = Journal("user_id");
    ASSERT_EQ(asked.size(), 21u);
    const uint64_t last = std::strtoull(asked.back()["user_id_hex"].c_str(), nullptr, 16);
    EXPECT_EQ(std::strtoull(text, nullptr, 16), last);
    EXPECT_EQ(std::string(text).find_first_not_of("0123456789ABCDEF"), std::string::npos) << text;
    EXPECT_EQ(qrvconv::Count(said, "\n+ Could not get ID from server. Retrying...\n"), 10u);

    const auto& waits = qrvconv::RecordedWaits();
    ASSERT_EQ(waits.size(), 10u);
    for (size_t k = 0; k < waits.size(); ++k) {
        const uint32_t base = 5000u << k;
        EXPECT_GE(waits[k], base) << "wait " << k;
        EXPECT_LT(waits[k], base + 15000u) << "wait " << k;
    }
}

TEST_F(AssignmentTest, ObtainUserIdGivesUpAfterTenRetries) {
    ASSERT_TRUE(Configure("primary", R"({"down": true})"));
    ASSERT_TRUE(Configure("secondary", R"({"down": true})"));
    qrvconv::RecordedWaits().clear();
    v3SetSleepHook(qrvconv::RecordWait);
    char text[101] = "untouched";
    qrvnet::ConsoleCapture console;
    EXPECT_EQ(ObtainUserID(Access(), text, sizeof text), -1);
    EXPECT_EQ(qrvconv::RecordedWaits().size(), 10u);
    EXPECT_STREQ(text, "");
}

TEST_F(AssignmentTest, AssignmentNamesWorkServerAndKeepsNewsAndPort) {
    ASSERT_TRUE(Configure("primary", R"({"server_address": "10.0.0.1", "news": "Fresh units today",
                                         "download_options": 16})"));
    identity_.benchmark = 0x0000000100000002ull;
    identity_.edition_code = 2;
    identity_.client_type = 1;
    identity_.advmethods = 1;  // wins over the client type
    AssignmentReply reply{};
    {
        qrvnet::ConsoleCapture console;
        ASSERT_EQ(RequestAssignment(Access(), &reply, 0.25f), 0);
        const std::string text = console.Text();
        EXPECT_NE(text.find("- Connecting to assignment server\n"), std::string::npos);
        EXPECT_NE(text.find("- Successful: assigned to (10.0.0.1).\n"), std::string::npos);
        EXPECT_NE(text.find("+ News From Quorvel: Fresh units today\n"), std::string::npos);
    }
    EXPECT_EQ(reply.server_address, 0x0A000001u);
    EXPECT_STREQ(reply.core_location, "127.0.0.4:8081/cores");
    EXPECT_EQ(reply.download_options, 16);
    char news[200];
    CopyNewsText(news, sizeof news);
    EXPECT_STREQ(news, "Fresh units today");

    const auto asked = Journal("assignment");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0]["problems"], "0");
    const std::string body = RequestBody(asked[0]);
    ASSERT_EQ(body.size(), 432u);
    EXPECT_EQ(BE32(body, 0), 10u);
    EXPECT_EQ(BE64(body, 8), 0x0000000100000002ull);
    EXPECT_EQ(BE64(body, 16), qrvconv::kTestUserId);
    EXPECT_EQ(BE32(body, 188), 0x3E800000u) << "0.25 as the bits of a float, big-endian";
    EXPECT_EQ(uint8_t(body[184]), 0);
    EXPECT_EQ(uint8_t(body[185]), 3) << "work preference: -advmethods";
    EXPECT_EQ(uint8_t(body[187]), 2) << "edition";
    EXPECT_NE(BE64(body, 176), 0u) << "memory size";

    // News of 128 characters does not fit the kept text; the old news stays.
    // The secondary answers now, and a later answer of the primary brings
    // the port back.
    ASSERT_TRUE(Configure("secondary", R"({"news": ")" + std::string(128, 'N') + R"("})"));
    ASSERT_TRUE(Configure("primary", R"({"down": true})"));
    ASSERT_EQ(RequestAssignment(Access(), &reply, 0.0f), 0);
    EXPECT_EQ(CurrentServerPort(), kSecondaryAssignmentPort);
    EXPECT_EQ(std::strlen(reply.news), 128u);
    CopyNewsText(news, sizeof news);
    EXPECT_STREQ(news, "Fresh units today");

    ASSERT_TRUE(Configure("primary", R"({"down": false})"));
    ASSERT_EQ(RequestAssignment(Access(), &reply, 0.0f), 0);
    EXPECT_EQ(CurrentServerPort(), kPrimaryAssignmentPort);

    ASSERT_TRUE(Configure("primary", R"({"down": true})"));
    ASSERT_TRUE(Configure("secondary", R"({"down": true})"));
    qrvnet::ConsoleCapture console;
    EXPECT_EQ(RequestAssignment(Access(), &reply, 0.0f), -1);
    const std::string text = console.Text();
    EXPECT_NE(text.find("+ Could not connect to Assignment Server\n"), std::string::npos);
    EXPECT_NE(text.find("+ Could not connect to Assignment Server 2\n"), std::string::npos);
    EXPECT_EQ(CurrentServerPort(), kPrimaryAssignmentPort) << "no answer changes no port";
}

TEST_F(AssignmentTest, NewsWithEscapesAndLineBreaksIsPrintedAndKeptMasked) {
    // A news text that would clear the screen and forge a log line of its
    // own, then set attributes with the one-byte CSI, alone and as UTF-8.
    // The bytes go out as they are given, one per escape; the last two make
    // a U-umlaut in UTF-8, whose second byte 0x9C is no control.
    ASSERT_TRUE(Configure("primary", R"({"news": "Hi\u001b[2J\r\n+ Fake line\u007f \u00e9\u009b1m\u00c2\u009b0m \u00c3\u009c"})"));
    AssignmentReply reply{};
    std::string text;
    {
        qrvnet::ConsoleCapture console;
        ASSERT_EQ(RequestAssignment(Access(), &reply, 0.0f), 0);
        text = console.Text();
    }
    EXPECT_NE(text.find("+ News From Quorvel: Hi?[2J??+ Fake line? \xe9?1m??0m \xc3\x9c\n"), std::string::npos)
        << text;
    EXPECT_EQ(text.find('\x9b'), std::string::npos) << text;
    EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;
    EXPECT_EQ(text.find('\r'), std::string::npos) << text;
    char news[200];
    CopyNewsText(news, sizeof news);
    EXPECT_STREQ(news, "Hi?[2J??+ Fake line? \xe9?1m??0m \xc3\x9c");
}
