// The folder lock as an advisory flock on a file beside queue.dat. flock
// belongs to the open file description, so the lock dies with the last
// descriptor of it: the process's own end, whatever its cause.
#include "support/platform/folder_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

namespace {

std::atomic<int> g_lock_fd{-1};

// No link is followed, so a link planted in the folder cannot make the
// client create or lock a file elsewhere; a named pipe cannot hang the open.
constexpr int kOpenFlags = O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK;

int OpenRetrying(const char* name, int flags) {
    int fd;
    do {
        fd = open(name, flags, 0600);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// kHeld for a regular file, the one kind of file that can be the lock;
// otherwise what stands in its place.
FolderLockResult KindOf(const struct stat& st) {
    if (S_ISLNK(st.st_mode)) return FolderLockResult::kSymlink;
    if (S_ISDIR(st.st_mode)) return FolderLockResult::kFolder;
    if (!S_ISREG(st.st_mode)) return FolderLockResult::kNotRegular;
    return FolderLockResult::kHeld;
}

// Why the lock file could not be opened for writing. A file in its place
// that is not the client's own regular file would leave the folder without
// a lock: whoever put it there could hold or swap it at will.
FolderLockResult Refusal(const char* name, int open_errno, int* fd) {
    struct stat st {};
    // No lock file and none can be made: the folder takes no new file, so
    // no second client can change anything in it either.
    if (lstat(name, &st) != 0) return FolderLockResult::kNoAccess;
    const FolderLockResult kind = KindOf(st);
    if (kind != FolderLockResult::kHeld) return kind;
    if (open_errno != EROFS) return FolderLockResult::kNotWritable;
    *fd = OpenRetrying(name, O_RDONLY | kOpenFlags);
    return *fd >= 0 ? FolderLockResult::kHeld : FolderLockResult::kNotWritable;
}

// The lock file, open; kHeld, or why there is none.
FolderLockResult OpenLockFile(const char* name, int* fd) {
    *fd = OpenRetrying(name, O_RDWR | O_CREAT | kOpenFlags);
    if (*fd < 0) {
        const FolderLockResult refusal = Refusal(name, errno, fd);
        if (refusal != FolderLockResult::kHeld) return refusal;
    }
    struct stat st {};
    const FolderLockResult kind = fstat(*fd, &st) == 0 ? KindOf(st) : FolderLockResult::kNotWritable;
    if (kind != FolderLockResult::kHeld) {
        close(*fd);
        *fd = -1;
    }
    return kind;
}

}  // namespace

FolderLockResult PlatformFolderLockTake(const char* lock_name) {
    if (g_lock_fd.load() >= 0) return FolderLockResult::kHeld;
    int fd = -1;
    const FolderLockResult opened = OpenLockFile(lock_name, &fd);
    if (opened != FolderLockResult::kHeld) return opened;
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const bool taken = errno == EWOULDBLOCK;
        close(fd);
        return taken ? FolderLockResult::kTaken : FolderLockResult::kNoAccess;
    }
    g_lock_fd.store(fd);
    return FolderLockResult::kHeld;
}

bool PlatformFolderLockHeld() { return g_lock_fd.load() >= 0; }

int PlatformCurrentDirectory(char* out, size_t size) {
    if (out == nullptr || size == 0) return -1;
    if (getcwd(out, size) == nullptr) {
        out[0] = '\0';
        return -1;
    }
    return 0;
}
