// A lock that several processes take on one shared file, for a read, decide
// and write of state they share that must not interleave with another's.
#pragma once

// Opens path (creating it with mode 0600 when missing; no link is followed)
// and waits until this open holds its exclusive lock. The wait has no limit
// of its own: the holder keeps the lock only for its own read-decide-write,
// and the system releases it however the holder ends. A handle of 0 or
// more, or -1 when the file cannot be opened or locked.
int PlatformFileLockWait(const char* path);

// Releases the lock of a handle from PlatformFileLockWait and closes it; a
// negative handle is ignored.
void PlatformFileLockRelease(int handle);
