// The exchanges of the system transport: a packet POST with its reply
// record, and a download's GET.
#include "net/system_exchange.h"

#include <new>

#include "log/log.h"
#include "net/system_transport.h"
#include "support/format.h"

namespace {

// The Windows library names in these lines are kept: help pages and users'
// log readers search for them, whatever library does the work here.
void ReportStartFailure(int step) {
    if (!LogLevelOn(kLogNormal)) return;
    switch (step) {
        case kSystemErrSession: LogPrint("Error: Couldn't open Internet handle\n"); break;
        case kSystemErrConnect: LogPrint("Error: Couldn't connect on opened Internet handle\n"); break;
        case kSystemErrRequest:
            LogPrint("Error: Couldn't open Http request on opened Internet handle\n");
            break;
        case kSystemErrSend: LogPrint("Couldn't send HTTP request to server (wininet)\n"); break;
        default:
            // The status is asked for as one 32-bit number.
            LogPrint("Couldn't get query status for request (buffer size %u needed)\n",
                     static_cast<unsigned>(sizeof(uint32_t)));
            break;
    }
}

// One request of the system's library, released when the connection is
// closed or dropped.
class SystemConnection final : public Connection {
public:
    explicit SystemConnection(SystemRequest* request) : request_(request) {}
    ~SystemConnection() override { Close(); }

    // The library reports a body that ends early as the end of data, not as
    // a failure. A record or unit shorter than asked for is refused all the
    // same, as the built-in transport refuses it: taken as whole, its missing
    // tail would read as zeros (an assignment to 0.0.0.0, a unit padded with
    // zeros and computed for nothing).
    int Read(void* buf, uint32_t length) override {
        if (request_ == nullptr || (buf == nullptr && length > 0)) return -1;
        if (length == 0) return 0;
        uint32_t got = 0;
        if (SystemRequestRead(request_, buf, length, &got) != 0) return -1;
        return got == length ? 0 : -1;
    }

    int ReadSome(void* buf, uint32_t length, uint32_t* got) override {
        *got = 0;
        if (request_ == nullptr || buf == nullptr) return -1;
        return SystemRequestRead(request_, buf, length, got) == 0 ? 0 : -1;
    }

    void Close() override {
        SystemRequestClose(request_);
        request_ = nullptr;
    }

private:
    SystemRequest* request_;
};

// The reply record, with the leading CR LF rule.
int ReadReplyRecord(Connection& conn, void* reply, uint32_t reply_length) {
    auto* out = static_cast<uint8_t*>(reply);
    const uint32_t first = reply_length < 2 ? reply_length : 2;
    if (conn.Read(out, first) != 0) return -1;
    if (first < 2) return 0;
    if (out[0] == '\r' && out[1] == '\n') return conn.Read(out, reply_length);
    return conn.Read(out + 2, reply_length - 2);
}

// One request: verb and object on host:port with an optional body, and the
// reply record when reply_length is not 0. With kept given, the open
// connection goes into it when everything worked. 0 or -1, after saying why.
int Request(const char* verb, const char* object, const char* host, uint16_t port, const void* body,
            uint32_t body_length, void* reply, uint32_t reply_length, std::unique_ptr<Connection>* kept) {
    if (kept != nullptr) kept->reset();
    if (reply == nullptr && reply_length != 0) return -1;
    SystemRequest* request = nullptr;
    uint32_t status = 0;
    const int step = SystemRequestStart(&request, verb, object, host, port, body, body_length, &status,
                                        kExchangeTimeoutMs);
    if (step != kSystemOk) {
        ReportStartFailure(step);
        return -1;
    }
    std::unique_ptr<SystemConnection> conn(new (std::nothrow) SystemConnection(request));
    if (!conn) {
        SystemRequestClose(request);
        return -1;
    }
    if (status != 200 && status != 100) {
        LogAt(kLogNormal, "Error: Got status code %u from server\n", status);
        return -1;
    }
    if (reply_length > 0 && ReadReplyRecord(*conn, reply, reply_length) != 0) return -1;
    if (kept != nullptr) *kept = std::move(conn);
    return 0;
}

// Host text "name[:port]" for the system's library; a port outside
// 1..65535 (or no number) falls back to 80.
uint16_t SplitHostPort(char* name) {
    char* colon = nullptr;
    for (char* p = name; *p != '\0'; ++p) {
        if (*p == ':') {
            colon = p;
            break;
        }
    }
    if (colon == nullptr) return 80;
    *colon = '\0';
    uint32_t port = 0;
    for (const char* p = colon + 1; *p >= '0' && *p <= '9' && port < 65536; ++p) {
        port = port * 10 + static_cast<uint32_t>(*p - '0');
    }
    if (port == 0 || port >= 65536) {
        LogAt(kLogNormal, "Bad server port specified for download. Using default\n");
        return 80;
    }
    return static_cast<uint16_t>(port);
}

}  // namespace

int SystemTransport::Post(const char* host, uint16_t port, const void* request, uint32_t request_length,
                          void* reply, uint32_t reply_length, std::unique_ptr<Connection>* kept) {
    return Request("POST", "", host, port, request, request_length, reply, reply_length, kept);
}

std::unique_ptr<Connection> SystemTransport::Get(const char* host, const char* path) {
    char name[140];
    v3StringPrint(name, sizeof name, "%.139s", host);
    const uint16_t port = SplitHostPort(name);
    std::unique_ptr<Connection> body;
    if (Request("GET", path, name, port, nullptr, 0, nullptr, 0, &body) != 0) {
        LogAt(kLogNormal, "Couldn't download %s\n", host);
        return nullptr;
    }
    return body;
}
