#include "net/connection.h"

#include "client/client_state.h"
#include "log/log.h"
#include "net/system_transport.h"

int CliSendPacket(const char* host, uint16_t port, const void* request, uint32_t request_length,
                  void* reply, uint32_t reply_length, int keep_open, CliConnection* handle_out) {
    if (gClientState.usereg) {
        return CliWinINetPost(host, port, request, request_length, reply, reply_length, keep_open,
                              handle_out);
    }
    return CliHTTPPost(host, port, request, request_length, reply, reply_length, keep_open,
                       handle_out);
}

namespace {

int ReadDirect(CliConnection* conn, void* buf, uint32_t length, int keep_open) {
    auto* record = static_cast<v3HTTPConnection*>(conn->record);
    int result = 0;
    if (length > 0) {
        uint32_t count = 0;
        if (v3HTTPRecv(buf, &count, record, length, kExchangeTimeoutMs) != kHTTPOk ||
            count != length) {
            result = -1;
        }
    }
    if (!keep_open) {
        v3HTTPClose(record);
        delete record;
        conn->record = nullptr;
    }
    return result;
}

int ReadSystem(CliConnection* conn, void* buf, uint32_t length, int keep_open) {
    auto* request = static_cast<SystemRequest*>(conn->record);
    int result = 0;
    if (length > 0) {
        // The system transport reports a body that ends early as the end of
        // data, not as a failure. A record or unit shorter than asked for is
        // refused all the same, as the built-in transport refuses it: taken
        // as whole, its missing tail would read as zeros (an assignment to
        // 0.0.0.0, a unit padded with zeros and computed for nothing).
        uint32_t got = 0;
        result = SystemRequestRead(request, buf, length, &got);
        if (result == 0 && got < length) result = -1;
    }
    if (!keep_open) {
        SystemRequestClose(request);
        conn->record = nullptr;
    }
    return result;
}

}  // namespace

int doReadBytes(CliConnection* conn, void* buf, uint32_t length, int keep_open) {
    if (conn == nullptr) {
        if (LogLevelOn(3)) LogPrint("Empty connection\n");
        return -1;
    }
    if (conn->kind != kConnectionDirect && conn->kind != kConnectionSystem) {
        if (LogLevelOn(3)) LogPrint("Bad connection type received by doReadBytes\n");
        return -1;
    }
    if (conn->record == nullptr) {
        if (LogLevelOn(3)) LogPrint("Connection not vaild for doReadBytes\n");
        return -1;
    }
    if (buf == nullptr && length > 0) return -1;
    if (conn->kind == kConnectionDirect) return ReadDirect(conn, buf, length, keep_open);
    return ReadSystem(conn, buf, length, keep_open);
}
