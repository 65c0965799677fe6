// Open files with 64-bit positions, integer status codes and one path
// convention ("/" separates folders; every "|" is dropped). A v3File is owned
// by its caller and is often on the stack; a zero-filled record is valid and
// not open. Operations never print: the caller decides what to say. The v3
// names are the platform layer's documented ones, which cores and tools quote.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/int128.h"

// Mode flags of v3FileOpen; any other bit makes a mode invalid.
inline constexpr uint32_t kFileModeTest = 1;      // only tell whether the path exists
inline constexpr uint32_t kFileModeRead = 2;
inline constexpr uint32_t kFileModeWrite = 4;
inline constexpr uint32_t kFileModeAppend = 8;    // writes go to the end; no seeking
inline constexpr uint32_t kFileModeCreate = 16;   // new files get permissions 0700
inline constexpr uint32_t kFileModeTruncate = 32; // zeros over the old content, then cut
inline constexpr uint32_t kFileModeFlush = 64;    // push every write to the disk
// With write: the path ends in "XXXXXX", which become a unique tail; the file
// is made new (permissions 0700) and the record's path holds the name made.
// It is never an existing file, nor one reached through a symbolic link.
inline constexpr uint32_t kFileModeTemp = 128;
inline constexpr uint32_t kFileModeAll = 255;

// Status codes of the file family. An unscoped enum over int: callers
// compare with the names and keep codes in plain ints, and the values are the
// ones the family has always had.
enum FileResult : int {
    kFileOk = 0,
    kFileErrFailed = -1,     // access denied or another system failure
    kFileErrNotFound = -2,   // no record, no such file, close failed
    kFileErrReadOnlyFs = -4,
    kFileErrNotOpen = -10,   // or, for v3FileOpen, already open
    kFileErrTooLarge = -11,  // size or offset of 2^31 or more
    kFileErrPathTooLong = -12,
    kFileErrBadMode = -13,
    kFileErrPosition = -15,
    kFileErrSize = -16,
    kFileErrMissingArgument = -18,
};

// A short English description of a file code, "unknown file result" for any
// other value.
const char* FileResultName(int code);

// Longest path, in characters, before "|" removal; a buffer for a prepared
// path holds kFilePathMax + 1 bytes.
inline constexpr size_t kFilePathMax = 255;
// Sizes, offsets and single transfers stay below this.
inline constexpr uint64_t kFileSizeLimit = 0x80000000u;

// In-memory record (not stored anywhere). Offsets on every ABI the client
// builds for: path 0, position 256, size 264, descriptor 272, open 276,
// mode 280.
struct v3File {
    char path[kFilePathMax + 1];  // the prepared path given to v3FileOpen
    uint64_t position;            // where the next read or write starts
    uint64_t size;                // size of the file as last known
    int32_t descriptor;           // the system's descriptor while open
    uint32_t open;                // nonzero while the record holds an open file
    uint32_t mode;                // the flags given to v3FileOpen
};
static_assert(sizeof(v3File) == 288, "v3File layout");

// Kinds in v3FileStatusRecord::kind.
inline constexpr uint32_t kFileKindRegular = 1;
inline constexpr uint32_t kFileKindDirectory = 2;
inline constexpr uint32_t kFileKindCharDevice = 3;
inline constexpr uint32_t kFileKindOther = 4;
// Summands of v3FileStatusRecord::permissions (the owner's rights).
inline constexpr uint32_t kFilePermRead = 1;
inline constexpr uint32_t kFilePermWrite = 6;
inline constexpr uint32_t kFilePermExecute = 8;

struct v3FileStatusRecord {
    uint64_t size;
    uint32_t kind;
    uint32_t permissions;
    Int128 last_access;        // Time values: seconds since 2000 in the high half
    Int128 last_modification;
    Int128 status_change;
};

// Copies path into out (kFilePathMax + 1 bytes) the way every operation
// taking a path does: every "|" is removed; a path of more than kFilePathMax
// characters is refused with -12 (nothing is cut). -18 when an argument is
// null.
FileResult v3FilePreparePath(char* out, const char* path);

// Opens path into file, or with mode 1 only tests that it exists (0 exists,
// -2 does not, -1 cannot tell). Truncation overwrites the old content with
// zeros before cutting it. Opening for writing or appending fails with -1
// while another holder has the file's exclusive lock (see v3FileOpenLocked);
// the open itself takes no lock.
FileResult v3FileOpen(v3File* file, const char* path, uint32_t mode);
// As v3FileOpen (mode must include write or append), and holds the file's
// exclusive lock until v3FileClose: other writers and deleters then fail with
// -1. Gives -1 at once when another holder has the lock; in that case the
// file is left exactly as it was, even with the truncate flag. A writer's
// check of the same file at that very instant briefly counts as a holder, so
// a caller that must have the lock may try once more before giving up.
FileResult v3FileOpenLocked(v3File* file, const char* path, uint32_t mode);
// 1 when another holder (any other open file, in this process or another)
// has path's exclusive lock, 0 when none has or the file does not exist, -1
// when that cannot be told, -12/-18 for a bad path. A plain int: the answer
// 1 is no code of the file family.
int v3FileIsLocked(const char* path);

// Reads up to n bytes at the position into buf; *got (may be null) tells how
// many, fewer only at the end of the file. The position advances by *got.
FileResult v3FileRead(void* buf, uint64_t* got, v3File* file, uint64_t n);
// Writes n bytes at the position (at the end in append mode); *put (may be
// null) tells how many reached the file. The position advances past them and
// the size grows when the position passes it.
FileResult v3FileWrite(v3File* file, uint64_t* put, const void* buf, uint64_t n);
// Sets the position; -1 in append mode, -11 for 2^31 or more.
FileResult v3FileSeek(v3File* file, uint64_t offset);
// Overwrites everything from size to the end with zeros, cuts the file there
// (or extends it with zeros) and moves the position to size.
FileResult v3FileSetSize(v3File* file, uint64_t size);
// Overwrites everything from offset to the end with zeros, 4096 bytes at a
// time. The position is left where it was.
FileResult v3FileWipe(v3File* file, uint64_t offset);
// Closes the file; the record can be opened again. -2 when the system's close
// failed (the record is closed all the same).
FileResult v3FileClose(v3File* file);
// Overwrites the file's content with zeros, then removes it. 0 also when the
// file does not exist; -1 when it cannot be opened for writing (for example
// while another holder has its lock) or cannot be removed. A symbolic link is
// removed without touching the file it points to.
FileResult v3FileDelete(const char* path);
// Removes the name alone, without v3FileDelete's zeros: for a file of the
// client's own whose content is no secret (a part of a download), where
// writing zeros over megabytes only costs time. A symbolic link is removed
// itself. 0 also when the file does not exist; -1 when it cannot be removed.
FileResult v3FileRemove(const char* path);
// Renames from to to, replacing to when it exists; a symbolic link at to is
// itself replaced, never followed. 0, -2 when from does not exist, -12/-18
// for a bad path, -1 for another failure.
FileResult v3FileRename(const char* from, const char* to);
// Fills status for path (links followed). -2 for a null record or a missing
// path, -1 for another failure.
FileResult v3FileStatus(v3FileStatusRecord* status, const char* path);
// Bytes the client may still write on the file system that holds path.
FileResult v3FileFreeBytes(const char* path, uint64_t* bytes);

// Owns a v3File and closes it when it goes out of scope.
class ScopedFile {
public:
    ScopedFile() = default;
    ~ScopedFile();
    ScopedFile(const ScopedFile&) = delete;
    ScopedFile& operator=(const ScopedFile&) = delete;

    v3File* get() { return &file_; }
    v3File* operator->() { return &file_; }

private:
    v3File file_{};
};
