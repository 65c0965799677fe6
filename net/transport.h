// The two HTTP transports behind one interface: the built-in client over
// plain sockets (with the configured proxy) and the system's Internet
// library (usereg). The client chooses one from the settings at start-up;
// every exchange with a server and every download goes through it.
#pragma once

#include <cstdint>
#include <memory>

struct Settings;

// A request and the head of its answer, counted from the start of the
// request, end within this time on either transport, so that a server that
// dribbles bytes cannot hold the client for days. The body after the head
// (the reply record, what is read later through a kept-open connection, a
// whole download) is held to the low-speed rule of net/body_pace.h instead:
// a single limit would cut every body larger than it allows at the link's
// rate.
inline constexpr uint32_t kExchangeTimeoutMs = 1800000;

// An open connection after a reply record (a unit's data follows) or a
// download's answer (its body follows). Close ends it; so does destruction.
class Connection {
public:
    virtual ~Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Reads exactly length bytes of what follows. 0, or -1 when fewer came
    // (a record or unit with a missing tail is damaged data), the transfer
    // failed, or the connection is closed.
    virtual int Read(void* buf, uint32_t length) = 0;
    // Reads up to length bytes of a body that ends by its own framing; *got
    // is 0 once it has ended. 0, or -1 when the transfer failed (or the
    // connection is closed).
    virtual int ReadSome(void* buf, uint32_t length, uint32_t* got) = 0;
    // Lets go of the connection; later reads fail. A second call does
    // nothing.
    virtual void Close() = 0;

protected:
    Connection() = default;
};

class Transport {
public:
    virtual ~Transport() = default;

    // One packet exchange: POSTs request to host (a name or dotted address)
    // on port and reads the reply record of exactly reply_length bytes (a
    // leading CR LF before it is dropped once). With kept given, the
    // connection stays open for what follows and goes into *kept; after a
    // failure *kept is empty and nothing is left open. 0 or -1, after
    // saying why.
    virtual int Post(const char* host, uint16_t port, const void* request, uint32_t request_length,
                     void* reply, uint32_t reply_length, std::unique_ptr<Connection>* kept) = 0;

    // GETs path (absolute, beginning with "/") from host ("name" or
    // "name:port") and hands out the connection its body follows on; nullptr,
    // after saying why, when the request failed or was not answered with 200.
    virtual std::unique_ptr<Connection> Get(const char* host, const char* path) = 0;

protected:
    Transport() = default;
};

// The transport the settings choose: the system's with usereg on, else the
// built-in one through the configured proxy.
std::unique_ptr<Transport> MakeTransport(const Settings& settings);
