// The built-in transport: the HTTP/1.1 client of net/http_client.h, with the
// configured proxy and its credentials.
#pragma once

#include <cstdint>
#include <memory>

#include "config/settings.h"
#include "net/http_client.h"
#include "net/transport.h"

class DirectTransport final : public Transport {
public:
    explicit DirectTransport(const ProxySettings& proxy) : proxy_(proxy) {}

    int Post(const char* host, uint16_t port, const void* request, uint32_t request_length,
             void* reply, uint32_t reply_length, std::unique_ptr<Connection>* kept) override;
    std::unique_ptr<Connection> Get(const char* host, const char* path) override;

private:
    ProxySettings proxy_;
};

// Reads one reply record of the built-in transport: a leading CR LF before
// the record is dropped once. 0, or the failing read's code; *count receives
// the bytes placed in buf.
HttpResult CliHTTPRecv(void* buf, uint32_t* count, v3HTTPConnection* conn, uint32_t length,
                       uint32_t timeout_ms);
