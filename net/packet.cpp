#include "net/packet.h"

#include <cstring>

#include "net/client_identity.h"
#include "net/packet_fields.h"
#include "support/platform_codes.h"
#include "version.h"
#include "support/memory.h"

namespace {

// What kind of work this client asks for: the test-team switches of the
// command line win over the configured client type.
uint16_t WorkPreference(const ClientIdentity& s) {
    if (s.betateam) return 4;
    if (s.advmethods) return 3;
    if (s.internal) return 5;
    return s.client_type;
}

// The wire has 32 bits for the memory size; larger machines report the most
// it can carry.
uint64_t MemorySize32() {
    const uint64_t total = v3TotalMemory();
    return total > 0xFFFFFFFFu ? 0xFFFFFFFFu : total;
}

}  // namespace

int BuildAssignmentRequest(const ClientIdentity& s, AssignmentRequest* request, uint32_t type,
                           float performance_fraction) {
    if (request == nullptr) return -1;
    uint8_t* r = request->bytes;
    std::memset(r, 0, kAssignmentRequestSize);
    if (type != kPacketAssignment && type != kPacketUserId) return -1;
    PutBE32(r, kAsqPacketType, type);
    PutTextField(r, kAsqClientVersion, 8, kClientVersion);
    PutBE32(r, kAsqOneA, 1);
    PutBE32(r, kAsqCpuType, GetCpuType());
    PutBE32(r, kAsqOneB, 1);
    PutBE32(r, kAsqOsType, GetOsType());
    PutSettingField(s.config, r, kAsqUserName, kPacketNameField, "settings", "username");
    PutSettingField(s.config, r, kAsqTeam, kPacketNameField, "settings", "team");
    if (type == kPacketUserId) return 0;
    PutBE64(r, kAsqBenchmark, s.benchmark);
    PutBE64(r, kAsqUserId, s.user_id);
    PutBE64(r, kAsqMemorySize, MemorySize32());
    PutBE16(r, kAsqWorkPreference, WorkPreference(s));
    PutBE16(r, kAsqEdition, static_cast<uint16_t>(s.edition_code & 0xFFFF));
    uint32_t bits = 0;
    std::memcpy(&bits, &performance_fraction, sizeof bits);
    PutBE32(r, kAsqPerformanceFraction, bits);
    return 0;
}

void ReadAssignmentReply(AssignmentReply* out, const AssignmentReplyRecord& record) {
    if (out == nullptr) return;
    const uint8_t* r = record.bytes;
    out->server_address = GetBE32(r, kAsrServerAddress);
    GetTextField(out->core_location, r, kAsrCoreLocation, 127);
    out->download_options = r[kAsrDownloadOptions];
    GetTextField(out->news, r, kAsrNews, 128);
}

uint64_t ReadUserIdReply(const uint8_t reply[kUserIdReplySize]) {
    return reply != nullptr ? GetBE64(reply, 0) : 0;
}
