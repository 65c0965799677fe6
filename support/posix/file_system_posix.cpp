// POSIX form of the file services. Windows-style "deny write" sharing is an
// advisory flock: the log holds it while open, and writers probe it.
#include "support/platform/file_system.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

FsStatus FromErrno(int err) {
    switch (err) {
        case ENOENT:
            return FsStatus::kNotFound;
        case EACCES:
        case EPERM:
            return FsStatus::kDenied;
        case EROFS:
            return FsStatus::kReadOnly;
        case EEXIST:
            return FsStatus::kExists;
        case EWOULDBLOCK:
            return FsStatus::kLocked;
        case EISDIR:
            return FsStatus::kIsDirectory;
        case ENOTDIR:
            return FsStatus::kNotDirectory;
        case ELOOP:
            return FsStatus::kIsLink;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return FsStatus::kNoSpace;
        default:
            return FsStatus::kOther;
    }
}

// One system call's worth never exceeds what ssize_t and the kernel accept.
constexpr uint64_t kChunk = 1u << 30;

size_t Piece(uint64_t remaining) { return static_cast<size_t>(remaining < kChunk ? remaining : kChunk); }

// Writes count bytes, one system call at a time through write_piece(p, n,
// done): an interrupted call is repeated, and a call that writes nothing
// means the disk is full. *put tells how many bytes went out.
template <typename WritePiece>
FsStatus WriteAll(const void* buf, uint64_t count, uint64_t* put, WritePiece write_piece) {
    *put = 0;
    const char* p = static_cast<const char*>(buf);
    while (*put < count) {
        const ssize_t w = write_piece(p + *put, Piece(count - *put), *put);
        if (w < 0) {
            if (errno == EINTR) continue;
            return FromErrno(errno);
        }
        if (w == 0) return FsStatus::kNoSpace;
        *put += static_cast<uint64_t>(w);
    }
    return FsStatus::kOk;
}

// Takes the exclusive lock without waiting and keeps it. A probe only asks
// whether an exclusive holder exists: it takes a shared lock for a moment,
// which conflicts with such a holder but not with other probes, so two
// writers checking the same file at once never see each other as holders.
FsStatus TryLock(int fd, bool keep) {
    int how = keep ? LOCK_EX : LOCK_SH;
    while (flock(fd, how | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        return FromErrno(errno);
    }
    if (!keep) flock(fd, LOCK_UN);
    return FsStatus::kOk;
}

int OpenFlags(uint32_t flags) {
    int oflags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    bool writes = (flags & (kFsWrite | kFsAppend)) != 0;
    if (writes && (flags & kFsRead)) {
        oflags |= O_RDWR;
    } else if (writes) {
        oflags |= O_WRONLY;
    } else {
        oflags |= O_RDONLY;
    }
    if (flags & kFsAppend) oflags |= O_APPEND;
    if (flags & kFsCreate) oflags |= O_CREAT;
    if (flags & kFsNoFollow) oflags |= O_NOFOLLOW;
    return oflags;
}

// Regular files ignore O_NONBLOCK, but leaving it set on a pipe or device
// would turn later blocking reads into spurious failures; it was only there
// so that the open itself cannot hang.
void ClearNonBlocking(int fd) {
    int fl = fcntl(fd, F_GETFL);
    if (fl >= 0 && (fl & O_NONBLOCK)) fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
}

}  // namespace

FsStatus PlatformFileOpen(const char* path, uint32_t flags, int32_t* fd) {
    *fd = -1;
    int d;
    do {
        d = open(path, OpenFlags(flags), 0700);
    } while (d < 0 && errno == EINTR);
    if (d < 0) return FromErrno(errno);
    struct stat st;
    if (fstat(d, &st) != 0) {
        FsStatus s = FromErrno(errno);
        close(d);
        return s;
    }
    if (S_ISDIR(st.st_mode)) {
        close(d);
        return FsStatus::kIsDirectory;
    }
    if (flags & (kFsHoldLock | kFsProbeLock)) {
        FsStatus s = TryLock(d, (flags & kFsHoldLock) != 0);
        if (s != FsStatus::kOk) {
            close(d);
            return s;
        }
    }
    ClearNonBlocking(d);
    *fd = d;
    return FsStatus::kOk;
}


FsStatus PlatformFileClose(int32_t fd) {
    // Linux releases the descriptor even when close reports EINTR; retrying
    // could close a descriptor another thread has just been given.
    if (close(fd) != 0 && errno != EINTR) return FromErrno(errno);
    return FsStatus::kOk;
}

FsStatus PlatformFileReadAt(int32_t fd, uint64_t offset, void* buf, uint64_t count, uint64_t* got) {
    *got = 0;
    char* p = static_cast<char*>(buf);
    while (*got < count) {
        ssize_t r = pread(fd, p + *got, Piece(count - *got), static_cast<off_t>(offset + *got));
        if (r < 0) {
            if (errno == EINTR) continue;
            return FromErrno(errno);
        }
        if (r == 0) break;
        *got += static_cast<uint64_t>(r);
    }
    return FsStatus::kOk;
}

FsStatus PlatformFileWriteAt(int32_t fd, uint64_t offset, const void* buf, uint64_t count,
                             uint64_t* put) {
    *put = 0;
    // Linux's pwrite ignores the offset on an O_APPEND descriptor and appends;
    // zero-filling an append-mode file in place needs the flag off meanwhile.
    int fl = fcntl(fd, F_GETFL);
    if (fl < 0) return FromErrno(errno);
    bool append = (fl & O_APPEND) != 0;
    if (append && fcntl(fd, F_SETFL, fl & ~O_APPEND) != 0) return FromErrno(errno);
    const FsStatus status = WriteAll(buf, count, put, [&](const char* p, size_t n, uint64_t done) {
        return pwrite(fd, p, n, static_cast<off_t>(offset + done));
    });
    if (append) fcntl(fd, F_SETFL, fl);
    return status;
}

FsStatus PlatformFileAppend(int32_t fd, const void* buf, uint64_t count, uint64_t* put,
                            uint64_t* end) {
    const FsStatus status = WriteAll(buf, count, put, [&](const char* p, size_t n, uint64_t) {
        return write(fd, p, n);
    });
    off_t here = lseek(fd, 0, SEEK_CUR);
    if (here < 0) return status == FsStatus::kOk ? FromErrno(errno) : status;
    *end = static_cast<uint64_t>(here);
    return status;
}

FsStatus PlatformFileSize(int32_t fd, uint64_t* size) {
    struct stat st;
    if (fstat(fd, &st) != 0) return FromErrno(errno);
    *size = static_cast<uint64_t>(st.st_size);
    return FsStatus::kOk;
}

FsStatus PlatformFileTruncate(int32_t fd, uint64_t size) {
    while (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        if (errno == EINTR) continue;
        return FromErrno(errno);
    }
    return FsStatus::kOk;
}

FsStatus PlatformFileSync(int32_t fd) {
    while (fsync(fd) != 0) {
        if (errno == EINTR) continue;
        return FromErrno(errno);
    }
    return FsStatus::kOk;
}

FsStatus PlatformFileLockedByOther(const char* path, bool* locked) {
    *locked = false;
    // Read access is enough for flock, and reading never disturbs the file.
    int d;
    do {
        d = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    } while (d < 0 && errno == EINTR);
    if (d < 0) return FromErrno(errno);
    FsStatus s = TryLock(d, false);
    close(d);
    if (s == FsStatus::kLocked) {
        *locked = true;
        return FsStatus::kOk;
    }
    return s;
}

FsStatus PlatformFileCreateTemp(char* name_template, uint32_t permissions, int32_t* fd) {
    *fd = -1;
    int d = mkostemp(name_template, O_CLOEXEC);
    if (d < 0) return FromErrno(errno);
    if (fchmod(d, static_cast<mode_t>(permissions & 07777)) != 0) {
        FsStatus s = FromErrno(errno);
        close(d);
        unlink(name_template);
        return s;
    }
    *fd = d;
    return FsStatus::kOk;
}

FsStatus PlatformFileRename(const char* from, const char* to) {
    if (rename(from, to) != 0) return FromErrno(errno);
    return FsStatus::kOk;
}

FsStatus PlatformFileRemove(const char* path) {
    if (unlink(path) != 0) return FromErrno(errno);
    return FsStatus::kOk;
}

FsStatus PlatformFileInfo(const char* path, FsInfo* info) {
    struct stat st;
    if (stat(path, &st) != 0) return FromErrno(errno);
    info->size = static_cast<uint64_t>(st.st_size);
    if (S_ISREG(st.st_mode)) {
        info->kind = kFsKindFile;
    } else if (S_ISDIR(st.st_mode)) {
        info->kind = kFsKindDirectory;
    } else if (S_ISCHR(st.st_mode)) {
        info->kind = kFsKindCharDevice;
    } else {
        info->kind = kFsKindOther;
    }
    info->permissions = static_cast<uint32_t>(st.st_mode & 0777);
    info->access_seconds = static_cast<int64_t>(st.st_atim.tv_sec);
    info->modify_seconds = static_cast<int64_t>(st.st_mtim.tv_sec);
    info->change_seconds = static_cast<int64_t>(st.st_ctim.tv_sec);
    return FsStatus::kOk;
}

FsStatus PlatformFreeBytes(const char* path, uint64_t* bytes) {
    struct statvfs fs;
    if (statvfs(path, &fs) != 0) return FromErrno(errno);
    *bytes = static_cast<uint64_t>(fs.f_bavail) * static_cast<uint64_t>(fs.f_frsize);
    return FsStatus::kOk;
}

FsStatus PlatformDirectoryMake(const char* path) {
    if (mkdir(path, 0700) != 0) return FromErrno(errno);
    return FsStatus::kOk;
}

FsStatus PlatformDirectorySync(const char* path) {
    int d;
    do {
        d = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (d < 0 && errno == EINTR);
    if (d < 0) return FromErrno(errno);
    FsStatus s = FsStatus::kOk;
    while (fsync(d) != 0) {
        if (errno == EINTR) continue;
        // Some file systems cannot sync a directory at all; their renames are
        // as durable as they get, which is not a failure of ours.
        if (errno != EINVAL && errno != ENOTSUP) s = FromErrno(errno);
        break;
    }
    close(d);
    return s;
}

FsStatus PlatformDirectoryOpen(const char* path, void** listing) {
    *listing = nullptr;
    // glibc's opendir opens its descriptor close-on-exec.
    DIR* d = opendir(path);
    if (d == nullptr) return FromErrno(errno);
    *listing = d;
    return FsStatus::kOk;
}

FsStatus PlatformDirectoryNext(void* listing, char* name, uint64_t size) {
    if (listing == nullptr || name == nullptr || size == 0) return FsStatus::kOther;
    for (;;) {
        errno = 0;
        const dirent* e = readdir(static_cast<DIR*>(listing));
        if (e == nullptr) return errno == 0 ? FsStatus::kNotFound : FromErrno(errno);
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        const size_t length = std::strlen(e->d_name);
        if (length >= size) continue;
        std::memcpy(name, e->d_name, length + 1);
        return FsStatus::kOk;
    }
}

void PlatformDirectoryClose(void* listing) {
    if (listing != nullptr) closedir(static_cast<DIR*>(listing));
}
