// The working folder's lock: one client at a time works in a folder.
#pragma once

#include <cstddef>

enum class FolderLockResult {
    kHeld,      // this process holds the lock until it ends
    kTaken,     // another process holds it
    kNoAccess,  // the lock file cannot be made or opened (a read-only folder)
};

// Opens, creating it when missing, the lock file lock_name in the current
// directory and takes its exclusive lock without waiting. The descriptor is
// close-on-exec and is never closed: the lock lasts as long as the process,
// and the system releases it however the process ends, so a killed client
// leaves no lock behind (the file itself stays, harmless). Calling it again
// after kHeld does nothing and gives kHeld.
FolderLockResult PlatformFolderLockTake(const char* lock_name);

// True once PlatformFolderLockTake has given kHeld in this process.
bool PlatformFolderLockHeld();

// The absolute path of the current directory into out (size bytes with the
// terminating zero). 0, or -1 when it cannot be told or does not fit.
int PlatformCurrentDirectory(char* out, size_t size);
