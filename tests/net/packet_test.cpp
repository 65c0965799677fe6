// The wire records, byte by byte at their offsets.
#include <cstring>
#include <string>

#include "support/platform_codes.h"
#include "config/config_file.h"
#include "config/client_type.h"
#include "net/packet.h"
#include "net/work_header.h"
#include "net_test_support.h"
#include "support/memory.h"

namespace {

uint32_t BE32(const uint8_t* p, size_t at) {
    return static_cast<uint32_t>(p[at]) << 24 | static_cast<uint32_t>(p[at + 1]) << 16 |
           static_cast<uint32_t>(p[at + 2]) << 8 | p[at + 3];
}
uint64_t BE64(const uint8_t* p, size_t at) {
    return static_cast<uint64_t>(BE32(p, at)) << 32 | BE32(p, at + 4);
}
uint16_t BE16(const uint8_t* p, size_t at) { return static_cast<uint16_t>(p[at] << 8 | p[at + 1]); }
std::string Field(const uint8_t* p, size_t at, size_t width) {
    return std::string(reinterpret_cast<const char*>(p + at), width);
}
std::string Text(const char* text, size_t width) {
    std::string field(width, '\0');
    std::memcpy(field.data(), text, std::strlen(text));
    return field;
}
bool AllZero(const uint8_t* p, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
        if (p[i] != 0) return false;
    }
    return true;
}

class PacketTest : public qrvnet::NetTest {
protected:
    void SetUp() override {
        qrvnet::NetTest::SetUp();
        identity_.config = &config_;
        SetSetting("username", "alice");
        SetSetting("team", "1234");
        ClientIdentity& s = identity_;
        s.user_id = 0x00000001FFFFFFFFull;
        s.machine_id = 3;
        s.benchmark = 0x0102030405060708ull;
        s.edition_code = 0x00050002;
        s.client_type = 1;
    }
    void TearDown() override {
        v3ConfigDestroy(&config_);
        qrvnet::NetTest::TearDown();
    }
    void SetSetting(const char* key, const char* value) {
        ASSERT_EQ(v3ConfigSet(&config_, "settings", key, value), 0);
    }

    v3Config config_{};
};

TEST_F(PacketTest, WorkRequestHeaderCarriesEveryFieldBigEndian) {
    WorkHeader h{};
    std::memset(h.bytes, 0xEE, sizeof h.bytes);  // what an earlier use left behind
    StoreHeaderWord(h.bytes, kWhCoreType, 101);
    StoreHeaderWord(h.bytes, kWhDoneFromServer, 2);
    ASSERT_EQ(BuildClientHeader(identity_, kPacketWorkRequest, 999, 0x0A000001, h.bytes), 0);
    const uint8_t* p = h.bytes;

    EXPECT_EQ(BE32(p, 0), 100u);
    EXPECT_EQ(BE32(p, 4), 101u);
    // 324 on the wire, whatever the CPU.
    EXPECT_EQ(Field(p, 8, 4), std::string("\x00\x00\x01\x44", 4));
    EXPECT_EQ(BE32(p, 12), 0u);  // a work request carries no payload
    EXPECT_EQ(BE32(p, 84), 3u);
    EXPECT_EQ(Field(p, 88, 4), std::string("\x0A\x00\x00\x01", 4));
    EXPECT_EQ(Field(p, 160, 64), Text("alice", 64));
    EXPECT_EQ(Field(p, 224, 64), Text("1234", 64));
    // The sum carries into the high word.
    EXPECT_EQ(BE64(p, 288), 0x0000000200000002ull);
    EXPECT_EQ(BE64(p, 296), 0x0102030405060708ull);
    EXPECT_EQ(BE32(p, 312), GetCpuType());
    EXPECT_EQ(BE32(p, 316), GetOsType());
    EXPECT_EQ(BE32(p, 324), 2u);
    EXPECT_TRUE(AllZero(p, 328, 512));
    // Fields a work request does not set keep the buffer's bytes.
    EXPECT_EQ(p[16], 0xEE);
    EXPECT_EQ(p[96], 0xEE);
    EXPECT_EQ(p[304], 0xEE);
}

TEST_F(PacketTest, TeamTooLongIsSentAsZeroAndUnsentNamesLeaveNothingBehind) {
    SetSetting("team", std::string(64, '7').c_str());
    SetSetting("username", std::string(64, 'n').c_str());
    WorkHeader h{};
    std::memset(h.bytes, 'Z', sizeof h.bytes);
    StoreHeaderWord(h.bytes, kWhCoreType, 201);
    ASSERT_EQ(BuildClientHeader(identity_, kPacketResults, 4096, 0x7F000001, h.bytes), 0);
    EXPECT_EQ(Field(h.bytes, 224, 64), Text("0", 64));
    EXPECT_EQ(Field(h.bytes, 160, 64), std::string(64, '\0'));

    // Unset: the same "0".
    ASSERT_EQ(v3ConfigSet(&config_, "settings", "team", nullptr), 0);
    ASSERT_EQ(BuildClientHeader(identity_, kPacketResults, 4096, 0x7F000001, h.bytes), 0);
    EXPECT_EQ(Field(h.bytes, 224, 64), Text("0", 64));
}

TEST_F(PacketTest, ResultsHeaderKeepsTheUnitsFieldsAndSetsTheUploadFlags) {
    WorkHeader h{};
    std::memset(h.bytes, 0x5A, sizeof h.bytes);
    StoreHeaderWord(h.bytes, kWhCoreType, 0x78);
    ASSERT_EQ(BuildClientHeader(identity_, kPacketResults, 70000, 0xC0A80001, h.bytes), 0);
    const uint8_t* p = h.bytes;
    EXPECT_EQ(BE32(p, 0), 300u);
    EXPECT_EQ(BE32(p, 4), 0x78u);
    EXPECT_EQ(BE32(p, 12), 70000u);
    EXPECT_EQ(BE32(p, 88), 0xC0A80001u);
    EXPECT_EQ(BE32(p, 304), 1u);
    EXPECT_EQ(BE32(p, 308), 1u);
    EXPECT_TRUE(AllZero(p, 328, 512));
    // The rest is the stored unit's and stays.
    EXPECT_EQ(BE32(p, 92), 0x5A5A5A5Au);
    EXPECT_EQ(BE64(p, 296), 0x5A5A5A5A5A5A5A5Aull);
    EXPECT_EQ(BE32(p, 324), 0x5A5A5A5Au);
}

TEST_F(PacketTest, OnlyRequestAndUploadHeadersAreBuilt) {
    WorkHeader h{};
    StoreHeaderWord(h.bytes, kWhCoreType, 7);
    EXPECT_EQ(BuildClientHeader(identity_, kPacketWorkAssignment, 0, 1, h.bytes), -1);
    // The common fields were written all the same.
    EXPECT_EQ(BE32(h.bytes, 4), 7u);
    EXPECT_EQ(BE32(h.bytes, 8), 324u);
    EXPECT_EQ(BE32(h.bytes, 0), 0u);
    EXPECT_EQ(BuildClientHeader(identity_, kPacketWorkRequest, 0, 1, nullptr), -1);
}

TEST_F(PacketTest, WorkAssignmentReplyIsTurnedIntoStoredOrder) {
    WorkHeader h{};
    const uint8_t wire[] = {0x00, 0x00, 0x00, 0xC8,   // packet_type 200
                            0x00, 0x00, 0x00, 0x78,   // core_type
                            0x00, 0x00, 0x01, 0x44,   // protocol_version
                            0x00, 0x01, 0x00, 0x00};  // payload_size 65536
    std::memcpy(h.bytes, wire, sizeof wire);
    const uint8_t address[] = {0x01, 0x00, 0x00, 0x0A, 0x90, 0x1F, 0x00, 0x00};
    std::memcpy(h.bytes + kWhServerAddress, address, sizeof address);
    const uint8_t deadline[] = {0x00, 0x09, 0x3A, 0x80};  // 604800 s
    std::memcpy(h.bytes + kWhDeadlineSeconds, deadline, sizeof deadline);
    std::memcpy(h.bytes + kWhCoreName, "Gromacs", 7);

    WorkHeaderFromWire(h.bytes);
    EXPECT_EQ(LoadHeaderWord(h.bytes, kWhPacketType), 200u);
    EXPECT_EQ(LoadHeaderWord(h.bytes, kWhCoreType), 0x78u);
    EXPECT_EQ(LoadHeaderWord(h.bytes, kWhProtocolVersion), 324u);
    EXPECT_EQ(LoadHeaderWord(h.bytes, kWhPayloadSize), 65536u);
    EXPECT_EQ(LoadHeaderWord(h.bytes, kWhDeadlineSeconds), 604800u);
    // The address and port arrive little-endian: 01 00 00 0A is 10.0.0.1.
    EXPECT_EQ(LoadHeaderWord(h.bytes, kWhServerAddress), 0x0A000001u);
    EXPECT_EQ(LoadHeaderWord(h.bytes, kWhServerPort), 8080u);
    // Stored order is what queue.dat keeps: little-endian bytes.
    EXPECT_EQ(Field(h.bytes, 0, 4), std::string("\xC8\x00\x00\x00", 4));
    EXPECT_EQ(Field(h.bytes, kWhCoreName, 8), std::string("Gromacs\0", 8));
}

TEST_F(PacketTest, AssignmentRequestForAServerHasEveryFieldAtItsOffset) {
    identity_.advmethods = 1;
    AssignmentRequest r{};
    std::memset(r.bytes, 0xEE, sizeof r.bytes);
    ASSERT_EQ(BuildAssignmentRequest(identity_, &r, kPacketAssignment, 0.75f), 0);
    const uint8_t* p = r.bytes;
    EXPECT_EQ(BE32(p, 0), 10u);
    EXPECT_EQ(BE32(p, 4), 0u);
    EXPECT_EQ(BE64(p, 8), 0x0102030405060708ull);
    EXPECT_EQ(BE64(p, 16), 0x00000001FFFFFFFFull);
    EXPECT_EQ(Field(p, 24, 8), Text("3.24", 8));
    EXPECT_EQ(BE32(p, 32), 1u);
    EXPECT_EQ(BE32(p, 36), GetCpuType());
    EXPECT_EQ(BE32(p, 40), 1u);
    EXPECT_EQ(BE32(p, 44), GetOsType());
    EXPECT_EQ(Field(p, 48, 64), Text("alice", 64));
    EXPECT_EQ(Field(p, 112, 64), Text("1234", 64));
    const uint64_t memory = v3TotalMemory();
    EXPECT_EQ(BE64(p, 176), memory > 0xFFFFFFFFu ? 0xFFFFFFFFu : memory);
    EXPECT_EQ(BE16(p, 184), 3);  // -advmethods
    EXPECT_EQ(BE16(p, 186), 2);  // low 16 bits of the edition code
    EXPECT_EQ(BE32(p, 188), 0x3F400000u);  // 0.75 as an IEEE single
    EXPECT_TRUE(AllZero(p, 192, 432));
}

TEST_F(PacketTest, WorkPreferenceTakesTheSwitchesInOrder) {
    AssignmentRequest r{};
    struct Case { uint16_t beta, adv, internal; uint16_t expected; };
    for (const Case c : {Case{1, 1, 1, 4}, Case{0, 1, 1, 3}, Case{0, 0, 1, 5}, Case{0, 0, 0, 1}}) {
        identity_.betateam = c.beta;
        identity_.advmethods = c.adv;
        identity_.internal = c.internal;
        ASSERT_EQ(BuildAssignmentRequest(identity_, &r, kPacketAssignment, 0), 0);
        EXPECT_EQ(BE16(r.bytes, 184), c.expected);
    }
}

TEST_F(PacketTest, UserIdRequestCarriesOnlyTheIdentity) {
    SetSetting("team", std::string(64, '9').c_str());
    AssignmentRequest r{};
    std::memset(r.bytes, 0xEE, sizeof r.bytes);
    ASSERT_EQ(BuildAssignmentRequest(identity_, &r, kPacketUserId, 0.75f), 0);
    const uint8_t* p = r.bytes;
    EXPECT_EQ(BE32(p, 0), 11u);
    EXPECT_TRUE(AllZero(p, 4, 24));  // no benchmark, no user ID
    EXPECT_EQ(Field(p, 24, 8), Text("3.24", 8));
    EXPECT_EQ(BE32(p, 32), 1u);
    EXPECT_EQ(BE32(p, 40), 1u);
    EXPECT_EQ(Field(p, 48, 64), Text("alice", 64));
    // A team of 64 characters is refused whole: the field stays empty.
    EXPECT_EQ(Field(p, 112, 64), std::string(64, '\0'));
    EXPECT_TRUE(AllZero(p, 176, 432));

    EXPECT_EQ(BuildAssignmentRequest(identity_, &r, 12, 0), -1);
    EXPECT_TRUE(AllZero(r.bytes, 0, 432));
}

TEST_F(PacketTest, NoConfigurationLeavesTheNamesEmpty) {
    identity_.config = nullptr;
    AssignmentRequest r{};
    ASSERT_EQ(BuildAssignmentRequest(identity_, &r, kPacketUserId, 0), 0);
    EXPECT_TRUE(AllZero(r.bytes, 48, 176));
    WorkHeader h{};
    ASSERT_EQ(BuildClientHeader(identity_, kPacketWorkRequest, 0, 1, h.bytes), 0);
    EXPECT_EQ(Field(h.bytes, 224, 2), std::string("0\0", 2));
}

TEST_F(PacketTest, AssignmentAndUserIdRepliesAreRead) {
    AssignmentReplyRecord record{};
    const uint8_t address[] = {0x0A, 0x00, 0x00, 0x01};
    std::memcpy(record.bytes, address, 4);
    // A location that fills its whole field without a terminator.
    std::memset(record.bytes + kAsrCoreLocation, 'L', 127);
    record.bytes[kAsrDownloadOptions] = 0x10;
    std::memcpy(record.bytes + kAsrNews, "Welcome back", 12);
    AssignmentReply reply{};
    ReadAssignmentReply(&reply, record);
    EXPECT_EQ(reply.server_address, 0x0A000001u);
    EXPECT_EQ(std::string(reply.core_location), std::string(127, 'L'));
    EXPECT_EQ(reply.download_options, 0x10);
    EXPECT_EQ(std::string(reply.news), "Welcome back");

    std::memset(record.bytes + kAsrNews, 'N', 128);
    ReadAssignmentReply(&reply, record);
    EXPECT_EQ(std::string(reply.news), std::string(128, 'N'));

    const uint8_t id[] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
    EXPECT_EQ(ReadUserIdReply(id), 0x123456789ABCDEF0ull);
}

TEST_F(PacketTest, ClientTypeKeywords) {
    EXPECT_EQ(ClientTypeFromKeyword("tmx"), 2);
    EXPECT_EQ(ClientTypeFromKeyword("qrv"), 1);
    for (const char* other : {"QRV", "qrv ", "tm", "no-pref", "", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(ClientTypeFromKeyword(other), 0) << (other ? other : "(none)");
    }
    EXPECT_STREQ(ClientTypeKeyword(1), "qrv");
    EXPECT_STREQ(ClientTypeKeyword(2), "tmx");
    EXPECT_STREQ(ClientTypeKeyword(0), "no-pref");
    EXPECT_STREQ(ClientTypeKeyword(3), "no-pref");
}

}  // namespace
