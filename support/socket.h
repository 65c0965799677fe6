// The socket layer: starting the socket service, resolving host names to
// IPv4 addresses, and a TCP connection with send-all and receive-exactly
// operations whose waits are bounded by a time-out.
#pragma once

#include <cstdint>

#include "support/platform/socket.h"

// Socket kinds.
inline constexpr uint32_t kSockStream = 85;     // TCP, the only kind the client uses
inline constexpr uint32_t kSockDatagram = 153;

// Result codes of the socket family, typed as the file family's are.
enum SockResult : int {
    kSockOk = 0,
    kSockErrConnect = -1,
    kSockErrBind = -2,
    kSockErrConnected = -6,     // already connected
    kSockErrNotConnected = -7,  // not connected, send failed or peer closed
    kSockErrTimeout = -8,       // time-out, or the clock failed
    kSockErrKind = -9,
    kSockErrArgument = -10,
    kSockErrClose = -11,
    kSockErrService = -12,
    kSockErrStart = -13,
};

// A short English description of a socket code, "unknown socket result" for
// any other value.
const char* SockResultName(int code);

// Largest piece handed to one send call.
inline constexpr uint32_t kSockSendPiece = 49152;

// Socket record. Addresses (first octet most significant) and ports are in
// host order. A zero-filled record is a closed socket.
struct v3Socket {
    v3PlatformSocket handle;  // valid while state is 1
    uint32_t state;           // 0 closed, 1 connected
    uint32_t kind;            // kSockStream or kSockDatagram
    uint32_t remote_address;
    uint32_t local_address;
    uint16_t remote_port;
    uint16_t local_port;
};

// Starts the socket service once and makes the name-lookup lock. 0 or -1.
// A plain int: its -1 means the service did not start, not the family's
// "connect failed"; v3SockConnect and v3SockClose give kSockErrStart for it.
int v3NetInit();

// Resolves name (dotted text or a host name) into at most max IPv4
// addresses in host order. Returns how many were stored; 0 on any failure.
int v3ResolveHost(uint32_t* addresses, uint32_t max, const char* name);

// Opens and connects. The local address and port are given only to bind,
// which this client never does (0, 0).
SockResult v3SockConnect(v3Socket* sock, uint32_t remote_address, uint16_t remote_port,
                         uint32_t local_address, uint16_t local_port, uint32_t kind);

// Sends all length bytes in pieces of at most kSockSendPiece; *count tells
// how many went out. timeout_ms bounds the whole call, as for a receive: a
// peer that stops reading must not hold the client for ever. -8 when the
// time runs out (the socket stays open); a failed send releases the socket
// and gives -7, a failed wait -12.
SockResult v3SockSend(v3Socket* sock, uint32_t* count, const void* data, uint32_t length,
                      uint32_t timeout_ms);

// Receives exactly length bytes. timeout_ms bounds the whole call: -8 when
// the time runs out (the socket stays open and *count tells what arrived);
// -7 when the peer closed and -12 on an error (both release the socket).
// Both calls wait in slices of at most a second, reading the clock after
// each.
SockResult v3SockRecv(void* buf, uint32_t* count, v3Socket* sock, uint32_t length,
                      uint32_t timeout_ms);

// -10 for a missing record, -13 when the service cannot start (state 0),
// else the result of v3SockRelease.
SockResult v3SockClose(v3Socket* sock);

// Closes a connected socket (-11 when that fails); state 0 in any case.
SockResult v3SockRelease(v3Socket* sock);
