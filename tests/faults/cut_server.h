// A server that ends every reply early: it reads one whole request, sends
// the first `cut` bytes of a fixed reply and closes. The testbed cuts the
// body of its replies; this one cuts inside the HTTP head as well, which
// the testbed's switches cannot reach. It counts the requests it took, so a
// test can tell a cut reply from a connection that never reached it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace qrvfault {

class CutServer {
public:
    CutServer() = default;
    ~CutServer() { Stop(); }
    CutServer(const CutServer&) = delete;
    CutServer& operator=(const CutServer&) = delete;

    // Listens on address:port (dotted). False when the port cannot be had.
    bool Start(const char* address, uint16_t port) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listener_ < 0) return false;
        const int one = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(port);
        if (inet_pton(AF_INET, address, &at.sin_addr) != 1 ||
            bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
            listen(listener_, 16) != 0) {
            close(listener_);
            listener_ = -1;
            return false;
        }
        running_ = true;
        thread_ = std::thread([this] { Serve(); });
        return true;
    }

    void Stop() {
        if (!running_) return;
        running_ = false;
        thread_.join();
        close(listener_);
        listener_ = -1;
    }

    // The reply whose first `cut` bytes every request gets (set before the
    // request is made; the server thread reads both while it answers).
    void SetReply(const std::string& reply) {
        std::lock_guard<std::mutex> hold(lock_);
        reply_ = reply;
    }
    void SetCut(size_t cut) { cut_ = cut; }
    long requests() const { return requests_; }

private:
    void Serve() {
        while (running_) {
            pollfd p{listener_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            const int conn = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (conn < 0) continue;
            if (ReadRequest(conn)) {
                ++requests_;
                std::string reply;
                {
                    std::lock_guard<std::mutex> hold(lock_);
                    reply = reply_;
                }
                WriteAll(conn, reply.data(), std::min(cut_.load(), reply.size()));
            }
            // Everything the client sent was read, so the close is a plain
            // end of the stream, not a reset.
            shutdown(conn, SHUT_WR);
            close(conn);
        }
    }

    // Reads the head and the body its Content-Length announces.
    static bool ReadRequest(int conn) {
        std::string in;
        char buf[4096];
        size_t head_end = std::string::npos;
        size_t want = 0;
        for (;;) {
            if (head_end == std::string::npos) {
                head_end = in.find("\r\n\r\n");
                if (head_end != std::string::npos) {
                    head_end += 4;
                    want = head_end + ContentLength(in.substr(0, head_end));
                }
            }
            if (head_end != std::string::npos && in.size() >= want) return true;
            pollfd p{conn, POLLIN, 0};
            if (poll(&p, 1, 5000) <= 0) return false;
            const ssize_t got = read(conn, buf, sizeof buf);
            if (got <= 0) return false;
            in.append(buf, static_cast<size_t>(got));
        }
    }

    static size_t ContentLength(const std::string& head) {
        std::string lower(head);
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const size_t at = lower.find("\r\ncontent-length:");
        if (at == std::string::npos) return 0;
        return static_cast<size_t>(std::strtoul(lower.c_str() + at + 17, nullptr, 10));
    }

    static void WriteAll(int conn, const char* data, size_t n) {
        while (n > 0) {
            const ssize_t put = write(conn, data, n);
            if (put <= 0) return;
            data += put;
            n -= static_cast<size_t>(put);
        }
    }

    int listener_ = -1;
    std::atomic<bool> running_{false};
    std::thread thread_;
    std::mutex lock_;
    std::string reply_;
    std::atomic<size_t> cut_{0};
    std::atomic<long> requests_{0};
};

}  // namespace qrvfault
