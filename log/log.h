// Leveled output: everything the client says goes to the console and, in the
// same words, to the log file QRVlog.txt in the working directory.
//
// A message is printed only when the verbosity level reaches its own:
//     LogAt(kLogNormal, "+ Working ...\n");
// LogPrint (what LogAt calls) stamps every new line with "[HH:MM:SS] " (UTC); LogWrite writes
// text as it is (banner, argument list, opening and shutdown lines, tables).
// Both use the C library's printf conversions. In the log file every line
// feed is stored as carriage return and line feed; the console keeps plain
// line feeds. Calls from several threads never mix within a line.
#pragma once

#include <cstddef>
#include <cstdint>

// The verbosity level, 1..9; 3 unless the command line set another.
inline constexpr uint32_t kLogDefaultVerbosity = 3;
uint32_t LogVerbosity();
void SetLogVerbosity(uint32_t level);
// The levels messages are printed at. The numbers are the user's: the
// -verbosity option and every message's level are fixed by them.
enum LogLevel : uint32_t {
    kLogEssential = 2,   // the few lines that say why the client stops
    kLogNormal = 3,      // what the client does, the default
    kLogDetail = 4,      // figures and steps a curious user may want
    kLogConnection = 5,  // each connection opened
    kLogDiagnostic = 6,  // warnings and signals, for a user chasing a fault
    kLogTrace = 8,       // command lines and payload sizes
    kLogFullTrace = 9,   // every step of an exchange
};
// True when a message of level n is to be printed; for a message of several
// calls, or work done only to print.
inline bool LogLevelOn(uint32_t n) { return LogVerbosity() >= n; }

// Console echo: while on, LogPrint and LogWrite also write to standard
// output. Start-up turns it on before anything is printed; off at process
// start so that a library user decides.
void LogSetConsoleEcho(bool on);

// Longest message of one LogPrint, in characters; longer ones are cut.
inline constexpr size_t kLogMessageMax = 255;
// Bytes of one write to the log file (after the line-end expansion).
inline constexpr size_t kLogWriteMax = 256;

void LogPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
// LogPrint when the verbosity level is at least level.
void LogAt(LogLevel level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void LogWrite(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Time stamps, UTC: the short form "[%02u:%02u:%02u]" and the full form
// "[%s %u %02u:%02u:%02u]" (month name, day from 1, hours, minutes, seconds).
inline constexpr int kStampShort = 0;
inline constexpr int kStampFull = 1;
// Room for the longest full stamp ("[September 30 23:59:59]", 23 characters)
// with a margin and the terminator.
inline constexpr size_t kStampBufferSize = 32;
// Makes a stamp of the current time into the calling thread's stamp buffer
// and returns that buffer; it holds the stamp until this thread makes the
// next one, so a caller can pass it as an argument of its own message.
const char* MakeTimeStamp(int full);
// The same into a buffer of the caller's (at least kStampBufferSize bytes).
void FormatTimeStamp(char* out, int full);

// The open log, owned by the log module; callers only keep the pointer that
// OpenLog hands out for a fallback log.
struct LogStream;

// While the client runs, a log that has reached this size is rotated as a
// start-up rotates it, so a client left alone for months never fills the
// disk with its log: at the end of the line that took QRVlog.txt there, it
// becomes QRVlog-Prev.txt (replacing the one before) and a new QRVlog.txt
// begins with the opening line. A fallback QRVlog2.txt, which has no
// previous name, is begun anew at the same size. A line that never ends is
// rotated in the middle once it has run kLogRotateSlack bytes past the
// size. Together the log files thus stay below about three times the size.
inline constexpr uint64_t kLogRotateRunningSize = 4u << 20;
inline constexpr uint64_t kLogRotateSlack = 64u << 10;

// Opens QRVlog.txt (rotating it to QRVlog-Prev.txt at 50000 bytes or more),
// or a fallback when it cannot, and writes the opening line. *fallback is the
// fallback log it had to make, or nullptr. Always 0: the program never stops
// because of its log; with no log at all, output goes to the console only.
int OpenLog(LogStream** fallback);
// Pushes the log to the disk and closes it; later output reaches the console
// only.
void CloseLog();
// The process's last line: writes text (as LogWrite) and closes the log as
// CloseLog does, and from then on the console takes no line either. One step
// under the log lock, so that a thread still at work while the process ends
// cannot write after it.
void LogLastWords(const char* text);
