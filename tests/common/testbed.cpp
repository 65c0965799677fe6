#include "common/testbed.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace qrvtest {

namespace {

constexpr uint16_t kControlPort = 8999;

bool WaitForFile(const std::string& path, std::chrono::milliseconds limit) {
    auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        if (access(path.c_str(), F_OK) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}  // namespace

bool InPrivateNetwork() {
    const char* v = getenv("QRV_NETNS");
    return v && std::strcmp(v, "1") == 0;
}

Testbed::~Testbed() { Stop(); }

bool Testbed::Start(const std::string& work_dir, const std::string& config_json,
                    const std::string& cores_dir) {
    if (!InPrivateNetwork()) {
        error_ = "not inside testbed/netns-run: the servers' fixed ports need a private namespace";
        return false;
    }
    std::string ready = work_dir + "/testbed.ready";
    std::string config = work_dir + "/testbed.json";
    unlink(ready.c_str());
    if (!config_json.empty()) {
        std::ofstream(config) << config_json;
    }
    std::string log = work_dir + "/testbed.log";
    pid_t pid = fork();
    if (pid < 0) {
        error_ = "fork failed";
        return false;
    }
    if (pid == 0) {
        std::vector<std::string> args = {QRV_PYTHON, QRV_TESTBED_SERVER, "--ready-file", ready};
        if (!config_json.empty()) args.insert(args.end(), {"--config", config});
        if (!cores_dir.empty()) args.insert(args.end(), {"--cores", cores_dir});
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        FILE* out = freopen(log.c_str(), "w", stdout);
        (void)out;
        dup2(STDOUT_FILENO, STDERR_FILENO);
        // The client blocks its console signals; the server must not inherit that.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execv(args[0].c_str(), argv.data());
        _exit(127);
    }
    pid_ = pid;
    if (!WaitForFile(ready, std::chrono::seconds(20))) {
        std::ifstream in(log);
        std::stringstream s;
        s << in.rdbuf();
        error_ = "testbed did not become ready: " + s.str();
        Stop();
        return false;
    }
    return true;
}

void Testbed::Stop() {
    if (pid_ <= 0) return;
    Control("POST", "/shutdown");
    int status = 0;
    for (int i = 0; i < 250; ++i) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

std::string Testbed::Control(const std::string& method, const std::string& target,
                             const std::string& body, int* status) {
    if (status) *status = 0;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return "";
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(kControlPort);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval tv{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return "";
    }
    std::string req = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
                      "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    if (send(fd, req.data(), req.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(req.size())) {
        close(fd);
        return "";
    }
    std::string reply;
    char buf[4096];
    ssize_t n;
    while ((n = recv(fd, buf, sizeof buf, 0)) > 0) reply.append(buf, static_cast<size_t>(n));
    close(fd);
    size_t head_end = reply.find("\r\n\r\n");
    if (head_end == std::string::npos) return "";
    if (status && reply.size() > 12) *status = std::atoi(reply.c_str() + 9);
    return reply.substr(head_end + 4);
}

bool Testbed::Configure(const std::string& server, const std::string& json) {
    int status = 0;
    Control("POST", "/servers/" + server, json, &status);
    return status == 200;
}

long Testbed::Summary(const std::string& key) {
    std::string text = Control("GET", "/summary");
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        // Lines read "key value".
        size_t sep = line.find(' ');
        if (sep == std::string::npos) continue;
        std::string k = line.substr(0, sep);
        while (!k.empty() && k.back() == ' ') k.pop_back();
        if (k == key) return std::atol(line.c_str() + sep + 1);
    }
    return -1;
}

}  // namespace qrvtest
