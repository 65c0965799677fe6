// Starting a core the way a client does, for the tests of the cores: a real
// child process in the current directory, with an argument list, extra
// environment, and the means to signal it through its named semaphores.
// The tests speak POSIX directly: they test the cores, not the client.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace qrvtest {

constexpr int kTimedOut = -1;

class CoreChild {
public:
    CoreChild() = default;
    CoreChild(const CoreChild&) = delete;
    CoreChild& operator=(const CoreChild&) = delete;
    ~CoreChild() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    // argv[0] is the program path; env entries are "NAME=value" added to ours.
    bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env = {}) {
        // Everything the child needs is made before fork: after it, only
        // async-signal-safe calls.
        std::vector<std::string> env_text(env);  // first, so they win over ours
        for (char** e = environ; *e != nullptr; ++e) env_text.push_back(*e);
        std::vector<char*> args, envp;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        for (const std::string& e : env_text) envp.push_back(const_cast<char*>(e.c_str()));
        args.push_back(nullptr);
        envp.push_back(nullptr);
        pid_ = fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            execve(args[0], args.data(), envp.data());
            _exit(0);  // a core that could not start: the client reads 99
        }
        return true;
    }

    pid_t pid() const { return pid_; }

    // Exit code, 128 + signal number for a core killed by a signal, or
    // kTimedOut (the core is then killed).
    int Wait(int timeout_ms, rusage* usage = nullptr) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            int status = 0;
            rusage ru{};
            pid_t got = wait4(pid_, &status, WNOHANG, &ru);
            if (got == pid_) {
                reaped_ = true;
                if (usage != nullptr) *usage = ru;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (std::chrono::steady_clock::now() >= end) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
                reaped_ = true;
                return kTimedOut;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
};

// "/" + 16 upper-case hex digits + "-SIGINT" / "-SIGTERM".
inline std::string SemaphoreName(pid_t pid, const char* which) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "/%016llX-%s", static_cast<unsigned long long>(pid), which);
    return buf;
}

// Releases a core's semaphore; false when the core has none (yet).
inline bool ReleaseSemaphore(pid_t pid, const char* which) {
    sem_t* sem = sem_open(SemaphoreName(pid, which).c_str(), 0);
    if (sem == SEM_FAILED) return false;
    const bool ok = sem_post(sem) == 0;
    sem_close(sem);
    return ok;
}

// Waits until the core has created its semaphores, then releases one.
inline bool ReleaseWhenReady(pid_t pid, const char* which, int timeout_ms = 10000) {
    for (int waited = 0; waited < timeout_ms; waited += 10) {
        if (ReleaseSemaphore(pid, which)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

inline std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Waits until path holds text; false after timeout_ms.
inline bool WaitForText(const std::string& path, const std::string& text, int timeout_ms) {
    for (int waited = 0; waited < timeout_ms; waited += 10) {
        if (Slurp(path).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

inline uint32_t LeU32(const std::string& b, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(b[at])) |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}

}  // namespace qrvtest
