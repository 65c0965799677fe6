// The binary records exchanged with the assignment servers, and the packet
// type numbers. Every integer on the wire is big-endian unless noted; text
// fields are zero-terminated inside their fixed width. Records are built and
// read field by field at the byte offsets below, never from host memory.
#pragma once

#include <cstddef>
#include <cstdint>

struct ClientIdentity;

// Packet types: the first 32-bit word of every record but the user-ID reply.
inline constexpr uint32_t kPacketAssignment = 10;      // which work server to use
inline constexpr uint32_t kPacketUserId = 11;          // a new user ID
inline constexpr uint32_t kPacketWorkRequest = 100;
inline constexpr uint32_t kPacketWorkAssignment = 200;
inline constexpr uint32_t kPacketResults = 300;
inline constexpr uint32_t kPacketResultsAccepted = 400;
inline constexpr uint32_t kPacketStoredWork = 500;     // type word of a stored assignment

// Assignment request (types 10 and 11), 432 bytes.
inline constexpr size_t kAssignmentRequestSize = 432;
inline constexpr size_t kAsqPacketType = 0;
inline constexpr size_t kAsqBenchmark = 8;              // u64
inline constexpr size_t kAsqUserId = 16;                // u64
inline constexpr size_t kAsqClientVersion = 24;         // char[8]
inline constexpr size_t kAsqOneA = 32;                  // always 1
inline constexpr size_t kAsqCpuType = 36;
inline constexpr size_t kAsqOneB = 40;                  // always 1
inline constexpr size_t kAsqOsType = 44;
inline constexpr size_t kAsqUserName = 48;              // char[64]
inline constexpr size_t kAsqTeam = 112;                 // char[64]
inline constexpr size_t kAsqMemorySize = 176;           // u64, high word zero
inline constexpr size_t kAsqWorkPreference = 184;       // u16
inline constexpr size_t kAsqEdition = 186;              // u16
inline constexpr size_t kAsqPerformanceFraction = 188;  // the float's 32 bits
inline constexpr size_t kAsqZeroTail = 192;             // 240 zero bytes to the end
static_assert(kAsqZeroTail + 240 == kAssignmentRequestSize, "assignment request layout");

// Assignment reply (answer to type 10), 260 bytes.
inline constexpr size_t kAssignmentReplySize = 260;
inline constexpr size_t kAsrServerAddress = 0;    // u32, 0 is invalid
inline constexpr size_t kAsrCoreLocation = 4;     // char[127]
inline constexpr size_t kAsrDownloadOptions = 131;
inline constexpr size_t kAsrNews = 132;           // char[128]
static_assert(kAsrNews + 128 == kAssignmentReplySize, "assignment reply layout");

// User-ID reply (answer to type 11): one u64.
inline constexpr size_t kUserIdReplySize = 8;

// Text fields of 64 bytes hold at most 63 characters.
inline constexpr size_t kPacketNameField = 64;

struct AssignmentRequest {
    uint8_t bytes[kAssignmentRequestSize];
};
static_assert(sizeof(AssignmentRequest) == kAssignmentRequestSize, "assignment request size");

struct AssignmentReplyRecord {
    uint8_t bytes[kAssignmentReplySize];
};
static_assert(sizeof(AssignmentReplyRecord) == kAssignmentReplySize, "assignment reply size");

// The assignment reply read out of its record. The texts always end within
// their arrays, even when the server filled the whole field.
struct AssignmentReply {
    uint32_t server_address;        // host order: a.b.c.d is a * 2^24 + ... + d
    char core_location[127 + 1];
    uint8_t download_options;
    char news[128 + 1];
};

// Fills a request of type 10 or 11 from identity, starting from all zero. Type 11 carries only the identity fields (user name, team, version,
// the two constant words, processor and system codes). performance_fraction
// is sent as the 32 bits of the float (type 10 only). 0, or -1 for any other
// type (the record is then all zero).
int BuildAssignmentRequest(const ClientIdentity& identity, AssignmentRequest* request, uint32_t type,
                           float performance_fraction);

// Reads an assignment reply record. Never fails.
void ReadAssignmentReply(AssignmentReply* out, const AssignmentReplyRecord& record);

// The user ID of an 8-byte user-ID reply.
uint64_t ReadUserIdReply(const uint8_t reply[kUserIdReplySize]);
