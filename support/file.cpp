#include "support/file.h"

#include <cstring>

#include "support/file_descriptor.h"
#include "support/platform/file_system.h"
#include "support/time_value.h"

namespace {

using v3detail::FileDescriptor;
using v3detail::FileFailure;

// Seconds from 1970-01-01 to 2000-01-01, where Time values start.
constexpr int64_t kUnixToTimeValue = 946684800;

constexpr uint64_t kWipePiece = 4096;
const unsigned char kZeros[kWipePiece] = {};

bool ValidMode(uint32_t mode) {
    if (mode & ~kFileModeAll) return false;
    if ((mode & kFileModeTemp) && (mode & (kFileModeTest | kFileModeAppend))) return false;
    if ((mode & kFileModeTemp) && !(mode & kFileModeWrite)) return false;
    if ((mode & kFileModeTest) && (mode & kFileModeWrite)) return false;
    if ((mode & kFileModeTruncate) && !(mode & kFileModeWrite)) return false;
    if (mode & kFileModeTest) return true;
    return (mode & (kFileModeRead | kFileModeWrite | kFileModeAppend)) != 0;
}

bool Writes(uint32_t mode) { return (mode & (kFileModeWrite | kFileModeAppend)) != 0; }

FileResult CheckOpen(const v3File* file) {
    if (file == nullptr) return kFileErrNotFound;
    if (!file->open) return kFileErrNotOpen;
    return kFileOk;
}

FileResult TestExists(const char* path) {
    FsInfo info;
    FsStatus s = PlatformFileInfo(path, &info);
    if (s == FsStatus::kOk) return kFileOk;
    if (s == FsStatus::kNotFound || s == FsStatus::kNotDirectory) return kFileErrNotFound;
    return kFileErrFailed;
}

uint32_t PlatformFlags(uint32_t mode) {
    uint32_t flags = 0;
    if (mode & kFileModeRead) flags |= kFsRead;
    if (mode & kFileModeWrite) flags |= kFsWrite;
    if (mode & kFileModeAppend) flags |= kFsAppend;
    if (mode & kFileModeCreate) flags |= kFsCreate;
    // Writers respect the log's "deny write" sharing without imposing any.
    if (Writes(mode)) flags |= kFsProbeLock;
    return flags;
}

// extra_flags adds platform flags (the lock to hold, refusing links); *why
// keeps the system's reason when the open itself failed.
FileResult OpenWith(v3File* file, const char* path, uint32_t mode, uint32_t extra_flags,
                    FsStatus* why = nullptr) {
    if (file == nullptr) return kFileErrNotFound;
    if (file->open) return kFileErrNotOpen;
    if (!ValidMode(mode)) return kFileErrBadMode;
    char prepared[kFilePathMax + 1];
    FileResult rc = v3FilePreparePath(prepared, path);
    if (rc != kFileOk) return rc;
    if (mode & kFileModeTest) return TestExists(prepared);

    FileDescriptor fd;
    uint32_t flags = PlatformFlags(mode) | extra_flags;
    if (flags & kFsHoldLock) flags &= ~kFsProbeLock;
    // A new temporary file is created exclusively: nobody else can hold it,
    // and a name someone placed there (a link to another file) is not used.
    FsStatus s = (mode & kFileModeTemp) ? PlatformFileCreateTemp(prepared, 0700, fd.out())
                                        : PlatformFileOpen(prepared, flags, fd.out());
    if (why != nullptr) *why = s;
    if (s != FsStatus::kOk) return FileFailure(s);

    memcpy(file->path, prepared, sizeof(prepared));
    file->position = 0;
    file->size = 0;
    file->mode = mode;
    file->descriptor = fd.get();
    if (mode & kFileModeTruncate) {
        // Zeros go over the old content before it is cut, so that what the
        // file held does not linger in freed blocks.
        file->open = 1;
        rc = v3FileSetSize(file, 0);
        file->open = 0;
        file->position = 0;
        if (rc != kFileOk) {
            file->descriptor = -1;
            return kFileErrFailed;
        }
    }
    uint64_t size = 0;
    if (PlatformFileSize(fd.get(), &size) != FsStatus::kOk) {
        file->descriptor = -1;
        return kFileErrSize;
    }
    file->size = size;
    file->descriptor = fd.Release();
    file->open = 1;
    return kFileOk;
}

}  // namespace

FileResult v3FileOpen(v3File* file, const char* path, uint32_t mode) {
    return OpenWith(file, path, mode, 0);
}

FileResult v3FileOpenLocked(v3File* file, const char* path, uint32_t mode) {
    if (ValidMode(mode) && ((mode & kFileModeTest) || !Writes(mode))) return kFileErrBadMode;
    // A new temporary file is nobody else's to lock against; none is taken.
    if (mode & kFileModeTemp) return kFileErrBadMode;
    return OpenWith(file, path, mode, kFsHoldLock);
}

int v3FileIsLocked(const char* path) {
    char prepared[kFilePathMax + 1];
    FileResult rc = v3FilePreparePath(prepared, path);
    if (rc != kFileOk) return rc;
    bool locked = false;
    FsStatus s = PlatformFileLockedByOther(prepared, &locked);
    if (s == FsStatus::kOk) return locked ? 1 : 0;
    if (s == FsStatus::kNotFound || s == FsStatus::kNotDirectory) return 0;
    return kFileErrFailed;
}

FileResult v3FileRead(void* buf, uint64_t* got, v3File* file, uint64_t n) {
    if (got != nullptr) *got = 0;
    FileResult rc = CheckOpen(file);
    if (rc != kFileOk) return rc;
    if (buf == nullptr && n > 0) return kFileErrMissingArgument;
    if (n >= kFileSizeLimit) return kFileErrTooLarge;
    uint64_t done = 0;
    FsStatus s = PlatformFileReadAt(file->descriptor, file->position, buf, n, &done);
    file->position += done;
    if (got != nullptr) *got = done;
    return s == FsStatus::kOk ? kFileOk : kFileErrFailed;
}

FileResult v3FileWrite(v3File* file, uint64_t* put, const void* buf, uint64_t n) {
    if (put != nullptr) *put = 0;
    FileResult rc = CheckOpen(file);
    if (rc != kFileOk) return rc;
    if (buf == nullptr && n > 0) return kFileErrMissingArgument;
    if (n >= kFileSizeLimit) return kFileErrTooLarge;
    uint64_t done = 0;
    FsStatus s;
    if (file->mode & kFileModeAppend) {
        uint64_t end = file->position;
        s = PlatformFileAppend(file->descriptor, buf, n, &done, &end);
        file->position = end;
    } else {
        s = PlatformFileWriteAt(file->descriptor, file->position, buf, n, &done);
        file->position += done;
    }
    if (file->position > file->size) file->size = file->position;
    if (put != nullptr) *put = done;
    if (s != FsStatus::kOk) return kFileErrFailed;
    if ((file->mode & kFileModeFlush) && PlatformFileSync(file->descriptor) != FsStatus::kOk) {
        return kFileErrFailed;
    }
    return kFileOk;
}

FileResult v3FileSeek(v3File* file, uint64_t offset) {
    FileResult rc = CheckOpen(file);
    if (rc != kFileOk) return rc;
    if (file->mode & kFileModeAppend) return kFileErrFailed;
    if (offset >= kFileSizeLimit) return kFileErrTooLarge;
    file->position = offset;
    return kFileOk;
}

FileResult v3FileWipe(v3File* file, uint64_t offset) {
    FileResult rc = CheckOpen(file);
    if (rc != kFileOk) return rc;
    if (offset >= kFileSizeLimit) return kFileErrTooLarge;
    uint64_t size = 0;
    if (PlatformFileSize(file->descriptor, &size) != FsStatus::kOk) return kFileErrSize;
    file->size = size;
    for (uint64_t at = offset; at < size;) {
        uint64_t piece = size - at < kWipePiece ? size - at : kWipePiece;
        uint64_t done = 0;
        FsStatus s = PlatformFileWriteAt(file->descriptor, at, kZeros, piece, &done);
        if (s != FsStatus::kOk) return kFileErrFailed;
        at += done;
    }
    // One push to the disk for the whole wipe: a flush-mode record asks that
    // the zeros be on the disk, not for a sync per 4096 bytes.
    if ((file->mode & kFileModeFlush) && offset < size &&
        PlatformFileSync(file->descriptor) != FsStatus::kOk) {
        return kFileErrFailed;
    }
    return kFileOk;
}

FileResult v3FileSetSize(v3File* file, uint64_t size) {
    FileResult rc = CheckOpen(file);
    if (rc != kFileOk) return rc;
    if (size >= kFileSizeLimit) return kFileErrTooLarge;
    rc = v3FileWipe(file, size);
    if (rc != kFileOk) return rc;
    if (PlatformFileTruncate(file->descriptor, size) != FsStatus::kOk) return kFileErrFailed;
    file->size = size;
    file->position = size;
    return kFileOk;
}

FileResult v3FileClose(v3File* file) {
    FileResult rc = CheckOpen(file);
    if (rc != kFileOk) return rc;
    FsStatus s = PlatformFileClose(file->descriptor);
    file->open = 0;
    file->descriptor = -1;
    return s == FsStatus::kOk ? kFileOk : kFileErrNotFound;
}

FileResult v3FileDelete(const char* path) {
    char prepared[kFilePathMax + 1];
    FileResult rc = v3FilePreparePath(prepared, path);
    if (rc != kFileOk) return rc;
    v3File file{};
    FsStatus why = FsStatus::kOk;
    // A link is not followed: removing a name must not zero a file that
    // lives elsewhere under another name.
    rc = OpenWith(&file, prepared, kFileModeWrite | kFileModeFlush, kFsNoFollow, &why);
    if (why == FsStatus::kIsLink) {
        FsStatus s = PlatformFileRemove(prepared);
        return (s == FsStatus::kOk || s == FsStatus::kNotFound) ? kFileOk : kFileErrFailed;
    }
    if (rc == kFileErrNotFound) return kFileOk;
    if (rc != kFileOk) return rc;
    v3FileWipe(&file, 0);
    v3FileClose(&file);
    FsStatus s = PlatformFileRemove(prepared);
    if (s == FsStatus::kOk || s == FsStatus::kNotFound) return kFileOk;
    return kFileErrFailed;
}

FileResult v3FileRemove(const char* path) {
    char prepared[kFilePathMax + 1];
    FileResult rc = v3FilePreparePath(prepared, path);
    if (rc != kFileOk) return rc;
    FsStatus s = PlatformFileRemove(prepared);
    return (s == FsStatus::kOk || s == FsStatus::kNotFound) ? kFileOk : kFileErrFailed;
}

FileResult v3FileRename(const char* from, const char* to) {
    char prepared_from[kFilePathMax + 1];
    char prepared_to[kFilePathMax + 1];
    FileResult rc = v3FilePreparePath(prepared_from, from);
    if (rc != kFileOk) return rc;
    rc = v3FilePreparePath(prepared_to, to);
    if (rc != kFileOk) return rc;
    FsStatus s = PlatformFileRename(prepared_from, prepared_to);
    if (s == FsStatus::kOk) return kFileOk;
    return s == FsStatus::kNotFound ? kFileErrNotFound : kFileErrFailed;
}

FileResult v3FileStatus(v3FileStatusRecord* status, const char* path) {
    if (status == nullptr) return kFileErrNotFound;
    char prepared[kFilePathMax + 1];
    FileResult rc = v3FilePreparePath(prepared, path);
    if (rc != kFileOk) return rc;
    FsInfo info;
    FsStatus s = PlatformFileInfo(prepared, &info);
    if (s == FsStatus::kNotFound || s == FsStatus::kNotDirectory) return kFileErrNotFound;
    if (s != FsStatus::kOk) return kFileErrFailed;
    status->size = info.size;
    status->kind = info.kind;
    status->permissions = ((info.permissions & 0400) ? kFilePermRead : 0) +
                          ((info.permissions & 0200) ? kFilePermWrite : 0) +
                          ((info.permissions & 0100) ? kFilePermExecute : 0);
    status->last_access = MakeTimeValue(info.access_seconds - kUnixToTimeValue, 0);
    status->last_modification = MakeTimeValue(info.modify_seconds - kUnixToTimeValue, 0);
    status->status_change = MakeTimeValue(info.change_seconds - kUnixToTimeValue, 0);
    return kFileOk;
}

FileResult v3FileFreeBytes(const char* path, uint64_t* bytes) {
    if (bytes == nullptr) return kFileErrMissingArgument;
    char prepared[kFilePathMax + 1];
    FileResult rc = v3FilePreparePath(prepared, path);
    if (rc != kFileOk) return rc;
    FsStatus s = PlatformFreeBytes(prepared, bytes);
    if (s == FsStatus::kNotFound || s == FsStatus::kNotDirectory) return kFileErrNotFound;
    return s == FsStatus::kOk ? kFileOk : kFileErrFailed;
}

ScopedFile::~ScopedFile() {
    if (file_.open) v3FileClose(&file_);
}
