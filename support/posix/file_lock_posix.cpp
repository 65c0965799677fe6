// The shared-file lock as a blocking flock. flock belongs to the open file
// description, so two opens of the file exclude each other even inside one
// process, and the lock dies with the holder's last descriptor.
#include "support/platform/file_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

int PlatformFileLockWait(const char* path) {
    if (path == nullptr) return -1;
    int fd;
    do {
        fd = open(path, O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    int rc;
    do {
        rc = flock(fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void PlatformFileLockRelease(int handle) {
    if (handle < 0) return;
    flock(handle, LOCK_UN);
    close(handle);
}
