// Opening, connecting and closing a connection record of the built-in client.
#include <cstring>
#include <new>

#include "net/http_client.h"
#include "support/base64_codec.h"
#include "support/format.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "http://" with the scheme letters in either case; "://" must be exact.
bool HasHttpScheme(const char* url) {
    static const char kScheme[] = "http";
    for (int i = 0; i < 4; ++i) {
        char c = url[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kScheme[i]) return false;
    }
    return std::strncmp(url + 4, "://", 3) == 0;
}

// The digits after the host's ":" as a port; false for anything that is not
// a plain decimal number up to 65535.
bool ReadPort(const char* text, uint16_t* port) {
    if (!IsDigit(*text)) return false;
    uint32_t value = 0;
    for (; *text != '\0'; ++text) {
        if (!IsDigit(*text)) return false;
        value = value * 10 + static_cast<uint32_t>(*text - '0');
        if (value > 65535) return false;
    }
    *port = static_cast<uint16_t>(value);
    return true;
}

HttpResult MakeProxyCredentials(v3HTTPConnection* conn, const char* user, const char* password) {
    try {
        const std::string plain = std::string(user) + ":" + password;
        std::string encoded;
        if (v3Base64Encode(plain.data(), plain.size(), &encoded) != 0) return kHTTPErrMemory;
        const uint64_t size = encoded.size() + 32;
        std::string line(size, '\0');
        const int n = v3StringPrint(line.data(), size, "Proxy-Authorization: Basic %.*s\r\n",
                                    static_cast<int>(encoded.size()), encoded.c_str());
        line.resize(static_cast<size_t>(n));
        conn->proxy_credentials = std::move(line);
        return kHTTPOk;
    } catch (const std::bad_alloc&) {
        return kHTTPErrMemory;
    }
}

// Steps of v3HTTPOpen after the argument checks; the caller clears the record
// when one of them fails, so a refused URL leaves nothing half set.
HttpResult OpenRecord(v3HTTPConnection* conn, const char* url, uint32_t proxy_address,
                      uint16_t proxy_port, const char* proxy_user, const char* proxy_password) {
    if (std::strlen(url) < 9 || !HasHttpScheme(url)) return kHTTPErrBad;
    const char* host = url + 7;
    const char* slash = std::strchr(host, '/');
    const size_t host_length = slash != nullptr ? static_cast<size_t>(slash - host) : std::strlen(host);
    if (host_length > kHTTPHostMax) return kHTTPErrBad;
    std::memcpy(conn->host, host, host_length);
    conn->host[host_length] = '\0';

    char name[kHTTPHostMax + 1];
    std::memcpy(name, conn->host, host_length + 1);
    conn->host_port = 80;
    if (char* colon = std::strchr(name, ':'); colon != nullptr) {
        if (!ReadPort(colon + 1, &conn->host_port)) return kHTTPErrBad;
        *colon = '\0';
    }

    const bool proxied = proxy_address != 0 && proxy_port != 0;
    if (proxied) {
        conn->proxy_address = proxy_address;
        conn->proxy_port = proxy_port;
    } else {
        conn->proxy_address = 0;
        conn->proxy_port = 0;
        if (v3ResolveHost(&conn->host_address, 1, name) < 1) return kHTTPErrBad;
    }

    // The credentials are for the proxy alone. Without a usable proxy (its
    // name did not resolve, its port is no number) the request goes straight
    // to the server, which must never see the volunteer's password.
    if (proxied && proxy_user != nullptr && proxy_password != nullptr && proxy_user[0] != '\0' &&
        proxy_password[0] != '\0') {
        if (const HttpResult r = MakeProxyCredentials(conn, proxy_user, proxy_password);
            r != kHTTPOk) {
            return r;
        }
    }
    conn->remaining = 0;
    conn->body_mode = kBodyLength;
    conn->state = kHTTPOpened;
    return kHTTPOk;
}

}  // namespace

HttpResult v3HTTPOpen(v3HTTPConnection* conn, const char* url, uint32_t proxy_address,
                      uint16_t proxy_port, const char* proxy_user, const char* proxy_password,
                      const char* /*user*/, const char* /*password*/) {
    if (conn == nullptr || url == nullptr) return kHTTPErrArgument;
    if (conn->state != kHTTPUnopened) return kHTTPErrState;
    const HttpResult result =
        OpenRecord(conn, url, proxy_address, proxy_port, proxy_user, proxy_password);
    if (result != kHTTPOk) *conn = v3HTTPConnection{};
    return result;
}

HttpResult v3HTTPConnect(v3HTTPConnection* conn) {
    if (conn == nullptr) return kHTTPErrArgument;
    const bool proxied = conn->proxy_address != 0 && conn->proxy_port != 0;
    const uint32_t address = proxied ? conn->proxy_address : conn->host_address;
    const uint16_t port = proxied ? conn->proxy_port : conn->host_port;
    if (v3SockConnect(&conn->socket, address, port, 0, 0, kSockStream) != kSockOk) {
        return kHTTPErrBad;
    }
    conn->state = kHTTPReady;
    return kHTTPOk;
}

HttpResult v3HTTPClose(v3HTTPConnection* conn) {
    if (conn == nullptr) return kHTTPErrArgument;
    v3SockClose(&conn->socket);
    *conn = v3HTTPConnection{};
    return kHTTPOk;
}
