// Files and directories through the operating system: the only place the
// client's file code reaches the system. Every descriptor made here is
// close-on-exec, so a core started by the client inherits none of them (an
// inherited log descriptor would keep the log's lock alive after the client
// ends). Reads and writes are positional: the caller keeps the position.
#pragma once

#include <cstdint>

// The system's reason for a failure, reduced to what callers tell apart.
enum class FsStatus : int32_t {
    kOk = 0,
    kNotFound,      // the name, or a folder on its way, does not exist
    kDenied,        // permission refused
    kReadOnly,      // the file system is mounted read-only
    kExists,        // creating something that is already there
    kLocked,        // another holder keeps the file's exclusive lock
    kIsDirectory,   // a file operation on a directory
    kNotDirectory,  // a directory operation on something else
    kIsLink,        // a symbolic link met where following it was refused
    kNoSpace,       // the disk, a quota or the file size limit is exhausted
    kOther,
};

// Flags of PlatformFileOpen, combined with |.
inline constexpr uint32_t kFsRead = 1;
inline constexpr uint32_t kFsWrite = 2;
// Every write of PlatformFileAppend goes to the end of the file.
inline constexpr uint32_t kFsAppend = 4;
// Create a missing file with permissions 0700 (so an unpacked core runs).
inline constexpr uint32_t kFsCreate = 8;
// Refuse a symbolic link as the last part of the path (kIsLink).
inline constexpr uint32_t kFsNoFollow = 16;
// Take the advisory exclusive lock without waiting and keep it until the
// descriptor is closed; kLocked (and nothing open) when another holder has it.
// A kFsProbeLock check of the same file at that very instant also counts as
// a holder (for microseconds), so a caller that must have the lock may try
// once more before giving up.
inline constexpr uint32_t kFsHoldLock = 32;
// Check that no other holder has the exclusive lock (kLocked when one has)
// without keeping it: write access that respects the log's sharing. Probes
// never conflict with each other.
inline constexpr uint32_t kFsProbeLock = 64;

// Opens path. Directories are refused (kIsDirectory). Opening never blocks,
// not even on a named pipe.
FsStatus PlatformFileOpen(const char* path, uint32_t flags, int32_t* fd);
FsStatus PlatformFileClose(int32_t fd);

// Reads up to count bytes at offset; *got is short only at the end of file.
FsStatus PlatformFileReadAt(int32_t fd, uint64_t offset, void* buf, uint64_t count, uint64_t* got);
// Writes count bytes at offset (also on a descriptor opened with kFsAppend);
// *put tells how many reached the file when it fails part way.
FsStatus PlatformFileWriteAt(int32_t fd, uint64_t offset, const void* buf, uint64_t count,
                             uint64_t* put);
// Writes count bytes at the end of a kFsAppend descriptor, atomically against
// other appenders; *end is the offset just after the bytes written.
FsStatus PlatformFileAppend(int32_t fd, const void* buf, uint64_t count, uint64_t* put,
                            uint64_t* end);
FsStatus PlatformFileSize(int32_t fd, uint64_t* size);
// Cuts or extends (with zeros) the file to size.
FsStatus PlatformFileTruncate(int32_t fd, uint64_t size);
// Pushes the file's data and metadata to the disk.
FsStatus PlatformFileSync(int32_t fd);

// *locked is true when an open file other than the caller's probe holds the
// exclusive lock of path (a descriptor of this very process counts as
// another holder too). kNotFound for a missing file.
FsStatus PlatformFileLockedByOther(const char* path, bool* locked);

// Creates a new file from name_template, whose last six characters are
// "XXXXXX" and are replaced by a unique suffix, opened for writing with the
// given permission bits (0700, 0600, ...).
FsStatus PlatformFileCreateTemp(char* name_template, uint32_t permissions, int32_t* fd);
// Renames from to to, replacing to when it exists.
FsStatus PlatformFileRename(const char* from, const char* to);
// Removes a name (a symbolic link is removed itself, not its target).
FsStatus PlatformFileRemove(const char* path);

// What PlatformFileInfo reports; kind uses 1 regular file, 2 directory,
// 3 character device, 4 anything else. Times are seconds since 1970.
struct FsInfo {
    uint64_t size;
    uint32_t kind;
    uint32_t permissions;  // the system's permission bits (0777 and below)
    int64_t access_seconds;
    int64_t modify_seconds;
    int64_t change_seconds;
};
inline constexpr uint32_t kFsKindFile = 1;
inline constexpr uint32_t kFsKindDirectory = 2;
inline constexpr uint32_t kFsKindCharDevice = 3;
inline constexpr uint32_t kFsKindOther = 4;

// Status of path, following symbolic links.
FsStatus PlatformFileInfo(const char* path, FsInfo* info);

// Bytes that an unprivileged writer may still put on the file system that
// holds path.
FsStatus PlatformFreeBytes(const char* path, uint64_t* bytes);

// Creates one directory (permissions 0700); its parent must exist.
FsStatus PlatformDirectoryMake(const char* path);
// Pushes a directory's entries (a rename just made in it) to the disk.
FsStatus PlatformDirectorySync(const char* path);
// Starts a listing of a directory; *listing is released with
// PlatformDirectoryClose.
FsStatus PlatformDirectoryOpen(const char* path, void** listing);
// The name of the listing's next entry into name (size bytes with the
// terminator); "." and ".." are passed over, and so is a name that does not
// fit. kNotFound once the listing is at its end.
FsStatus PlatformDirectoryNext(void* listing, char* name, uint64_t size);
void PlatformDirectoryClose(void* listing);
