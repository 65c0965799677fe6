#include "support/platform/terminal.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <termios.h>
#include <unistd.h>

namespace {

// The terminal settings in force before a key read switched to raw mode.
// Kept so that a process ending during the read (Ctrl-C reaches the signal
// dispatcher, which ends the process) leaves the user's terminal usable.
struct SavedTerminal {
    std::mutex guard;
    termios settings{};
    bool raw = false;
};

SavedTerminal& Saved() {
    static SavedTerminal* saved = new SavedTerminal;  // outlives exit handlers
    return *saved;
}

void RestoreAtExit() {
    SavedTerminal& s = Saved();
    if (s.guard.try_lock()) {
        if (s.raw) tcsetattr(0, TCSANOW, &s.settings);
        s.guard.unlock();
    }
}

bool EnterRaw() {
    static std::once_flag once;
    std::call_once(once, [] { std::atexit(RestoreAtExit); });
    SavedTerminal& s = Saved();
    std::lock_guard<std::mutex> hold(s.guard);
    if (tcgetattr(0, &s.settings) != 0) return false;
    termios raw = s.settings;
    // Keep ISIG so that Ctrl-C still interrupts the client.
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(0, TCSANOW, &raw) != 0) return false;
    s.raw = true;
    return true;
}

void LeaveRaw() {
    SavedTerminal& s = Saved();
    std::lock_guard<std::mutex> hold(s.guard);
    if (s.raw) tcsetattr(0, TCSANOW, &s.settings);
    s.raw = false;
}

}  // namespace

bool PlatformStdinIsTerminal() { return isatty(0) == 1; }

int64_t PlatformStdinRead(char* buf, uint64_t count) {
    if (buf == nullptr) return -1;
    if (count == 0) return 0;
    for (;;) {
        ssize_t n = read(0, buf, count);
        if (n >= 0) return n;
        if (errno != EINTR) return -1;
    }
}

int PlatformReadKey() {
    // The lock only guards the saved settings; it is never held while the
    // read blocks.
    bool raw = PlatformStdinIsTerminal() && EnterRaw();
    char c;
    int64_t n = PlatformStdinRead(&c, 1);
    if (raw) LeaveRaw();
    return n == 1 ? static_cast<unsigned char>(c) : -1;
}
