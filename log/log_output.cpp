#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "log/log.h"
#include "log/log_line.h"
#include "log/log_target.h"

namespace {

std::atomic<uint32_t> g_verbosity{kLogDefaultVerbosity};
std::atomic<bool> g_console_echo{false};

// One lock from stamping to the end of the write: lines of different threads
// never mix, and the line-start flag belongs to whoever holds it.
std::mutex g_log_mutex;
bool g_line_start = true;
LogStream* g_target = nullptr;
// Set by the process's last line: nothing is written after it.
bool g_sealed = false;

void WriteLocked(const char* text, size_t length) {
    if (g_sealed) return;
    if (g_console_echo.load()) {
        fwrite(text, 1, length, stdout);
        fflush(stdout);
    }
    if (!g_target) return;
    char bytes[kLogWriteMax];
    const size_t n = ComposeLogBytes(text, length, bytes);
    // A failed write is not reported: the console has shown the text.
    v3FileWrite(&g_target->file, nullptr, bytes, n);
    RotateFullLog(g_target, n > 0 && bytes[n - 1] == '\n');
}

}  // namespace

uint32_t LogVerbosity() { return g_verbosity.load(); }
void SetLogVerbosity(uint32_t level) { g_verbosity.store(level); }
void LogSetConsoleEcho(bool on) { g_console_echo.store(on); }

LogStream* LogWriteAndSeal(const char* text) {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    WriteLocked(text, strlen(text));
    g_console_echo.store(false);
    g_sealed = true;
    LogStream* old = g_target;
    g_target = nullptr;
    return old;
}

LogStream* LogSwapTarget(LogStream* stream) {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    LogStream* old = g_target;
    g_target = stream;
    return old;
}

namespace {

// LogPrint's work on an argument list that the caller owns (and ends).
void LogPrintList(const char* format, va_list ap) {
    char message[kLogMessageMax + 1];
    va_list again;
    va_copy(again, ap);
    const int full = vsnprintf(message, sizeof message, format, ap);
    bool ends_with_newline = full > 0 && static_cast<size_t>(full) <= kLogMessageMax &&
                             message[full - 1] == '\n';
    if (full > 0 && static_cast<size_t>(full) > kLogMessageMax) {
        // Only the whole text tells whether the message ended its line.
        std::vector<char> whole(static_cast<size_t>(full) + 1);
        vsnprintf(whole.data(), whole.size(), format, again);
        ends_with_newline = whole[full - 1] == '\n';
    }
    va_end(again);
    if (full <= 0) return;
    const size_t length = CutLogMessage(message, static_cast<size_t>(full), ends_with_newline);

    std::lock_guard<std::mutex> lock(g_log_mutex);
    char line[kStampBufferSize + 1 + kLogMessageMax];
    size_t n = 0;
    if (g_line_start) {
        FormatTimeStamp(line, kStampShort);
        n = strlen(line);
        line[n++] = ' ';
    }
    // The message is copied, never formatted again: a "%" in a user name or
    // a path stays as it is.
    memcpy(line + n, message, length);
    n += length;
    WriteLocked(line, n);
    g_line_start = message[length - 1] == '\n';
}

}  // namespace

void LogPrint(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    LogPrintList(format, ap);
    va_end(ap);
}

void LogAt(LogLevel level, const char* format, ...) {
    if (!LogLevelOn(level)) return;
    va_list ap;
    va_start(ap, format);
    LogPrintList(format, ap);
    va_end(ap);
}

void LogWrite(const char* format, ...) {
    char small[512];
    va_list ap;
    va_start(ap, format);
    va_list again;
    va_copy(again, ap);
    const int full = vsnprintf(small, sizeof small, format, ap);
    va_end(ap);
    std::vector<char> large;
    const char* text = small;
    if (full >= static_cast<int>(sizeof small)) {
        large.resize(static_cast<size_t>(full) + 1);
        vsnprintf(large.data(), large.size(), format, again);
        text = large.data();
    }
    va_end(again);
    if (full <= 0) return;
    std::lock_guard<std::mutex> lock(g_log_mutex);
    WriteLocked(text, static_cast<size_t>(full));
}
