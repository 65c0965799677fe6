#include "common/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qrvfuzz {
namespace {

// Every wait of the peer is bounded, so a client that never reads or never
// closes costs at most this long.
constexpr int kWaitMs = 500;

int Listener(uint16_t* port) {
    static int fd = -1;
    static uint16_t bound = 0;
    if (fd < 0) {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            listen(fd, 4) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            std::perror("loopback peer");
            std::abort();
        }
        bound = ntohs(a.sin_port);
    }
    *port = bound;
    return fd;
}

bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, kWaitMs) == 1;
}

void Serve(const std::string& reply, bool hold_open) {
    uint16_t port = 0;
    const int listener = Listener(&port);
    if (!Readable(listener)) return;
    const int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) return;
    std::string request;
    char buf[4096];
    while (request.find("\r\n\r\n") == std::string::npos && Readable(fd)) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        request.append(buf, static_cast<size_t>(n));
    }
    size_t sent = 0;
    while (sent < reply.size()) {
        const ssize_t n = send(fd, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    if (!hold_open) shutdown(fd, SHUT_WR);
    // Drain until the client closes, so that nothing unread turns the close
    // into a reset that would throw away bytes the client has not read yet.
    while (Readable(fd) && recv(fd, buf, sizeof buf, 0) > 0) {
    }
    close(fd);
}

}  // namespace

LoopbackPeer::LoopbackPeer(std::string reply, bool hold_open)
    : thread_([r = std::move(reply), hold_open] { Serve(r, hold_open); }) {}

LoopbackPeer::~LoopbackPeer() { thread_.join(); }

uint16_t LoopbackPeer::Port() {
    uint16_t port = 0;
    Listener(&port);
    return port;
}

std::string LoopbackPeer::Url() {
    return "http://127.0.0.1:" + std::to_string(Port());
}

}  // namespace qrvfuzz
