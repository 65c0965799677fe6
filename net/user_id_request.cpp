// A new user ID from the assignment servers: one attempt (RequestUserID) and
// the patient version the settings loader uses when none is stored.
#include <cstring>

#include "log/log.h"
#include "net/assignment.h"
#include "net/network_permission.h"
#include "net/server_access.h"
#include "support/format.h"
#include "support/retry_backoff.h"

namespace {

constexpr uint32_t kFirstWaitMs = 5000;
constexpr uint32_t kLongestWaitMs = 2880000;
constexpr uint32_t kSpreadMs = 15000;
constexpr uint32_t kRetries = 10;

}  // namespace

int RequestUserID(const ServerAccess& access, uint64_t* user_id) {
    AssignmentRequest request;
    uint8_t reply[kUserIdReplySize] = {};
    LogAt(kLogDiagnostic, "- Getting ID from AS: \n");
    BuildAssignmentRequest(access.identity, &request, kPacketUserId, 0.0f);
    AskNetworkPermission(access.permission);
    const AssignmentExchange exchange{request.bytes, kAssignmentRequestSize, reply,
                                      kUserIdReplySize};
    if (ExchangeWithPrimary(access.transport, exchange) != 0) {
        LogAt(kLogNormal, "+ Could not connect to Primary Assignment Server for ID\n");
        if (ExchangeWithSecondary(access.transport, exchange) != 0) {
            LogAt(kLogNormal, "+ Could not connect to Secondary Assignment Server for ID\n");
            return -1;
        }
    }
    if (user_id != nullptr) *user_id = ReadUserIdReply(reply);
    return 0;
}

int ObtainUserID(const ServerAccess& access, char* text, uint64_t size) {
    if (text == nullptr || size == 0) return -1;
    text[0] = '\0';
    RetryBackoff(kFirstWaitMs, kLongestWaitMs, kSpreadMs);
    uint64_t id = 0;
    int result = RequestUserID(access, &id);
    for (uint32_t retry = 0; result != 0 && retry < kRetries; ++retry) {
        LogAt(kLogNormal, "\n+ Could not get ID from server. Retrying...\n");
        RetryBackoff(0, 0, 0);
        result = RequestUserID(access, &id);
    }
    if (result != 0) return -1;
    const uint64_t room = size < 101 ? size : 101;  // the text holds at most 100 characters
    v3StringPrint(text, room, "%Y", id);
    return 0;
}
