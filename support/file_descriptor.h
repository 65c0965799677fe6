// What the file operations and the atomic replacement share inside the file
// code: the owner of one open system descriptor (whatever path a function
// leaves by, the descriptor it opened is closed), and the file family's code
// for a failed system step.
#pragma once

#include <cstdint>

#include "support/file.h"
#include "support/platform/file_system.h"

namespace v3detail {

// A missing file or folder is "not found", a read-only file system says so,
// and every other refusal of the system is a plain failure.
inline FileResult FileFailure(FsStatus s) {
    switch (s) {
        case FsStatus::kNotFound:
        case FsStatus::kNotDirectory:
            return kFileErrNotFound;
        case FsStatus::kReadOnly:
            return kFileErrReadOnlyFs;
        default:
            return kFileErrFailed;
    }
}

class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int32_t fd) : fd_(fd) {}
    ~FileDescriptor() { Reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int32_t get() const { return fd_; }
    int32_t* out() {
        Reset();
        return &fd_;
    }
    bool valid() const { return fd_ >= 0; }
    // Hands the descriptor to a record that closes it itself.
    int32_t Release() {
        int32_t fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes now, telling whether the system's close succeeded.
    FsStatus Close() {
        if (fd_ < 0) return FsStatus::kOk;
        return PlatformFileClose(Release());
    }
    void Reset() { Close(); }

private:
    int32_t fd_ = -1;
};

}  // namespace v3detail
