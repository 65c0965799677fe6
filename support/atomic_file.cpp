#include "support/atomic_file.h"

#include <atomic>
#include <cstring>

#include "support/file.h"
#include "support/file_descriptor.h"
#include "support/platform/file_system.h"

namespace {

using v3detail::FileDescriptor;
using v3detail::FileFailure;

std::atomic<ReplaceFaultHook> g_fault_hook{nullptr};

bool Fault(ReplaceStep step) {
    ReplaceFaultHook hook = g_fault_hook.load();
    return hook != nullptr && hook(step);
}

// Suffix of the temporary name; the X's become a unique tail.
constexpr char kTempTail[] = ".new-XXXXXX";
constexpr size_t kNameMax = kFilePathMax + sizeof(kTempTail);

// The folder holding path, whose entry list a rename changes.
void FolderOf(const char* path, char* out) {
    const char* slash = strrchr(path, '/');
    if (slash == nullptr) {
        strcpy(out, ".");
    } else if (slash == path) {
        strcpy(out, "/");
    } else {
        size_t n = static_cast<size_t>(slash - path);
        memcpy(out, path, n);
        out[n] = '\0';
    }
}

// A temporary file that is removed unless it was renamed into place.
class TempFile {
public:
    TempFile(const char* target) {
        strcpy(name_, target);
        strcat(name_, kTempTail);
    }
    ~TempFile() {
        fd_.Reset();
        if (created_ && !renamed_) PlatformFileRemove(name_);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    FsStatus Create(uint32_t permissions) {
        FsStatus s = PlatformFileCreateTemp(name_, permissions, fd_.out());
        created_ = s == FsStatus::kOk;
        return s;
    }
    FsStatus Write(const void* data, uint64_t size) {
        uint64_t put = 0;
        return PlatformFileWriteAt(fd_.get(), 0, data, size, &put);
    }
    FsStatus SyncAndClose() {
        FsStatus s = PlatformFileSync(fd_.get());
        FsStatus c = fd_.Close();
        return s != FsStatus::kOk ? s : c;
    }
    FsStatus RenameTo(const char* target) {
        FsStatus s = PlatformFileRename(name_, target);
        renamed_ = s == FsStatus::kOk;
        return s;
    }

private:
    char name_[kNameMax];
    FileDescriptor fd_;
    bool created_ = false;
    bool renamed_ = false;
};

// The permissions the new content gets: those of the file it replaces, so a
// core or a private file keeps them; 0700 for a new file, as every file the
// client creates.
FileResult TargetPermissions(const char* path, uint32_t* permissions) {
    FsInfo info;
    FsStatus s = PlatformFileInfo(path, &info);
    if (s == FsStatus::kNotFound) {
        *permissions = 0700;
        return kFileOk;
    }
    if (s != FsStatus::kOk) return FileFailure(s);
    if (info.kind == kFsKindDirectory) return kFileErrFailed;
    *permissions = info.permissions;
    return kFileOk;
}

FileResult WriteReplacement(const char* path, const void* data, uint64_t size,
                            uint32_t permissions) {
    TempFile temp(path);
    if (Fault(ReplaceStep::kCreateTemp)) return kFileErrFailed;
    FsStatus s = temp.Create(permissions);
    if (s != FsStatus::kOk) return FileFailure(s);
    if (Fault(ReplaceStep::kWrite)) return kFileErrFailed;
    if (size > 0 && temp.Write(data, size) != FsStatus::kOk) return kFileErrFailed;
    if (Fault(ReplaceStep::kSync)) return kFileErrFailed;
    if (temp.SyncAndClose() != FsStatus::kOk) return kFileErrFailed;
    if (Fault(ReplaceStep::kRename)) return kFileErrFailed;
    s = temp.RenameTo(path);
    if (s != FsStatus::kOk) return FileFailure(s);
    return kFileOk;
}

}  // namespace

FileResult v3FileReplaceAtomically(const char* path, const void* data, uint64_t size,
                                   uint32_t permissions) {
    if (path == nullptr || (data == nullptr && size > 0)) return kFileErrMissingArgument;
    if (size >= kFileSizeLimit) return kFileErrTooLarge;
    char prepared[kFilePathMax + 1];
    FileResult rc = v3FilePreparePath(prepared, path);
    if (rc != kFileOk) return rc;
    if (prepared[0] == '\0') return kFileErrNotFound;
    // A file another holder keeps locked against writers is not ours to
    // replace, just as it could not be opened for writing.
    if (v3FileIsLocked(prepared) == 1) return kFileErrFailed;
    uint32_t kept = 0;
    rc = TargetPermissions(prepared, &kept);
    if (rc != kFileOk) return rc;
    if (permissions == kReplaceKeepsPermissions) permissions = kept;
    rc = WriteReplacement(prepared, data, size, permissions);
    if (rc != kFileOk) return rc;
    // Without this the rename itself may not survive a power loss, and the
    // old content would come back after a "successful" save.
    char folder[kFilePathMax + 1];
    FolderOf(prepared, folder);
    if (Fault(ReplaceStep::kSyncDirectory)) return kFileErrFailed;
    if (PlatformDirectorySync(folder) != FsStatus::kOk) return kFileErrFailed;
    return kFileOk;
}

FileResult v3FileOverwriteInPlace(const char* path, const void* data, uint64_t size) {
    if (path == nullptr || data == nullptr) return kFileErrMissingArgument;
    char prepared[kFilePathMax + 1];
    FileResult rc = v3FilePreparePath(prepared, path);
    if (rc != kFileOk) return rc;
    // Neither a link (the write would land wherever it points) nor a file
    // another holder keeps locked against writers is ours to overwrite.
    FileDescriptor fd;
    FsStatus s = PlatformFileOpen(prepared, kFsWrite | kFsNoFollow | kFsProbeLock, fd.out());
    if (s != FsStatus::kOk) return FileFailure(s);
    uint64_t have = 0;
    if (PlatformFileSize(fd.get(), &have) != FsStatus::kOk) return kFileErrFailed;
    if (have != size) return kFileErrSize;
    uint64_t put = 0;
    if (size > 0 && PlatformFileWriteAt(fd.get(), 0, data, size, &put) != FsStatus::kOk) return kFileErrFailed;
    if (PlatformFileSync(fd.get()) != FsStatus::kOk) return kFileErrFailed;
    return fd.Close() == FsStatus::kOk ? kFileOk : kFileErrFailed;
}

FileResult v3FileMoveAside(const char* path, const char* suffix) {
    if (path == nullptr || suffix == nullptr) return kFileErrMissingArgument;
    char prepared[kFilePathMax + 1];
    FileResult rc = v3FilePreparePath(prepared, path);
    if (rc != kFileOk) return rc;
    size_t len = strlen(prepared);
    size_t suffix_len = strlen(suffix);
    if (suffix_len == 0) return kFileErrMissingArgument;
    if (len + suffix_len > kFilePathMax) return kFileErrPathTooLong;
    char aside[kFilePathMax + 1];
    memcpy(aside, prepared, len);
    memcpy(aside + len, suffix, suffix_len + 1);
    FsStatus s = PlatformFileRename(prepared, aside);
    if (s != FsStatus::kOk) return FileFailure(s);
    // The damaged file is kept for inspection only; a rename that does not
    // survive a power loss costs nothing, so a failed sync is not reported.
    char folder[kFilePathMax + 1];
    FolderOf(prepared, folder);
    PlatformDirectorySync(folder);
    return kFileOk;
}

void v3FileSetReplaceFaultHook(ReplaceFaultHook hook) { g_fault_hook.store(hook); }
