// The folder lock as an advisory flock on a file beside queue.dat. flock
// belongs to the open file description, so the lock dies with the last
// descriptor of it: the process's own end, whatever its cause.
#include "support/platform/folder_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>

namespace {

std::atomic<int> g_lock_fd{-1};

}  // namespace

FolderLockResult PlatformFolderLockTake(const char* lock_name) {
    if (g_lock_fd.load() >= 0) return FolderLockResult::kHeld;
    // Read access is enough for flock and never changes the file. No link is
    // followed, so a link planted in the folder cannot make the client create
    // or lock a file elsewhere, and a named pipe there cannot hang the open.
    int fd;
    do {
        fd = open(lock_name, O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK,
                  0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return FolderLockResult::kNoAccess;
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
