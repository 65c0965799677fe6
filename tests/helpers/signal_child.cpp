// A second process for the signal tests. It takes signals the way the client
// does and reports each one on standard output, one line each.
//
//   signal_child echo [hold]  take over the system's signals, register for 2
//                             and 15, print "ready <pid>"; print "got <n>" for
//                             each signal and "event <e>" for each console
//                             event. With "hold" the first signal's handler
//                             returns only after a "go" line. Standard input
//                             lines: "go", "exit <code>" (ends through
//                             v3Exit); end of input ends the program with 0.
//   signal_child idle         print "ready <pid>" and wait; no semaphores.
//   signal_child quit <code>  end at once with code.
// Every mode ends itself after kLifetimeMs, so a failing test never leaves a
// process behind for long.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "support/exit.h"
#include "support/process.h"
#include "support/signals.h"
#include "support/sleep.h"
#include "support/thread.h"

namespace {

constexpr uint32_t kLifetimeMs = 20000;

std::atomic<bool> g_hold{false};
std::atomic<bool> g_go{false};

// One write() per line, outside stdio: exit() flushes the standard streams
// without taking their locks, so a line another thread is still flushing
// could otherwise come out twice.
void Say(const char* text, long value) {
    char line[64];
    int n = std::snprintf(line, sizeof line, "%s %ld\n", text, value);
    if (n > 0 && write(1, line, static_cast<size_t>(n)) != n) std::_Exit(4);
}

void OnSignal(int sig) {
    Say("got", sig);
    if (g_hold.exchange(false)) {
        for (uint32_t waited = 0; !g_go.load() && waited < kLifetimeMs; ++waited) v3Sleep(1);
    }
}

int OnConsole(uint32_t event) {
    Say("event", static_cast<long>(event));
    return 1;
}

void OnExitCleanup() {
    Say("cleanup", 0);
}

void EndAfterLifetime(void*) {
    v3Sleep(kLifetimeMs);
    Say("timeout", 0);
    v3Exit(3);
}

int Echo(bool hold) {
    if (v3SignalDispatchStart() != 0) return 10;
    v3ConsoleHandlerRegister(OnConsole);
    g_hold.store(hold);
    if (v3SignalRegister(15, OnSignal) != 0 || v3SignalRegister(2, OnSignal) != 0) return 11;
    v3SetExitCleanup(OnExitCleanup);
    uint64_t tid = 0;
    v3ThreadStart(&tid, EndAfterLifetime, nullptr, 4096);
    Say("ready", static_cast<long>(v3ProcessID()));
    char line[128];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        if (std::strncmp(line, "go", 2) == 0) g_go.store(true);
        if (std::strncmp(line, "exit ", 5) == 0) v3Exit(std::atoi(line + 5));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "echo") return Echo(argc > 2 && std::string(argv[2]) == "hold");
    if (mode == "quit") return argc > 2 ? std::atoi(argv[2]) : 0;
    if (mode == "idle") {
        Say("ready", static_cast<long>(v3ProcessID()));
        EndAfterLifetime(nullptr);
    }
    std::fprintf(stderr, "usage: signal_child echo [hold] | idle | quit <code>\n");
    return 2;
}
