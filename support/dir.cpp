#include "support/dir.h"

#include <cstring>

#include "support/platform/file_system.h"

namespace {

DirResult ListFailure(FsStatus s) {
    if (s == FsStatus::kNotFound || s == FsStatus::kNotDirectory) return kDirErrNotFound;
    return kDirErrFailed;
}

// Length of the parent of the first len characters of path: up to its
// last "/", dropping a run of "/" ("a//b" goes up to "a"). 0 when no parent
// is left, that is, at the start of the path.
size_t ParentLength(const char* path, size_t len) {
    size_t slash = len;
    while (slash > 0 && path[slash - 1] != '/') --slash;
    if (slash == 0) return 0;
    size_t end = slash - 1;
    while (end > 0 && path[end - 1] == '/') --end;
    return end;
}

DirResult MakePrefix(const char* full, size_t len, bool may_exist) {
    char part[kFilePathMax + 1];
    memcpy(part, full, len);
    part[len] = '\0';
    FsStatus s = PlatformDirectoryMake(part);
    if (s == FsStatus::kOk || (may_exist && s == FsStatus::kExists)) return kDirOk;
    return s == FsStatus::kNotFound ? kDirErrNotFound : kDirErrCreate;
}

// Creates full and every missing parent: up one level while the parent is
// missing, then down again, one level at a time.
DirResult CreateAll(const char* full) {
    size_t pending[kFilePathMax + 1];
    size_t depth = 0;
    size_t len = strlen(full);
    for (;;) {
        DirResult rc = MakePrefix(full, len, false);
        if (rc == kDirOk) break;
        if (rc != kDirErrNotFound) return kDirErrCreate;
        size_t parent = ParentLength(full, len);
        if (parent == 0) return kDirErrCreate;
        pending[depth++] = len;
        len = parent;
    }
    while (depth > 0) {
        size_t level = pending[--depth];
        // A level between might appear meanwhile from another process; only
        // the directory asked for must be new.
        if (MakePrefix(full, level, depth > 0) != kDirOk) return kDirErrCreate;
    }
    return kDirOk;
}

}  // namespace

DirResult v3DirOpen(v3Dir* dir, const char* path, uint32_t mode) {
    if (dir == nullptr) return kDirErrNotFound;
    if (dir->open) return kDirErrAlreadyOpen;
    if (mode != kDirModeTest && mode != kDirModeList && mode != kDirModeCreate) return kDirErrBadMode;
    if (path == nullptr) return kDirErrMissingArgument;
    char prepared[kFilePathMax + 1];
    if (v3FilePreparePath(prepared, path) != kFileOk) return kDirErrPathTooLong;

    if (mode == kDirModeCreate) {
        size_t len = strlen(prepared);
        if (len > 1 && prepared[len - 1] == '/') prepared[len - 1] = '\0';
        return CreateAll(prepared);
    }
    if (strlen(prepared) > kDirListPathMax) return kDirErrPathTooLong;
    void* listing = nullptr;
    FsStatus s = PlatformDirectoryOpen(prepared, &listing);
    if (s != FsStatus::kOk) return ListFailure(s);
    if (mode == kDirModeTest) {
        PlatformDirectoryClose(listing);
        return kDirOk;
    }
    memcpy(dir->path, prepared, sizeof(prepared));
    dir->listing = listing;
    dir->index = 0;
    dir->open = 1;
    return kDirOk;
}

DirResult v3DirNext(v3Dir* dir, char* name, size_t size) {
    if (dir == nullptr || !dir->open) return kDirErrNotOpen;
    if (name == nullptr || size == 0) return kDirErrMissingArgument;
    const FsStatus s = PlatformDirectoryNext(dir->listing, name, size);
    if (s == FsStatus::kNotFound) return kDirErrNotFound;
    if (s != FsStatus::kOk) return kDirErrFailed;
    ++dir->index;
    return kDirOk;
}

DirResult v3DirClose(v3Dir* dir) {
    if (dir == nullptr) return kDirErrNotFound;
    if (!dir->open) return kDirErrNotOpen;
    PlatformDirectoryClose(dir->listing);
    dir->listing = nullptr;
    dir->index = 0;
    dir->open = 0;
    return kDirOk;
}
