#include "conversation/result_upload.h"

#include <mutex>

#include "config/settings.h"
#include "log/log.h"
#include "net/client_identity.h"
#include "net/network_permission.h"
#include "net/server_access.h"
#include "net/transport.h"
#include "net/packet.h"
#include "net/packet_fields.h"
#include "net/work_header.h"
#include "support/file.h"
#include "support/format.h"

namespace {

// The process-wide upload buffer: the work header followed by the results,
// the server's reply read back over the header. It lives for the whole run
// so that a 2 MiB upload never depends on an allocation. Uploads are kept
// apart by the sending flag of their callers; the lock makes sure of it.
std::mutex g_upload_lock;
uint8_t g_upload[kWorkHeaderBytes + kMaxResultsPayload];

// Reads the results file behind the header. The byte count, 0 for a missing
// or empty file, or -1 when the file is there but cannot be read now (worth
// another try: the results still exist).
int64_t ReadResults(const char* results_file) {
    ScopedFile file;
    const int open = v3FileOpen(file.get(), results_file, kFileModeRead);
    if (open == kFileErrNotFound) return 0;
    if (open != kFileOk) return -1;
    uint64_t got = 0;
    if (v3FileRead(g_upload + kWorkHeaderBytes, &got, file.get(), kMaxResultsPayload) != kFileOk) {
        return -1;
    }
    return static_cast<int64_t>(got);
}

void AcceptedFollowUp(Settings& settings, const QueueEntry& entry) {
    if (entry.core_finished == 1) CountCompletedUnit(settings);
    char snapshot[32];
    v3StringPrint(snapshot, sizeof snapshot, "%scurrent.xyz", "work/");
    v3FileDelete(snapshot);
}

UploadResult Verdict(uint32_t reply, Settings& settings, const QueueEntry& entry) {
    switch (reply) {
        case 400:
            LogAt(kLogNormal, "+ Results successfully sent\n");
            LogAt(kLogNormal, "Thank you for your contribution to Quorvel.\n");
            AcceptedFollowUp(settings, entry);
            return kUploadOk;
        case 404:
            LogAt(kLogNormal, "- Server reports problem with unit.\n");
            return kUploadRefused;
        case 420:
            LogAt(kLogNormal, "- Core version used on unit below what server demands.\n");
            return kUploadRefused;
        case 430:
            LogAt(kLogNormal, "- Core type used on unit not what server demands.\n");
            return kUploadRefused;
        case 434:
            LogAt(kLogNormal, "- Server has already received unit.\n");
            return kUploadRefused;
        case 440:
            LogAt(kLogNormal, "- Server reports deadline for unit has passed.\n");
            return kUploadRefused;
        case 444:
            LogAt(kLogNormal, "- Server reports digital signature does not match.\n");
            LogAt(kLogNormal, "  (May be due to corruption during network transmission or a corrupted file.)\n");
            return kUploadFailed;
        case 450:
            LogAt(kLogNormal, "- Server reports packet it received specified a data size of 0.\n");
            LogAt(kLogNormal, "  (May be due to corruption during network transmission or a corrupted file.)\n");
            return kUploadFailed;
        case 454:
            LogAt(kLogNormal, "- Server reports packet it received an incomplete payload.\n");
            LogAt(kLogNormal, "  (May be due to packet loss during network transmission or a corrupted file.)\n");
            return kUploadFailed;
        default:
            LogAt(kLogNormal, "- Unknown packet returned from server, expected ACK for results\n");
            return kUploadFailed;
    }
}

}  // namespace

UploadResult SendResults(const ServerAccess& access, Settings& settings, const QueueEntry* entry,
                         const char* results_file) {
    if (entry == nullptr || results_file == nullptr) return kUploadUnusable;
    std::lock_guard<std::mutex> hold(g_upload_lock);
    LogWrite("\n\n");
    LogAt(kLogNormal, "+ Attempting to send results\n");
    LogAt(kLogFullTrace, "- Reading file %s from core\n", results_file);

    const int64_t count = ReadResults(results_file);
    if (count <= 0) {
        LogAt(kLogNormal, "- Error: Could not read results file %s from disk\n", results_file);
        return count == 0 ? kUploadUnusable : kUploadFailed;
    }
    const uint32_t size = static_cast<uint32_t>(count);
    LogAt(kLogDiagnostic, "  (Read %u bytes from disk)\n", size);
    const uint32_t address = entry->server_address();
    if (address == 0) {
        LogAt(kLogNormal, "- Error: Results file corrupt\n");
        return kUploadUnusable;
    }
    AskNetworkPermission(access.permission);

    StoreHeaderWord(g_upload, kWhCoreType, entry->core_type());
    BuildClientHeader(access.identity, kPacketResults, size, address, g_upload);
    char host[16];
    v3StringPrint(host, sizeof host, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF,
                  (address >> 8) & 0xFF, address & 0xFF);
    // The stored port word is 32 bits wide; only its low 16 bits name the port.
    const uint16_t port = static_cast<uint16_t>(entry->server_port() & 0xFFFF);
    if (access.transport.Post(host, port, g_upload, kWorkHeaderBytes + size, g_upload, kWorkHeaderBytes,
                              nullptr) != 0) {
        LogAt(kLogNormal, "+ Could not connect to Work Server (results)\n");
        return kUploadFailed;
    }
    return Verdict(GetBE32(g_upload, kWhPacketType), settings, *entry);
}
