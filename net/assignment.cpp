#include "net/assignment.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "build_options.h"
#include "log/log.h"
#include "net/network_permission.h"
#include "net/server_access.h"
#include "net/transport.h"
#include "support/text.h"

namespace {

std::atomic<uint16_t> g_server_port{kPrimaryAssignmentPort};

// The news is replaced by the client thread and may be read by any other.
std::mutex g_news_lock;
char g_news[kNewsTextMax + 1] = {};

int Exchange(Transport& transport, const char* host, uint16_t port, const AssignmentExchange& x) {
    if (transport.Post(host, port, x.request, x.request_length, x.reply, x.reply_length, nullptr) != 0) {
        return -1;
    }
    g_server_port.store(port);
    return 0;
}

void KeepNews(const char* news) {
    if (std::strlen(news) > kNewsTextMax) return;
    std::lock_guard<std::mutex> hold(g_news_lock);
    std::strcpy(g_news, news);
}

}  // namespace

int ExchangeWithPrimary(Transport& transport, const AssignmentExchange& exchange) {
    return Exchange(transport, QRV_ASSIGN_HOST_PRIMARY, kPrimaryAssignmentPort, exchange);
}

int ExchangeWithSecondary(Transport& transport, const AssignmentExchange& exchange) {
    return Exchange(transport, QRV_ASSIGN_HOST_SECONDARY, kSecondaryAssignmentPort, exchange);
}

uint16_t CurrentServerPort() { return g_server_port.load(); }

void ResetAssignmentState() {
    g_server_port.store(kPrimaryAssignmentPort);
    std::lock_guard<std::mutex> hold(g_news_lock);
    g_news[0] = '\0';
}

void CopyNewsText(char* out, size_t size) {
    if (out == nullptr || size == 0) return;
    std::lock_guard<std::mutex> hold(g_news_lock);
    const size_t n = std::min(std::strlen(g_news), size - 1);
    std::memcpy(out, g_news, n);
    out[n] = '\0';
}

int RequestAssignment(const ServerAccess& access, AssignmentReply* reply, float performance_fraction) {
    if (reply == nullptr) return -1;
    AssignmentRequest request;
    BuildAssignmentRequest(access.identity, &request, kPacketAssignment, performance_fraction);
    AssignmentReplyRecord record{};
    const AssignmentExchange exchange{request.bytes, kAssignmentRequestSize, record.bytes,
                                      kAssignmentReplySize};

    LogAt(kLogNormal, "- Connecting to assignment server\n");
    AskNetworkPermission(access.permission);
    if (ExchangeWithPrimary(access.transport, exchange) != 0) {
        LogAt(kLogNormal, "+ Could not connect to Assignment Server\n");
        if (ExchangeWithSecondary(access.transport, exchange) != 0) {
            LogAt(kLogNormal, "+ Could not connect to Assignment Server 2\n");
            return -1;
        }
    }

    ReadAssignmentReply(reply, record);
    // The news goes to the console and the log as the server wrote it, so
    // its escapes and line breaks are made harmless first.
    v3StrMaskControls(reply->news, sizeof reply->news);
    const uint32_t a = reply->server_address;
    LogAt(kLogNormal, "- Successful: assigned to (%u.%u.%u.%u).\n", a >> 24, (a >> 16) & 0xFF,
          (a >> 8) & 0xFF, a & 0xFF);
    LogAt(kLogNormal, "+ News From Quorvel: %s\n", reply->news);
    KeepNews(reply->news);
    return 0;
}
