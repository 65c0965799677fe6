// Sending a GET or POST request on a connection record and reading the head
// of its response.
#include <cstring>
#include <new>
#include <string>

#include "net/http_client.h"
#include "support/format.h"

namespace {

// Room for the request line, the Host and Connection headers and the
// Content-Length line beyond the path and the two credential lines.
constexpr uint64_t kRequestOverhead = 416;

// The request always carries the absolute form ("http://", host text, path),
// also without a proxy, and the Host header repeats the host text exactly as
// the URL had it, port included: servers of the project match on both.
HttpResult FormatRequest(std::string* out, const v3HTTPConnection* conn, const char* path,
                         bool post, uint32_t body_length) {
    try {
        const uint64_t path_length = std::strlen(path);
        const uint64_t size = path_length + conn->proxy_credentials.size() +
                              conn->credentials.size() + kRequestOverhead;
        std::string text(size, '\0');
        const int host = static_cast<int>(strnlen(conn->host, kHTTPHostMax));
        const int proxy_line = static_cast<int>(conn->proxy_credentials.size());
        const int line = static_cast<int>(conn->credentials.size());
        int n;
        if (post) {
            n = v3StringPrint(text.data(), size,
                              "POST http://%.*s%.*s HTTP/1.1\r\nHost: %.*s\r\n%.*s%.*s"
                              "Connection: Keep-Alive\r\nContent-Length: %u\r\n\r\n",
                              host, conn->host, static_cast<int>(path_length), path, host,
                              conn->host, proxy_line, conn->proxy_credentials.c_str(), line,
                              conn->credentials.c_str(), body_length);
        } else {
            n = v3StringPrint(text.data(), size,
                              "GET http://%.*s%.*s HTTP/1.1\r\nHost: %.*s\r\n%.*s%.*s"
                              "Connection: Keep-Alive\r\n\r\n",
                              host, conn->host, static_cast<int>(path_length), path, host,
                              conn->host, proxy_line, conn->proxy_credentials.c_str(), line,
                              conn->credentials.c_str());
        }
        text.resize(static_cast<size_t>(n));
        *out = std::move(text);
        return kHTTPOk;
    } catch (const std::bad_alloc&) {
        return kHTTPErrMemory;
    }
}

// A connection the server will not keep is closed and made again before the
// next request.
HttpResult PrepareConnection(v3HTTPConnection* conn) {
    if (conn->state == kHTTPUnopened) return kHTTPErrState;
    if (conn->keep_alive != 1) {
        v3SockClose(&conn->socket);
        conn->state = kHTTPOpened;
    }
    if (conn->state == kHTTPOpened) {
        if (v3HTTPConnect(conn) != kHTTPOk) return kHTTPErrTransfer;
    } else if (conn->state != kHTTPReady) {
        return kHTTPErrState;
    }
    return kHTTPOk;
}

// A server that stops reading must not hold the client: the send gets what
// is left of the exchange's time.
HttpResult SendAll(v3HTTPConnection* conn, const void* data, uint32_t length) {
    if (length == 0) return kHTTPOk;
    uint32_t sent = 0;
    const uint32_t left = conn->exchange.RemainingMs();
    if (left == 0 || v3SockSend(&conn->socket, &sent, data, length, left) != kSockOk) {
        // The socket is gone: the next request must connect afresh.
        v3SockClose(&conn->socket);
        conn->state = kHTTPOpened;
        return kHTTPErrTransfer;
    }
    return kHTTPOk;
}

HttpResult Request(v3HTTPConnection* conn, uint32_t* status, const char* path, bool post,
                   const void* body, uint32_t body_length, uint32_t timeout_ms) {
    if (status != nullptr) *status = 0;
    if (conn == nullptr || status == nullptr || path == nullptr) return kHTTPErrArgument;
    if (post && body == nullptr && body_length != 0) return kHTTPErrArgument;
    conn->exchange = ReadDeadline(timeout_ms);
    if (const HttpResult r = PrepareConnection(conn); r != kHTTPOk) return r;

    std::string text;
    if (const HttpResult r = FormatRequest(&text, conn, path, post, body_length); r != kHTTPOk) {
        return r;
    }
    if (const HttpResult r = SendAll(conn, text.data(), static_cast<uint32_t>(text.size()));
        r != kHTTPOk) {
        return r;
    }
    text.clear();
    text.shrink_to_fit();
    if (post) {
        if (const HttpResult r = SendAll(conn, body, body_length); r != kHTTPOk) return r;
    }
    if (const HttpResult r = v3HTTPReadHeaders(conn, timeout_ms); r != kHTTPOk) return r;
    *status = conn->status;
    return kHTTPOk;
}

}  // namespace

HttpResult v3HTTPGet(v3HTTPConnection* conn, uint32_t* status, const char* path,
                     uint32_t timeout_ms) {
    return Request(conn, status, path, false, nullptr, 0, timeout_ms);
}

HttpResult v3HTTPPost(v3HTTPConnection* conn, uint32_t* status, const char* path, const void* body,
                      uint32_t body_length, uint32_t timeout_ms) {
    return Request(conn, status, path, true, body, body_length, timeout_ms);
}
