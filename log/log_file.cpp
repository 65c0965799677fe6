#include <cstdio>

#include "log/log.h"
#include "log/log_target.h"
#include "support/file.h"
#include "support/platform/file_system.h"

namespace {

constexpr const char* kLogName = "QRVlog.txt";
constexpr const char* kPreviousLogName = "QRVlog-Prev.txt";
constexpr const char* kFallbackLogName = "QRVlog2.txt";
// A log is rotated at start-up once it has reached this size; while the
// client runs it may grow past it.
constexpr uint64_t kRotateSize = 50000;

// Writers of the log always append; the exclusive lock lets other programs
// read the file while the client has it, but keeps a second client out.
constexpr uint32_t kLogMode = kFileModeWrite | kFileModeAppend | kFileModeCreate;

LogStream g_log;       // QRVlog.txt as found or rotated
LogStream g_fallback;  // a new QRVlog.txt after a deletion, or QRVlog2.txt

int OpenStream(LogStream* stream, const char* name, bool fresh) {
    stream->file = v3File{};
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

}  // namespace

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

void CloseLog() {
    LogStream* stream = LogSwapTarget(nullptr);
    if (!stream) return;
    PlatformFileSync(stream->file.descriptor);
    v3FileClose(&stream->file);
}
