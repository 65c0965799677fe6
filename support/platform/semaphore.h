// Semaphores of the platform: unnamed ones as locks inside one process, named
// ones as the signal channel between processes. Every semaphore here has a
// maximum count of 1: a release of one that is already released fails.
#pragma once

#include <cstdint>

struct v3PlatformSemaphore;       // unnamed, owned by its creator
struct v3PlatformNamedSemaphore;  // an open handle to a named semaphore

// Unnamed semaphore with the given initial count (0 or 1); nullptr on failure.
v3PlatformSemaphore* v3PlatformSemaphoreCreate(unsigned initial);
// Waits without a time limit. 0, or -1 on failure.
int v3PlatformSemaphoreWait(v3PlatformSemaphore* sem);
// 0, or -1 when the count is already 1 or the release failed.
int v3PlatformSemaphoreRelease(v3PlatformSemaphore* sem);
// No thread may wait on sem any more.
void v3PlatformSemaphoreDestroy(v3PlatformSemaphore* sem);

// Names are given as the system's documented names ("0000000000001A2C-SIGINT",
// at most 127 characters); the platform maps them to its own name space.

// Creates the named semaphore with count 0, replacing a stale one of the same
// name that this process's user left behind (a process that ended without
// removing it). One that another user owns is left alone: nullptr, as for
// any other failure, and v3PlatformNamedSemaphoreForeignOwner tells whose.
v3PlatformNamedSemaphore* v3PlatformNamedSemaphoreCreate(const char* name);

// The owner of a named semaphore, for a message that names it.
struct v3PlatformSemaphoreOwner {
    uint32_t uid;
    char user[64];   // the owner's user name; "" when the system knows none
    char path[256];  // where the name lives on this system
};
// 1 with *owner filled when a semaphore called name exists and belongs to
// another user than this process's; 0 when there is none or it is this
// user's; -1 when that cannot be told.
int v3PlatformNamedSemaphoreForeignOwner(const char* name, v3PlatformSemaphoreOwner* owner);

// Opens an existing named semaphore; nullptr when there is none.
v3PlatformNamedSemaphore* v3PlatformNamedSemaphoreOpen(const char* name);
// Releases by 1 when the count is 0. 0, or -1 when a release is already
// pending (the count is at its maximum 1) or the release failed.
int v3PlatformNamedSemaphoreRelease(v3PlatformNamedSemaphore* sem);
// Waits without a time limit. 0, or -1 on failure.
int v3PlatformNamedSemaphoreWait(v3PlatformNamedSemaphore* sem);
// Takes a pending release without waiting: 0 when there was one, else -1.
int v3PlatformNamedSemaphoreTryWait(v3PlatformNamedSemaphore* sem);
void v3PlatformNamedSemaphoreClose(v3PlatformNamedSemaphore* sem);
// Removes the name; open handles stay usable. 0, or -1 when there was none.
int v3PlatformNamedSemaphoreRemove(const char* name);
