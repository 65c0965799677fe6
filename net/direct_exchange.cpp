// The packet exchange over the built-in HTTP client.
#include <memory>
#include <new>

#include "client/client_state.h"
#include "log/log.h"
#include "net/connection.h"
#include "support/format.h"

namespace {

// Closes the connection when the exchange leaves without handing it out.
struct OwnedConnection {
    std::unique_ptr<v3HTTPConnection> conn{new (std::nothrow) v3HTTPConnection{}};
    ~OwnedConnection() {
        if (conn) v3HTTPClose(conn.get());
    }
};

const char* GivenOrNull(const char* text) { return text[0] != '\0' ? text : nullptr; }

}  // namespace

int CliHTTPRecv(void* buf, uint32_t* count, v3HTTPConnection* conn, uint32_t length,
                uint32_t timeout_ms) {
    if (count != nullptr) *count = 0;
    if (buf == nullptr || count == nullptr || conn == nullptr) return kHTTPErrArgument;
    auto* out = static_cast<uint8_t*>(buf);
    if (length < 2) return v3HTTPRecv(out, count, conn, length, timeout_ms);

    uint32_t got = 0;
    if (const int r = v3HTTPRecv(out, &got, conn, 2, timeout_ms); r != kHTTPOk || got < 2) {
        *count = got;
        return r;
    }
    const unsigned initial = static_cast<unsigned>(out[0]) | static_cast<unsigned>(out[1]) << 8;
    if (LogLevelOn(9)) LogPrint("Initial: %04X ", initial);
    if (out[0] == '\r' && out[1] == '\n') {
        // Some servers put a line end before the record; only one is dropped.
        if (LogLevelOn(9)) LogPrint("CliHTTPRecv: Got seq (%04X), ignoring\n", initial);
        return v3HTTPRecv(out, count, conn, length, timeout_ms);
    }
    const int r = v3HTTPRecv(out + 2, &got, conn, length - 2, timeout_ms);
    *count = 2 + got;
    return r;
}

int CliHTTPPost(const char* host, uint16_t port, const void* request, uint32_t request_length,
                void* reply, uint32_t reply_length, int keep_open, CliConnection* handle_out) {
    if (keep_open && handle_out != nullptr) *handle_out = CliConnection{kConnectionDirect, nullptr};
    if (host == nullptr) return -1;
    OwnedConnection owned;
    if (!owned.conn) return -1;
    v3HTTPConnection* conn = owned.conn.get();

    char url[160];
    v3StringPrint(url, sizeof url, "http://%.128s:%u/", host, static_cast<uint32_t>(port));
    if (LogLevelOn(5)) LogPrint("Connecting to %s\n", url);
    const ClientState& s = gClientState;
    if (v3HTTPOpen(conn, url, s.proxy.address, s.proxy.port, GivenOrNull(s.proxy.name),
                   GivenOrNull(s.proxy.password), nullptr, nullptr) != kHTTPOk) {
        if (LogLevelOn(5)) LogPrint("- Could not v3HTTPOpen\n");
        return -1;
    }
    uint32_t status = 0;
    if (v3HTTPPost(conn, &status, "/", request, request_length, kExchangeTimeoutMs) != kHTTPOk ||
        (status != 200 && status != 100)) {
        if (LogLevelOn(3)) LogPrint("- Couldn't send HTTP request to server\n");
        return -1;
    }
    uint32_t count = 0;
    if (CliHTTPRecv(reply, &count, conn, reply_length, kExchangeTimeoutMs) != kHTTPOk ||
        count != reply_length) {
        return -1;
    }
    if (!keep_open) return 0;
    if (handle_out == nullptr) return -1;
    handle_out->record = owned.conn.release();
    return 0;
}
