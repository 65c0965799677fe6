// A small scripted HTTP peer for wire tests: a thread on 127.0.0.1 with an
// ephemeral port that takes connections one after another, hands each to the
// next script of the test, and records every byte it receives. Scripts state
// the exact bytes to send; tests compare the exact bytes recorded.
//
// It talks plain POSIX sockets on purpose: a fault in the client's socket
// layer must not cancel out on both ends.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace qrvnet {

// How long a script waits for the client before it gives up; a test that
// goes wrong fails instead of hanging.
inline constexpr int kPeerWaitMs = 10000;

class Peer {
public:
    explicit Peer(int fd) : fd_(fd) {}

    // Reads until the empty line that ends a request head (or the end).
    std::string ReadHead() {
        std::string head;
        while (head.size() < 4 || head.compare(head.size() - 4, 4, "\r\n\r\n") != 0) {
            char c;
            if (!ReadSome(&c, 1)) break;
            head.push_back(c);
        }
        return head;
    }

    // Reads n bytes, fewer only when the client closes or goes quiet.
    std::string ReadExact(size_t n) {
        std::string out(n, '\0');
        size_t got = 0;
        while (got < n) {
            const size_t r = ReadSomeCount(&out[got], n - got);
            if (r == 0) break;
            got += r;
        }
        out.resize(got);
        return out;
    }

    // A whole request: the head and as many body bytes as its
    // Content-Length says.
    std::string ReadRequest() {
        std::string head = ReadHead();
        const size_t at = head.find("Content-Length: ");
        if (at == std::string::npos) return head;
        return head + ReadExact(std::stoul(head.substr(at + 16)));
    }

    // Everything until the client closes.
    std::string ReadAll() {
        std::string out;
        char buf[4096];
        for (;;) {
            const size_t r = ReadSomeCount(buf, sizeof buf);
            if (r == 0) return out;
            out.append(buf, r);
        }
    }

    void Send(const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            // write(), not send(): tests count the client's send calls.
            const ssize_t n = write(fd_, bytes.data() + sent, bytes.size() - sent);
            if (n <= 0) return;
            sent += static_cast<size_t>(n);
        }
    }

    // Sends everything, and tells how much had gone out when the client
    // first stopped taking bytes for stall_ms (everything if it never did).
    size_t SendNotingStall(const std::string& bytes, int stall_ms) {
        size_t sent = 0;
        size_t before_stall = bytes.size();
        bool stalled = false;
        while (sent < bytes.size()) {
            pollfd p{fd_, POLLOUT, 0};
            if (poll(&p, 1, stall_ms) == 0 && !stalled) {
                stalled = true;
                before_stall = sent;
                if (poll(&p, 1, kPeerWaitMs) <= 0) return before_stall;
            }
            const ssize_t n = write(fd_, bytes.data() + sent, std::min<size_t>(65536, bytes.size() - sent));
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
        return before_stall;
    }

    // Sends what the client still takes; false once it has gone (no
    // SIGPIPE: a client that gives up part way is what some tests expect).
    bool Offer(const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }

    // Waits until the client has read every byte sent to it so far, has
    // gone, or kPeerWaitMs has passed. A script that moves the client's
    // clock between pieces waits first, so that the clock never runs ahead
    // of what the client has read: the loopback's buffers would otherwise
    // let the server race minutes of test time ahead of the client. The
    // queues are the kernel's (/proc/net/tcp): what our end has sent that
    // was not yet taken in, and what the client's end holds unread.
    void WaitUntilRead() {
        sockaddr_in self{};
        sockaddr_in peer{};
        socklen_t len = sizeof self;
        if (getsockname(fd_, reinterpret_cast<sockaddr*>(&self), &len) != 0) return;
        len = sizeof peer;
        if (getpeername(fd_, reinterpret_cast<sockaddr*>(&peer), &len) != 0) return;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPeerWaitMs);
        while (Queued(ntohs(self.sin_port), ntohs(peer.sin_port)) > 0 && !Gone() &&
               std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }

    // Half-closes our sending side: the client sees the end of the answer.
    void EndOutput() { shutdown(fd_, SHUT_WR); }

    // Waits until the client closes its end (or the wait runs out).
    void WaitForClose() { ReadAll(); }

    const std::string& received() const { return received_; }

private:
    bool ReadSome(char* c, size_t n) { return ReadSomeCount(c, n) > 0; }

    // Whether the client has closed its end.
    bool Gone() const {
        pollfd p{fd_, POLLRDHUP, 0};
        return poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
    }

    // Bytes on their way between the two ends of one loopback connection:
    // our end's send queue plus the client's unread receive queue.
    static unsigned long Queued(unsigned ours, unsigned theirs) {
        std::ifstream table("/proc/net/tcp");
        std::string line;
        std::getline(table, line);  // the column names
        unsigned long queued = 0;
        while (std::getline(table, line)) {
            unsigned local = 0, remote = 0;
            unsigned long tx = 0, rx = 0;
            // "sl: local_address:port rem_address:port st tx_queue:rx_queue ..."
            if (std::sscanf(line.c_str(), " %*u: %*8x:%x %*8x:%x %*x %lx:%lx", &local, &remote, &tx,
                            &rx) != 4) {
                continue;
            }
            if (local == ours && remote == theirs) queued += tx;
            if (local == theirs && remote == ours) queued += rx;
        }
        return queued;
    }

    size_t ReadSomeCount(char* buf, size_t n) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, kPeerWaitMs) <= 0) return 0;
        const ssize_t r = read(fd_, buf, n);
        if (r <= 0) return 0;
        received_.append(buf, static_cast<size_t>(r));
        return static_cast<size_t>(r);
    }

    int fd_;
    std::string received_;
};

class RecordingServer {
public:
    using Script = std::function<void(Peer&)>;

    // One script per connection the test expects, in order. A receive
    // buffer size (SO_RCVBUF) makes a peer that stops reading fill up soon.
    explicit RecordingServer(std::vector<Script> scripts, int receive_buffer = 0)
        : scripts_(std::move(scripts)) {
        listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (receive_buffer > 0) {
            setsockopt(listen_fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
        }
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sa.sin_port = 0;
        socklen_t len = sizeof sa;
        if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
            listen(listen_fd_, 16) != 0 ||
            getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
            throw std::runtime_error("test server cannot listen");
        }
        port_ = ntohs(sa.sin_port);
        thread_ = std::thread([this] { Run(); });
    }

    ~RecordingServer() {
        Join();
        close(listen_fd_);
    }

    uint16_t port() const { return port_; }
    // "127.0.0.1:port", as host texts and Host headers carry it.
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

    // Waits until every script has run (or no client came in time).
    void Join() {
        if (thread_.joinable()) thread_.join();
    }

    // Bytes received on each connection, in order; call after Join.
    std::vector<std::string> received() {
        std::lock_guard<std::mutex> hold(mutex_);
        return received_;
    }
    int connections() {
        std::lock_guard<std::mutex> hold(mutex_);
        return static_cast<int>(received_.size());
    }

private:
    void Run() {
        for (Script& script : scripts_) {
            pollfd p{listen_fd_, POLLIN, 0};
            if (poll(&p, 1, kPeerWaitMs) <= 0) return;
            const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) return;
            Peer peer(fd);
            script(peer);
            close(fd);
            std::lock_guard<std::mutex> hold(mutex_);
            received_.push_back(peer.received());
        }
    }

    std::vector<Script> scripts_;
    int listen_fd_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> received_;
};

// The usual script: read one request, answer with exactly these bytes, close.
inline RecordingServer::Script Answer(std::string reply) {
    return [reply](Peer& peer) {
        peer.ReadRequest();
        peer.Send(reply);
    };
}

// Answers a request with head, then (once go is ready, when it is given)
// with each piece after calling before_each, which moves the test's clock
// on, then with tail; it stops once the client has gone. The clock moves
// only once the client has read everything sent before, so what the client
// sees of it is the time its bytes came at.
inline RecordingServer::Script Drip(std::string head, std::vector<std::string> pieces,
                                    std::string tail, std::function<void()> before_each,
                                    std::shared_future<void> go = {}) {
    return [=](Peer& peer) {
        peer.ReadRequest();
        if (!peer.Offer(head)) return;
        if (go.valid()) go.wait_for(std::chrono::milliseconds(kPeerWaitMs));
        for (const std::string& piece : pieces) {
            peer.WaitUntilRead();
            before_each();
            if (!peer.Offer(piece)) return;
        }
        peer.Offer(tail);
    };
}

// A link of a steady rate on the client's clock: answers a request with
// head, then with body in pieces of piece bytes, tick moving the clock on
// before each.
inline RecordingServer::Script SteadyLink(const std::string& head, const std::string& body,
                                          size_t piece, std::function<void()> tick) {
    std::vector<std::string> pieces;
    for (size_t at = 0; at < body.size(); at += piece) pieces.push_back(body.substr(at, piece));
    return Drip(head, std::move(pieces), "", std::move(tick));
}

// A server that takes the connection and then neither reads nor answers
// until the test releases it (or the wait runs out). Its close cannot tell
// when the client gave up: the client's end ends only after the data it
// still holds, which this server never takes.
inline RecordingServer::Script Stall(std::shared_future<void> released) {
    return [released](Peer&) { released.wait_for(std::chrono::milliseconds(kPeerWaitMs)); };
}

}  // namespace qrvnet
