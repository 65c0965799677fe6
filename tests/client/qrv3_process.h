// Runs the real qrv3 binary (or a helper program) as a child process in the
// current directory, with standard input and output piped, for end-to-end
// tests. Every wait is a bounded poll; a child still running when the object
// goes away is killed.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "common/temp_dir.h"

namespace qrvtest {

class ChildProcess {
public:
    // Starts program with args (argv[0] is the program's path). extra_env
    // entries ("NAME=value") are added to the environment.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& extra_env = {}) {
        // A child that ends while the test still writes to it must not end
        // the test.
        signal(SIGPIPE, SIG_IGN);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (char** e = environ; *e; ++e) envp.push_back(*e);
        for (const std::string& e : extra_env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);

        int in_pipe[2];
        int out_pipe[2];
        if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in_pipe[0], 0);
            dup2(out_pipe[1], 1);
            execve(program.c_str(), argv.data(), envp.data());
            _exit(127);
        }
        close(in_pipe[0]);
        close(out_pipe[1]);
        in_fd_ = in_pipe[1];
        out_fd_ = out_pipe[0];
        fcntl(out_fd_, F_SETFL, O_NONBLOCK);
    }

    ~ChildProcess() {
        if (running()) {
            kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
        if (in_fd_ >= 0) close(in_fd_);
        if (out_fd_ >= 0) close(out_fd_);
    }

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0 && !exited_; }

    void Write(const std::string& text) {
        if (in_fd_ >= 0) (void)!write(in_fd_, text.data(), text.size());
    }
    void CloseInput() {
        if (in_fd_ >= 0) close(in_fd_);
        in_fd_ = -1;
    }
    void Signal(int sig) {
        if (running()) kill(pid_, sig);
    }

    // Everything the child wrote to standard output so far.
    const std::string& output() {
        Drain(0);
        return output_;
    }

    // Polls until the output holds text; false after timeout_ms.
    bool WaitForOutput(const std::string& text, int timeout_ms = 30000) {
        const auto end = Deadline(timeout_ms);
        while (output_.find(text) == std::string::npos) {
            if (Clock::now() >= end) return false;
            if (!Drain(50) && eof_) return output_.find(text) != std::string::npos;
        }
        return true;
    }

    // Polls until cond() holds or timeout_ms passes, reading output meanwhile.
    template <typename Cond>
    bool WaitUntil(Cond cond, int timeout_ms = 30000) {
        const auto end = Deadline(timeout_ms);
        while (!cond()) {
            if (Clock::now() >= end) return false;
            Drain(20);
        }
        return true;
    }

    // Waits for the child to end and returns its exit code (128 + N for a
    // signal N), or -1 when it is still running after timeout_ms.
    int WaitExit(int timeout_ms = 30000) {
        const auto end = Deadline(timeout_ms);
        while (!exited_) {
            int status = 0;
            const pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                exited_ = true;
                exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (Clock::now() >= end) return -1;
            Drain(20);
        }
        while (Drain(0)) {
        }
        return exit_code_;
    }

private:
    using Clock = std::chrono::steady_clock;
    static Clock::time_point Deadline(int ms) { return Clock::now() + std::chrono::milliseconds(ms); }

    // Reads what is available, waiting up to wait_ms for something. True when
    // something was read.
    bool Drain(int wait_ms) {
        if (out_fd_ < 0) return false;
        pollfd p{out_fd_, POLLIN, 0};
        if (eof_) {
            if (wait_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(wait_ms));
            return false;
        }
        if (poll(&p, 1, wait_ms) <= 0) return false;
        char buf[4096];
        bool any = false;
        for (;;) {
            const ssize_t n = read(out_fd_, buf, sizeof buf);
            if (n == 0) eof_ = true;
            if (n <= 0) break;
            output_.append(buf, static_cast<size_t>(n));
            any = true;
        }
        return any;
    }

    pid_t pid_ = -1;
    int in_fd_ = -1;
    int out_fd_ = -1;
    bool exited_ = false;
    bool eof_ = false;
    int exit_code_ = -1;
    std::string output_;
};

// Counts the occurrences of needle in text.
inline size_t CountOf(const std::string& text, const std::string& needle) {
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        ++count;
    }
    return count;
}

inline bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace qrvtest
