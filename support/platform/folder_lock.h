// The working folder's lock: one client at a time works in a folder.
#pragma once

#include <cstddef>

enum class FolderLockResult {
    kHeld,         // this process holds the lock until it ends
    kTaken,        // another process holds it
    kNoAccess,     // there is no lock file and none can be made (a read-only folder)
    kSymlink,      // the lock file's name is a symbolic link
    kFolder,       // the lock file's name is a folder
    kNotRegular,   // the lock file's name is a pipe, socket or device
    kNotWritable,  // the lock file cannot be opened for writing
};

// Opens, creating it when missing, the lock file lock_name in the current
// directory for writing and takes its exclusive lock without waiting. Only a
// regular file is taken, and no link is followed. The descriptor is
// close-on-exec and is never closed: the lock lasts as long as the process,
// and the system releases it however the process ends, so a killed client
// leaves no lock behind (the file itself stays, harmless). Calling it again
// after kHeld does nothing and gives kHeld. On a read-only file system an
// existing lock file is locked through a read-only descriptor, since nobody
// can replace it there.
FolderLockResult PlatformFolderLockTake(const char* lock_name);

// True once PlatformFolderLockTake has given kHeld in this process.
bool PlatformFolderLockHeld();

// The absolute path of the current directory into out (size bytes with the
// terminating zero). 0, or -1 when it cannot be told or does not fit.
int PlatformCurrentDirectory(char* out, size_t size);
