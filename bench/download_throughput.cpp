// Download throughput of both transports on the loopback interface, beside
// `curl -o` fetching the same 50 MB file from the same server (curl's time
// includes starting the program). Prints figures only; the target is at
// least 0.8 of curl's throughput.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "config/settings.h"
#include "net/client_identity.h"
#include "net/direct_transport.h"
#include "net/download.h"
#include "net/server_access.h"
#include "net/system_exchange.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRounds = 5;
constexpr size_t kFileBytes = 50u * 1000 * 1000;

// Serves the same body to every GET until stopped.
class FileServer {
public:
    explicit FileServer(const std::string& body) : body_(body) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof sa;
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
            listen(fd_, 8) != 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
            std::perror("listen");
            std::exit(1);
        }
        port_ = ntohs(sa.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~FileServer() {
        stop_ = true;
        thread_.join();
        close(fd_);
    }
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    void Run() {
        const std::string head =
            "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body_.size()) + "\r\n\r\n";
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            const int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            std::string request;
            char ch;
            while (request.find("\r\n\r\n") == std::string::npos && read(c, &ch, 1) == 1) {
                request.push_back(ch);
            }
            if (WriteAll(c, head) && WriteAll(c, body_)) shutdown(c, SHUT_WR);
            char drain[256];
            while (read(c, drain, sizeof drain) > 0) {
            }
            close(c);
        }
    }
    static bool WriteAll(int fd, const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = write(fd, bytes.data() + sent, std::min<size_t>(1 << 20, bytes.size() - sent));
            if (n <= 0) return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }

    const std::string& body_;
    int fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// One timed download into a new file, as a first download of a core does
// (an existing file would be wiped with zeros before it is replaced).
double Seconds(const char* file, const std::function<bool()>& run) {
    fs::remove(file);
    const auto t0 = std::chrono::steady_clock::now();
    if (!run()) return -1;
    const std::chrono::duration<double> d = std::chrono::steady_clock::now() - t0;
    return d.count();
}

bool SameSize(const char* path) {
    std::error_code ec;
    return fs::file_size(path, ec) == kFileBytes && !ec;
}

int Run() {
    std::string body(kFileBytes, '\0');
    uint32_t x = 2463534242u;
    for (char& c : body) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);
    FileServer server(body);
    const std::string host = server.host();

    // The three take turns, so that a change in the machine's load falls on
    // all of them alike; the best round of each counts.
    double curl = 1e30, direct = 1e30, system = 1e30;
    const ClientIdentity identity;
    NetworkPermission permission;
    DirectTransport built_in{ProxySettings{}};
    SystemTransport system_library;
    const ServerAccess over_built_in{identity, built_in, permission};
    const ServerAccess over_system{identity, system_library, permission};
    for (int round = 0; round < kRounds; ++round) {
        const double c = Seconds("curl.bin", [&] {
            return std::system(("curl -s -o curl.bin http://" + host + "/file.bin").c_str()) == 0 &&
                   SameSize("curl.bin");
        });
        const double d = Seconds("direct.bin", [&] {
            return DownloadFile(over_built_in, host.c_str(), "/file.bin", "direct.bin") == 0 &&
                   SameSize("direct.bin");
        });
        const double s = Seconds("system.bin", [&] {
            return DownloadFile(over_system, host.c_str(), "/file.bin", "system.bin") == 0 &&
                   SameSize("system.bin");
        });
        curl = std::min(curl, c);
        direct = std::min(direct, d);
        system = std::min(system, s);
        if (c < 0 || d < 0 || s < 0) break;
    }
    if (curl < 0 || direct < 0 || system < 0) {
        std::fprintf(stderr, "download_throughput: a download failed (curl %.3f, built-in %.3f, system %.3f)\n",
                     curl, direct, system);
        return 1;
    }
    const double mb = kFileBytes / 1e6;
    std::printf("download of %.0f MB on loopback, best of %d:\n", mb, kRounds);
    std::printf("  curl -o            %8.1f MB/s\n", mb / curl);
    std::printf("  built-in transport %8.1f MB/s   ratio to curl %.2f\n", mb / direct, curl / direct);
    std::printf("  system transport   %8.1f MB/s   ratio to curl %.2f\n", mb / system, curl / system);
    return 0;
}

}  // namespace

int main() {
    const fs::path dir = fs::temp_directory_path() / ("qrv-download-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path old = fs::current_path();
    fs::current_path(dir);
    const int rc = Run();
    fs::current_path(old);
    fs::remove_all(dir);
    return rc;
}
