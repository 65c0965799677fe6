// The socket layer: starting the socket service, resolving host names to
// IPv4 addresses, and a TCP connection with send-all and receive-exactly
// operations whose waits are bounded by a time-out.
#pragma once

#include <cstdint>

#include "support/platform/socket.h"

// Socket kinds.
inline constexpr uint32_t kSockStream = 85;     // TCP, the only kind the client uses
inline constexpr uint32_t kSockDatagram = 153;

// Result codes of the socket family.
inline constexpr int kSockOk = 0;
inline constexpr int kSockErrConnect = -1;
inline constexpr int kSockErrBind = -2;
inline constexpr int kSockErrConnected = -6;     // already connected
inline constexpr int kSockErrNotConnected = -7;  // not connected, send failed or peer closed
inline constexpr int kSockErrTimeout = -8;       // time-out, or the clock failed
inline constexpr int kSockErrKind = -9;
inline constexpr int kSockErrArgument = -10;
inline constexpr int kSockErrClose = -11;
inline constexpr int kSockErrService = -12;
inline constexpr int kSockErrStart = -13;

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
int v3NetInit();

// Resolves name (dotted text or a host name) into at most max IPv4
// addresses in host order. Returns how many were stored; 0 on any failure.
int v3ResolveHost(uint32_t* addresses, uint32_t max, const char* name);

// Opens and connects. The local address and port are given only to bind,
// which this client never does (0, 0).
int v3SockConnect(v3Socket* sock, uint32_t remote_address, uint16_t remote_port,
                  uint32_t local_address, uint16_t local_port, uint32_t kind);

// Sends all length bytes in pieces of at most kSockSendPiece; *count tells
// how many went out. timeout_ms bounds the whole call, as for a receive: a
// peer that stops reading must not hold the client for ever. -8 when the
// time runs out (the socket stays open); a failed send releases the socket
// and gives -7, a failed wait -12.
int v3SockSend(v3Socket* sock, uint32_t* count, const void* data, uint32_t length,
               uint32_t timeout_ms);

// Receives exactly length bytes. timeout_ms bounds the whole call: -8 when
// the time runs out (the socket stays open and *count tells what arrived);
// -7 when the peer closed and -12 on an error (both release the socket).
// Both calls wait in slices of at most a second, reading the clock after
// each.
int v3SockRecv(void* buf, uint32_t* count, v3Socket* sock, uint32_t length, uint32_t timeout_ms);

// -10 for a missing record, -13 when the service cannot start (state 0),
// else the result of v3SockRelease.
int v3SockClose(v3Socket* sock);

// Closes a connected socket (-11 when that fails); state 0 in any case.
int v3SockRelease(v3Socket* sock);
