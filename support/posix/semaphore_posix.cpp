#include "support/platform/semaphore.h"

#include <fcntl.h>
#include <pwd.h>
#include <semaphore.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <new>

// sem_t has no maximum count. The count of 1 is kept by releasing only at 0;
// the guard makes that test and the release one step against other releasers
// (a waiter in between can only lower the count, which keeps it at most 1).
struct v3PlatformSemaphore {
    sem_t sem;
    std::mutex release_guard;
};

struct v3PlatformNamedSemaphore {
    sem_t* sem;
};

namespace {

constexpr int kNamedMode = 0600;

// "/" + name; false when the name is too long for the platform.
bool SystemName(const char* name, char (&out)[256]) {
    if (name == nullptr || name[0] == '\0') return false;
    int n = std::snprintf(out, sizeof out, "/%s", name);
    return n > 0 && static_cast<size_t>(n) < sizeof out;
}

// Where the C library keeps a named semaphore: "/name" is the file
// "sem.name" in the shared-memory folder.
bool ShmPath(const char* sys, char (&out)[256]) {
    int n = std::snprintf(out, sizeof out, "/dev/shm/sem.%s", sys + 1);
    return n > 0 && static_cast<size_t>(n) < sizeof out;
}

// True when the semaphore called sys exists and this process's user owns it.
bool OwnedByUs(const char* sys) {
    char path[256];
    struct stat st;
    return ShmPath(sys, path) && lstat(path, &st) == 0 && st.st_uid == geteuid();
}

void UserName(uid_t uid, char* out, size_t size) {
    out[0] = '\0';
    char buf[4096];  // a longer entry leaves the name unknown, and the uid tells
    struct passwd entry;
    struct passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buf, sizeof buf, &found) != 0 || found == nullptr) return;
    int n = std::snprintf(out, size, "%s", found->pw_name);
    if (n < 0 || static_cast<size_t>(n) >= size) out[0] = '\0';
}

int WaitRetrying(sem_t* sem) {
    while (sem_wait(sem) != 0) {
        if (errno != EINTR) return -1;
    }
    return 0;
}

int ReleaseIfZero(sem_t* sem) {
    int value = 0;
    if (sem_getvalue(sem, &value) != 0 || value > 0) return -1;
    return sem_post(sem) == 0 ? 0 : -1;
}

}  // namespace

v3PlatformSemaphore* v3PlatformSemaphoreCreate(unsigned initial) {
    auto* s = new (std::nothrow) v3PlatformSemaphore;
    if (s == nullptr) return nullptr;
    if (sem_init(&s->sem, 0, initial > 0 ? 1 : 0) != 0) {
        delete s;
        return nullptr;
    }
    return s;
}

int v3PlatformSemaphoreWait(v3PlatformSemaphore* s) {
    return s == nullptr ? -1 : WaitRetrying(&s->sem);
}

int v3PlatformSemaphoreRelease(v3PlatformSemaphore* s) {
    if (s == nullptr) return -1;
    std::lock_guard<std::mutex> hold(s->release_guard);
    return ReleaseIfZero(&s->sem);
}

void v3PlatformSemaphoreDestroy(v3PlatformSemaphore* s) {
    if (s == nullptr) return;
    sem_destroy(&s->sem);
    delete s;
}

v3PlatformNamedSemaphore* v3PlatformNamedSemaphoreCreate(const char* name) {
    char sys[256];
    if (!SystemName(name, sys)) return nullptr;
    sem_t* sem = sem_open(sys, O_CREAT | O_EXCL, kNamedMode, 0);
    // A semaphore of this name that our own user left is stale: the name is
    // made from our process ID, so it was an earlier process with the same ID
    // that ended without removing it, and a pending release there is not
    // ours. One of another user's is not removed, not even by root: it may be
    // that user's live process's (another PID namespace), and the user who
    // planted it is to be named, not silently worked around.
    if (sem == SEM_FAILED && errno == EEXIST && OwnedByUs(sys)) {
        sem_unlink(sys);
        sem = sem_open(sys, O_CREAT | O_EXCL, kNamedMode, 0);
    }
    if (sem == SEM_FAILED) return nullptr;
    auto* h = new (std::nothrow) v3PlatformNamedSemaphore{sem};
    if (h == nullptr) {
        sem_close(sem);
        sem_unlink(sys);
    }
    return h;
}

v3PlatformNamedSemaphore* v3PlatformNamedSemaphoreOpen(const char* name) {
    char sys[256];
    if (!SystemName(name, sys)) return nullptr;
    sem_t* sem = sem_open(sys, 0);
    if (sem == SEM_FAILED) return nullptr;
    auto* h = new (std::nothrow) v3PlatformNamedSemaphore{sem};
    if (h == nullptr) sem_close(sem);
    return h;
}

int v3PlatformNamedSemaphoreRelease(v3PlatformNamedSemaphore* h) {
    // Two senders racing here could both see 0; the receiver then sees one
    // extra release, which is harmless for a signal that ends the process.
    return h == nullptr ? -1 : ReleaseIfZero(h->sem);
}

int v3PlatformNamedSemaphoreWait(v3PlatformNamedSemaphore* h) {
    return h == nullptr ? -1 : WaitRetrying(h->sem);
}

int v3PlatformNamedSemaphoreTryWait(v3PlatformNamedSemaphore* h) {
    if (h == nullptr) return -1;
    while (sem_trywait(h->sem) != 0) {
        if (errno != EINTR) return -1;
    }
    return 0;
}

void v3PlatformNamedSemaphoreClose(v3PlatformNamedSemaphore* h) {
    if (h == nullptr) return;
    sem_close(h->sem);
    delete h;
}

int v3PlatformNamedSemaphoreRemove(const char* name) {
    char sys[256];
    if (!SystemName(name, sys)) return -1;
    return sem_unlink(sys) == 0 ? 0 : -1;
}

int v3PlatformNamedSemaphoreForeignOwner(const char* name, v3PlatformSemaphoreOwner* owner) {
    char sys[256];
    if (owner == nullptr || !SystemName(name, sys) || !ShmPath(sys, owner->path)) return -1;
    struct stat st;
    if (lstat(owner->path, &st) != 0) return errno == ENOENT ? 0 : -1;
    if (st.st_uid == geteuid()) return 0;
    owner->uid = static_cast<uint32_t>(st.st_uid);
    UserName(st.st_uid, owner->user, sizeof owner->user);
    return 1;
}
