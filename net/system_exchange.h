// The system transport: requests through the system's Internet library
// (net/system_transport.h), which takes its proxy from the environment.
#pragma once

#include <cstdint>
#include <memory>

#include "net/transport.h"

class SystemTransport final : public Transport {
public:
    int Post(const char* host, uint16_t port, const void* request, uint32_t request_length,
             void* reply, uint32_t reply_length, std::unique_ptr<Connection>* kept) override;
    // The host text's port, when it has one, is read here: one outside
    // 1..65535 (or no number) is said and replaced by 80.
    std::unique_ptr<Connection> Get(const char* host, const char* path) override;
};
