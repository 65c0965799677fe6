#include "support/platform/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int Fd(v3PlatformSocket handle) { return static_cast<int>(handle); }

sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(address);
    sa.sin_port = htons(port);
    return sa;
}

}  // namespace

int v3PlatformNetStart() {
    // Nothing to start on POSIX. A peer that closes while we send would raise
    // SIGPIPE and end the client; every send therefore passes MSG_NOSIGNAL.
    return 0;
}

int v3PlatformParseAddress(const char* text, uint32_t* address) {
    if (text == nullptr || address == nullptr) return 0;
    // inet_aton takes the same forms as the classic inet_addr but, unlike it,
    // can tell 255.255.255.255 from a failure.
    in_addr in;
    if (inet_aton(text, &in) == 0) return 0;
    *address = ntohl(in.s_addr);
    return 1;
}

int v3PlatformLookUpHost(const char* name, uint32_t* addresses, int max) {
    if (name == nullptr || addresses == nullptr || max <= 0) return 0;
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;  // one entry per address, not per socket kind
    addrinfo* list = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &list) != 0 || list == nullptr) return 0;
    int count = 0;
    for (addrinfo* ai = list; ai != nullptr && count < max; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET || ai->ai_addr == nullptr) continue;
        const auto* sa = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
        addresses[count++] = ntohl(sa->sin_addr.s_addr);
    }
    freeaddrinfo(list);
    return count;
}

int v3PlatformSocketOpen(v3PlatformSocket* handle, bool stream) {
    if (handle == nullptr) return -1;
    // Close-on-exec: a core started while a connection is open must not keep
    // the server's connection alive.
    const int fd = socket(AF_INET, (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    *handle = fd;
    return 0;
}

v3PlatformSocket v3PlatformSocketOpenAny(int family, int type, int protocol) {
    const int fd = socket(family, type | SOCK_CLOEXEC, protocol);
    return fd < 0 ? kPlatformNoSocket : fd;
}

int v3PlatformSocketBind(v3PlatformSocket handle, uint32_t address, uint16_t port) {
    const int on = 1;
    if (setsockopt(Fd(handle), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) return -1;
    const sockaddr_in sa = MakeAddress(address, port);
    if (bind(Fd(handle), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) return -2;
    return 0;
}

int v3PlatformSocketConnect(v3PlatformSocket handle, uint32_t address, uint16_t port) {
    const sockaddr_in sa = MakeAddress(address, port);
    if (connect(Fd(handle), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) return 0;
    if (errno != EINTR) return -1;
    // An interrupted connect goes on in the background; wait for its outcome.
    pollfd p{Fd(handle), POLLOUT, 0};
    while (poll(&p, 1, -1) < 0) {
        if (errno != EINTR) return -1;
    }
    int error = 0;
    socklen_t len = sizeof error;
    if (getsockopt(Fd(handle), SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) return -1;
    return 0;
}

int v3PlatformSocketLocalName(v3PlatformSocket handle, uint32_t* address, uint16_t* port) {
    sockaddr_in sa;
    socklen_t len = sizeof sa;
    if (getsockname(Fd(handle), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return -1;
    if (sa.sin_family != AF_INET) return -1;
    *address = ntohl(sa.sin_addr.s_addr);
    *port = ntohs(sa.sin_port);
    return 0;
}

int64_t v3PlatformSocketSend(v3PlatformSocket handle, const void* data, uint64_t n) {
    for (;;) {
        const ssize_t sent = send(Fd(handle), data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) return sent;
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return -2;
        return -1;
    }
}

namespace {

// Rounded up, so that a rest below a millisecond still waits instead of
// spinning on a zero time-out.
int WaitFor(v3PlatformSocket handle, short events, uint64_t microseconds) {
    uint64_t ms = (microseconds + 999) / 1000;
    if (ms > INT_MAX) ms = INT_MAX;
    pollfd p{Fd(handle), events, 0};
    for (;;) {
        const int r = poll(&p, 1, static_cast<int>(ms));
        if (r > 0) return 1;
        if (r == 0) return 0;
        if (errno != EINTR) return -1;
    }
}

}  // namespace

int v3PlatformSocketWaitReadable(v3PlatformSocket handle, uint64_t microseconds) {
    return WaitFor(handle, POLLIN, microseconds);
}

int v3PlatformSocketWaitWritable(v3PlatformSocket handle, uint64_t microseconds) {
    return WaitFor(handle, POLLOUT, microseconds);
}

int64_t v3PlatformSocketRecv(v3PlatformSocket handle, void* buf, uint64_t n) {
    for (;;) {
        const ssize_t got = recv(Fd(handle), buf, n, MSG_DONTWAIT);
        if (got >= 0) return got;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return -2;
        return -1;
    }
}

int v3PlatformSocketClose(v3PlatformSocket handle) {
    // No retry on EINTR: on Linux the descriptor is released either way, and a
    // second close could hit a descriptor another thread has just opened.
    return close(Fd(handle)) == 0 ? 0 : -1;
}
