#include <cstdio>
#include <cstring>

#include "log/log.h"
#include "log/log_line.h"
#include "log/log_target.h"
#include "support/file.h"
#include "support/platform/file_system.h"

namespace {

constexpr const char* kLogName = "QRVlog.txt";
constexpr const char* kPreviousLogName = "QRVlog-Prev.txt";
constexpr const char* kFallbackLogName = "QRVlog2.txt";
// A log is rotated at start-up once it has reached this size; while the
// client runs, only at kLogRotateRunningSize, so that a start-up still
// finds most of the last run's log in QRVlog.txt.
constexpr uint64_t kRotateSize = 50000;

// Writers of the log always append; the exclusive lock lets other programs
// read the file while the client has it, but keeps a second client out.
constexpr uint32_t kLogMode = kFileModeWrite | kFileModeAppend | kFileModeCreate;

LogStream g_log;       // QRVlog.txt as found or rotated
LogStream g_fallback;  // a new QRVlog.txt after a deletion, or QRVlog2.txt

int OpenStream(LogStream* stream, const char* name, bool fresh) {
    stream->file = v3File{};
    stream->rotate_at = kLogRotateRunningSize;
    return v3FileOpenLocked(&stream->file, name, kLogMode | (fresh ? kFileModeTruncate : 0));
}

// Moves a full (or unreadable) log aside. A log that another client holds is
// left alone, and so is its previous log: the rotation could not complete,
// and deleting QRVlog-Prev.txt for nothing would only lose it.
void RotateLog() {
    if (v3FileIsLocked(kLogName) == 1) return;
    v3FileDelete(kPreviousLogName);
    std::rename(kLogName, kPreviousLogName);
}

LogStream* OpenFallback() {
    if (v3FileDelete(kLogName) == 0 && OpenStream(&g_fallback, kLogName, true) == 0) {
        LogSwapTarget(&g_fallback);
        LogAt(kLogNormal, "\nQuorvel was originally unable to open %s, so it was deleted and a new "
              "copy started.\n",
              kLogName);
        return &g_fallback;
    }
    if (OpenStream(&g_fallback, kFallbackLogName, true) != 0) return nullptr;
    LogSwapTarget(&g_fallback);
    LogAt(kLogNormal, "\nThe file %s has been locked by the operating system and cannot be\n opened "
          "for writing (possibly because it is open in another application).\n",
          kLogName);
    LogAt(kLogNormal, "Before you next run Quorvel, please ensure %s is not open anywhere,\n or simply "
          "delete it. For now, %s will be used.\n",
          kLogName, kFallbackLogName);
    return &g_fallback;
}

// A running QRVlog.txt is renamed while it is still open, so the lock that
// keeps a second writer out never lapses, and let go only once the new one
// is open; the rename replaces the previous log. When no new log can be
// made, the name goes back and the log carries on where it was.
bool MoveFullLogAside(LogStream* stream) {
    if (std::rename(kLogName, kPreviousLogName) != 0) return false;
    v3File fresh{};
    if (v3FileOpenLocked(&fresh, kLogName, kLogMode | kFileModeTruncate) != 0) {
        std::rename(kPreviousLogName, kLogName);
        return false;
    }
    v3FileClose(&stream->file);
    stream->file = fresh;
    return true;
}

// QRVlog2.txt has no previous name; a start-up begins it anew, and so does
// this. Its writes append, so they go on from the new end.
bool BeginLogAgain(LogStream* stream) {
    if (PlatformFileTruncate(stream->file.descriptor, 0) != FsStatus::kOk) return false;
    stream->file.size = 0;
    stream->file.position = 0;
    return true;
}

// The opening line goes into the file alone: the console has shown the
// run without a break, and the lock is held, so no LogWrite here.
void WriteOpeningLine(LogStream* stream) {
    char stamp[kStampBufferSize];
    FormatTimeStamp(stamp, kStampFull);
    char text[kStampBufferSize + 32];
    const int length = std::snprintf(text, sizeof text, "\n\n--- Opening Log file %s \n\n", stamp);
    if (length <= 0) return;
    char bytes[kLogWriteMax];
    const size_t n = ComposeLogBytes(text, static_cast<size_t>(length), bytes);
    v3FileWrite(&stream->file, nullptr, bytes, n);
}

}  // namespace

void RotateFullLog(LogStream* stream, bool at_line_end) {
    const uint64_t size = stream->file.size;
    if (size < stream->rotate_at) return;
    if (!at_line_end && size - stream->rotate_at < kLogRotateSlack) return;
    const bool done = std::strcmp(stream->file.path, kLogName) == 0 ? MoveFullLogAside(stream)
                                                                     : BeginLogAgain(stream);
    if (!done) {
        // Trying at every line would cost a rename and an open per line on a
        // disk that refuses them; a quarter of the size later is soon enough.
        stream->rotate_at = size + kLogRotateRunningSize / 4;
        return;
    }
    stream->rotate_at = kLogRotateRunningSize;
    WriteOpeningLine(stream);
}

int OpenLog(LogStream** fallback) {
    if (fallback) *fallback = nullptr;
    v3FileStatusRecord status{};
    const bool rotate = v3FileStatus(&status, kLogName) != 0 || status.size >= kRotateSize;
    if (rotate) RotateLog();
    LogStream* made = nullptr;
    if (OpenStream(&g_log, kLogName, rotate) == 0) {
        LogSwapTarget(&g_log);
    } else {
        made = OpenFallback();
    }
    LogWrite("\n\n--- Opening Log file %s \n\n", MakeTimeStamp(kStampFull));
    if (fallback) *fallback = made;
    return 0;
}

namespace {

void PushAndClose(LogStream* stream) {
    if (!stream) return;
    PlatformFileSync(stream->file.descriptor);
    v3FileClose(&stream->file);
}

}  // namespace

void CloseLog() { PushAndClose(LogSwapTarget(nullptr)); }

void LogLastWords(const char* text) { PushAndClose(LogWriteAndSeal(text)); }
