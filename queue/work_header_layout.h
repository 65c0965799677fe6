// The 512-byte work header: the work request (type 100), the results upload
// (300) and the work server's replies (200, 400 and the rejections), and the
// copy of a reply that a Queue entry keeps in queue.dat. One table for both:
// the stored header is the received one, field for field.
//
// On the wire every field is big-endian except server_address and
// server_port of a reply, which the work servers send little-endian (the
// first octet of the address in the most significant byte of the value).
// Stored, the fields the client reads are little-endian on every CPU.
#pragma once

#include <cstddef>

inline constexpr size_t kWorkHeaderBytes = 512;

inline constexpr size_t kWhPacketType = 0;
inline constexpr size_t kWhCoreType = 4;
inline constexpr size_t kWhProtocolVersion = 8;
inline constexpr size_t kWhPayloadSize = 12;
inline constexpr size_t kWhMachineId = 84;
inline constexpr size_t kWhServerAddress = 88;
inline constexpr size_t kWhServerPort = 92;
inline constexpr size_t kWhCoreName = 96;       // char[64]
inline constexpr size_t kWhUserName = 160;      // char[64]
inline constexpr size_t kWhTeam = 224;          // char[64]
inline constexpr size_t kWhClientId = 288;      // u64
inline constexpr size_t kWhBenchmark = 296;     // u64
inline constexpr size_t kWhUploadFlagA = 304;
inline constexpr size_t kWhUploadFlagB = 308;
inline constexpr size_t kWhCpuType = 312;
inline constexpr size_t kWhOsType = 316;
inline constexpr size_t kWhDeadlineSeconds = 320;  // i32
inline constexpr size_t kWhDoneFromServer = 324;
inline constexpr size_t kWhZeroTail = 328;         // 184 zero bytes to the end
static_assert(kWhZeroTail + 184 == kWorkHeaderBytes, "work header layout");
