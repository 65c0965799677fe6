// Packet exchanges with the project's servers: one POST of a request record
// and the read of a fixed-size reply record, over the built-in transport or
// the system's (chosen by the usereg setting). A connection kept open after
// an exchange is handed out as a connection handle; its owner reads what
// follows with doReadBytes and releases it with a last call whose keep_open
// is 0 (a call of 0 bytes only closes).
#pragma once

#include <cstdint>

#include "net/http_client.h"

inline constexpr uint32_t kConnectionDirect = 0;  // record: v3HTTPConnection
inline constexpr uint32_t kConnectionSystem = 1;  // record: SystemRequest

struct CliConnection {
    uint32_t kind;
    void* record;  // owned; nullptr once released or when an exchange failed
};

// A whole exchange, counted from the start of its request: sending it, the
// reply, and the payload read later through a kept-open handle (or a whole
// download) end within this time on either transport, so that a server
// that dribbles bytes cannot hold the client for days.
inline constexpr uint32_t kExchangeTimeoutMs = 1800000;

// All return 0 on success and -1 on failure. With keep_open on, the caller
// must give handle_out; it receives the open connection on success and a
// handle without record on failure (nothing is left open then).
int CliSendPacket(const char* host, uint16_t port, const void* request, uint32_t request_length,
                  void* reply, uint32_t reply_length, int keep_open, CliConnection* handle_out);
int CliHTTPPost(const char* host, uint16_t port, const void* request, uint32_t request_length,
                void* reply, uint32_t reply_length, int keep_open, CliConnection* handle_out);
int CliWinINetPost(const char* host, uint16_t port, const void* request, uint32_t request_length,
                   void* reply, uint32_t reply_length, int keep_open, CliConnection* handle_out);
// reply may be nullptr with reply_length 0: no reply record is read.
int CliWinINetRequest(const char* verb, const char* object, const char* host, uint16_t port,
                      const void* body, uint32_t body_length, void* reply, uint32_t reply_length,
                      int keep_open, CliConnection* handle_out);

// Reads exactly length bytes of what follows on an open handle (the system
// transport accepts fewer when the answer ends first); with keep_open 0 it
// then closes the handle and releases its record.
int doReadBytes(CliConnection* conn, void* buf, uint32_t length, int keep_open);

// Reads one reply record of the built-in transport: a leading CR LF before
// the record is dropped once. 0, or the failing read's code; *count receives
// the bytes placed in buf.
int CliHTTPRecv(void* buf, uint32_t* count, v3HTTPConnection* conn, uint32_t length,
                uint32_t timeout_ms);
