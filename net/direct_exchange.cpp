// The exchanges of the built-in transport: a packet POST with its reply
// record, and a download's GET.
#include <new>

#include "log/log.h"
#include "net/direct_transport.h"
#include "support/format.h"

namespace {

const char* GivenOrNull(const char* text) { return text[0] != '\0' ? text : nullptr; }

// Reads until length bytes are in, the body has ended or a read failed; a
// single read stops where a window of the body's low-speed rule ends, and a
// record or unit that spans windows at a good rate must still come in whole.
// 0, or the failing read's code; *count receives the bytes placed in buf.
HttpResult RecvFull(uint8_t* out, uint32_t* count, v3HTTPConnection* conn, uint32_t length,
                    uint32_t timeout_ms) {
    *count = 0;
    while (*count < length) {
        uint32_t got = 0;
        const HttpResult r = v3HTTPRecv(out + *count, &got, conn, length - *count, timeout_ms);
        *count += got;
        if (r != kHTTPOk) return *count == 0 ? r : kHTTPOk;
        if (got == 0) break;
    }
    return kHTTPOk;
}

// One connection record, closed when the connection is closed or dropped.
class DirectConnection final : public Connection {
public:
    ~DirectConnection() override { Close(); }

    v3HTTPConnection* record() { return &conn_; }

    int Read(void* buf, uint32_t length) override {
        if (!open_ || (buf == nullptr && length > 0)) return -1;
        if (length == 0) return 0;
        uint32_t count = 0;
        return RecvFull(static_cast<uint8_t*>(buf), &count, &conn_, length, kExchangeTimeoutMs) ==
                               kHTTPOk &&
                       count == length
                   ? 0
                   : -1;
    }

    // A body ends by its own framing (length reached, last chunk, or the
    // server's close), so one that is a whole number of blocks long ends
    // cleanly, and one that is cut off fails.
    int ReadSome(void* buf, uint32_t length, uint32_t* got) override {
        *got = 0;
        if (!open_ || buf == nullptr) return -1;
        if (conn_.body_ended) return 0;
        uint32_t count = 0;
        const int r = v3HTTPRecv(buf, &count, &conn_, length, kExchangeTimeoutMs);
        if (r != kHTTPOk || (count == 0 && !conn_.body_ended)) {
            LogAt(kLogNormal, "Network Receive Timeout\n");
            return -1;
        }
        *got = count;
        return 0;
    }

    void Close() override {
        if (!open_) return;
        open_ = false;
        v3HTTPClose(&conn_);
    }

private:
    v3HTTPConnection conn_{};
    bool open_ = true;
};

int Open(DirectConnection* conn, const char* url, const ProxySettings& proxy) {
    return v3HTTPOpen(conn->record(), url, proxy.address, proxy.port, GivenOrNull(proxy.name),
                      GivenOrNull(proxy.password), nullptr, nullptr);
}

}  // namespace

HttpResult CliHTTPRecv(void* buf, uint32_t* count, v3HTTPConnection* conn, uint32_t length,
                       uint32_t timeout_ms) {
    if (count != nullptr) *count = 0;
    if (buf == nullptr || count == nullptr || conn == nullptr) return kHTTPErrArgument;
    auto* out = static_cast<uint8_t*>(buf);
    if (length < 2) return RecvFull(out, count, conn, length, timeout_ms);

    uint32_t got = 0;
    if (const HttpResult r = RecvFull(out, &got, conn, 2, timeout_ms); r != kHTTPOk || got < 2) {
        *count = got;
        return r;
    }
    const unsigned initial = static_cast<unsigned>(out[0]) | static_cast<unsigned>(out[1]) << 8;
    LogAt(kLogFullTrace, "Initial: %04X ", initial);
    if (out[0] == '\r' && out[1] == '\n') {
        // Some servers put a line end before the record; only one is dropped.
        LogAt(kLogFullTrace, "CliHTTPRecv: Got seq (%04X), ignoring\n", initial);
        return RecvFull(out, count, conn, length, timeout_ms);
    }
    const HttpResult r = RecvFull(out + 2, &got, conn, length - 2, timeout_ms);
    *count = 2 + got;
    return r;
}

int DirectTransport::Post(const char* host, uint16_t port, const void* request, uint32_t request_length,
                          void* reply, uint32_t reply_length, std::unique_ptr<Connection>* kept) {
    if (kept != nullptr) kept->reset();
    if (host == nullptr) return -1;
    std::unique_ptr<DirectConnection> conn(new (std::nothrow) DirectConnection);
    if (!conn) return -1;

    char url[160];
    v3StringPrint(url, sizeof url, "http://%.128s:%u/", host, static_cast<uint32_t>(port));
    LogAt(kLogConnection, "Connecting to %s\n", url);
    if (Open(conn.get(), url, proxy_) != kHTTPOk) {
        LogAt(kLogConnection, "- Could not v3HTTPOpen\n");
        return -1;
    }
    uint32_t status = 0;
    if (v3HTTPPost(conn->record(), &status, "/", request, request_length, kExchangeTimeoutMs) != kHTTPOk ||
        (status != 200 && status != 100)) {
        LogAt(kLogNormal, "- Couldn't send HTTP request to server\n");
        return -1;
    }
    uint32_t count = 0;
    if (CliHTTPRecv(reply, &count, conn->record(), reply_length, kExchangeTimeoutMs) != kHTTPOk ||
        count != reply_length) {
        return -1;
    }
    if (kept != nullptr) *kept = std::move(conn);
    return 0;
}

std::unique_ptr<Connection> DirectTransport::Get(const char* host, const char* path) {
    std::unique_ptr<DirectConnection> conn(new (std::nothrow) DirectConnection);
    char url[128];
    v3StringPrint(url, sizeof url, "http://%.100s/", host);
    if (!conn || Open(conn.get(), url, proxy_) != kHTTPOk) {
        LogAt(kLogNormal, "Could not download '%s'\n", host);
        return nullptr;
    }
    uint32_t status = 0;
    if (v3HTTPGet(conn->record(), &status, path, kExchangeTimeoutMs) != kHTTPOk || status != 200) {
        LogAt(kLogNormal, "- Error: HTTP GET returned error code %d\n", static_cast<int>(status));
        return nullptr;
    }
    return conn;
}
