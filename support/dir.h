// Directories: test that one exists, create one with its missing parents, or
// keep a listing open. Paths follow the file family's convention ("/"
// separates folders, "|" is dropped). Operations never print.
#pragma once

#include <cstdint>

#include "support/file.h"

// Modes of v3DirOpen: exactly one of these.
inline constexpr uint32_t kDirModeTest = 1;
inline constexpr uint32_t kDirModeList = 2;
inline constexpr uint32_t kDirModeCreate = 4;

// Status codes of the directory family, typed as the file family's are.
enum DirResult : int {
    kDirOk = 0,
    kDirErrFailed = -1,    // access denied or another system failure
    kDirErrNotFound = -2,  // no record; missing or not a directory
    kDirErrCreate = -5,    // cannot create (exists already, denied, ...)
    kDirErrBadMode = -7,
    kDirErrAlreadyOpen = -8,
    kDirErrPathTooLong = -9,
    kDirErrNotOpen = -10,
    kDirErrMissingArgument = -18,
};

// A short English description of a directory code, "unknown directory
// result" for any other value.
const char* DirResultName(int code);

// Longest path of modes 1 and 2; a listing once appended two characters to
// the path, and the limit stays so the same paths work everywhere.
inline constexpr size_t kDirListPathMax = 253;

// In-memory record; a zero-filled one is valid and not open.
struct v3Dir {
    char path[kFilePathMax + 1];  // the prepared path
    void* listing;                // the system's listing while open (mode 2)
    uint64_t index;               // entries read from the listing
    uint32_t open;                // nonzero while a listing is held
};

// Mode 1: 0 when path is a directory that can be listed. Mode 2: the same,
// and the listing stays open in dir until v3DirClose. Mode 4: creates the
// directory and every missing parent (0), -5 when it exists already or
// cannot be created. One trailing "/" is ignored in mode 4.
DirResult v3DirOpen(v3Dir* dir, const char* path, uint32_t mode);
// The next entry of a listing kept by mode 2: its name (without the folder)
// into name, size bytes with the terminator. "." and ".." are never given,
// nor a name longer than size - 1. -2 once every entry has been given, -10
// when dir holds no listing.
DirResult v3DirNext(v3Dir* dir, char* name, size_t size);
// Releases a listing kept by mode 2; the record can be opened again.
DirResult v3DirClose(v3Dir* dir);
