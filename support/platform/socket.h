// IPv4 sockets of the platform. Addresses and ports cross this interface in
// host order (first octet most significant); the implementation converts to
// network order at the system calls. Nothing here serialises or retries
// beyond an interrupted call: the socket layer in net/ owns those rules.
#pragma once

#include <cstdint>

// A socket handle of the platform; kPlatformNoSocket is none.
using v3PlatformSocket = intptr_t;
inline constexpr v3PlatformSocket kPlatformNoSocket = -1;

// Prepares the process for sockets (a send to a peer that has gone must give
// an error, not end the process). 0, or -1 when the service cannot start.
int v3PlatformNetStart();

// Dotted-decimal text as an IPv4 address: 1 with *address set, else 0.
int v3PlatformParseAddress(const char* text, uint32_t* address);

// Looks a host name up and stores at most max of its IPv4 addresses.
// Returns how many were stored (0 on any failure). The caller serialises.
int v3PlatformLookUpHost(const char* name, uint32_t* addresses, int max);

// A new, close-on-exec socket: stream (TCP) or datagram. 0 or -1.
int v3PlatformSocketOpen(v3PlatformSocket* handle, bool stream);

// A close-on-exec socket of any family, type and protocol, for libraries
// that open their own (the system transport). The handle, or
// kPlatformNoSocket.
v3PlatformSocket v3PlatformSocketOpenAny(int family, int type, int protocol);


// Sets address reuse and binds: 0; -1 the option could not be set; -2 the
// bind failed.
int v3PlatformSocketBind(v3PlatformSocket handle, uint32_t address, uint16_t port);

// Connects without a time limit of its own. 0 or -1.
int v3PlatformSocketConnect(v3PlatformSocket handle, uint32_t address, uint16_t port);

// The local end of a socket. 0 or -1.
int v3PlatformSocketLocalName(v3PlatformSocket handle, uint32_t* address, uint16_t* port);

// One send of at most n bytes that never blocks: the number sent (at least
// 1), -1 on failure, -2 when the socket has no room for now.
int64_t v3PlatformSocketSend(v3PlatformSocket handle, const void* data, uint64_t n);

// Waits until the socket can take more bytes (or has failed) for at most the
// given number of microseconds: 1 ready, 0 no room in time, -1 failure.
int v3PlatformSocketWaitWritable(v3PlatformSocket handle, uint64_t microseconds);

// Waits until the socket has something to read (data, an end or an error)
// for at most the given number of microseconds: 1 ready, 0 nothing arrived
// in time, -1 failure.
int v3PlatformSocketWaitReadable(v3PlatformSocket handle, uint64_t microseconds);

// One receive of at most n bytes that never blocks: the number received (at
// least 1), 0 when the peer has closed its end, -1 on failure, -2 when
// nothing is there after all (a readiness report can be spurious).
int64_t v3PlatformSocketRecv(v3PlatformSocket handle, void* buf, uint64_t n);

// 0, or -1 when the system refused to close it (the handle is gone anyway).
int v3PlatformSocketClose(v3PlatformSocket handle);
