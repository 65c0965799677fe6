#include "net/work_header.h"

#include <cstring>
#include <initializer_list>

#include "net/client_identity.h"
#include "net/packet.h"
#include "net/packet_fields.h"
#include "support/byte_order.h"
#include "support/platform_codes.h"

namespace {

// The team as the work servers expect it: "0" stands for no team, also when
// the setting is too long to send.
void PutTeam(v3Config* config, uint8_t* header) {
    PutSettingField(config, header, kWhTeam, kPacketNameField, "settings", "team");
    if (header[kWhTeam] == '\0') header[kWhTeam] = '0';
}

void WriteCommonFields(const ClientIdentity& s, uint32_t server_address, uint8_t* h) {
    PutBE32(h, kWhCoreType, LoadHeaderWord(h, kWhCoreType));
    PutBE32(h, kWhProtocolVersion, kProtocolVersion);
    PutBE32(h, kWhMachineId, s.machine_id);
    PutBE64(h, kWhClientId, s.user_id + static_cast<uint64_t>(s.machine_id));
    PutBE32(h, kWhServerAddress, server_address);
    // Cleared first, so that a name that is not sent leaves nothing of what
    // the buffer held before (an earlier reply) behind.
    PutSettingField(s.config, h, kWhUserName, kPacketNameField, "settings", "username");
    PutTeam(s.config, h);
    PutBE32(h, kWhOsType, GetOsType());
    PutBE32(h, kWhCpuType, GetCpuType());
    std::memset(h + kWhZeroTail, 0, kWorkHeaderBytes - kWhZeroTail);
}

}  // namespace

uint32_t LoadHeaderWord(const uint8_t* header, size_t offset) { return LoadLE32(header + offset); }

void StoreHeaderWord(uint8_t* header, size_t offset, uint32_t value) {
    StoreLE32(header + offset, value);
}

int BuildClientHeader(const ClientIdentity& identity, uint32_t type, uint32_t payload_size,
                      uint32_t server_address, uint8_t* header) {
    if (header == nullptr) return -1;
    WriteCommonFields(identity, server_address, header);
    if (type == kPacketResults) {
        PutBE32(header, kWhPacketType, kPacketResults);
        PutBE32(header, kWhPayloadSize, payload_size);
        PutBE32(header, kWhUploadFlagA, 1);
        PutBE32(header, kWhUploadFlagB, 1);
        return 0;
    }
    if (type == kPacketWorkRequest) {
        PutBE32(header, kWhPacketType, kPacketWorkRequest);
        PutBE32(header, kWhPayloadSize, 0);
        PutBE64(header, kWhBenchmark, identity.benchmark);
        PutBE32(header, kWhDoneFromServer, LoadHeaderWord(header, kWhDoneFromServer));
        return 0;
    }
    return -1;
}

void WorkHeaderFromWire(uint8_t* header) {
    if (header == nullptr) return;
    for (const size_t offset :
         {kWhPacketType, kWhCoreType, kWhProtocolVersion, kWhPayloadSize, kWhDeadlineSeconds}) {
        StoreHeaderWord(header, offset, GetBE32(header, offset));
    }
}
