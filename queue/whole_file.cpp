#include "queue/whole_file.h"

#include "support/atomic_file.h"
#include "support/file.h"

int WriteWholeFile(const void* data, uint64_t length, const char* path) {
    if (data == nullptr && length != 0) return -1;
    return v3FileReplaceAtomically(path, data, length) == 0 ? 0 : -1;
}

int ReadWholeFile(void* buffer, uint64_t capacity, uint64_t* length, const char* path) {
    if (length != nullptr) *length = 0;
    if (buffer == nullptr) return -1;
    ScopedFile file;
    if (v3FileOpen(file.get(), path, kFileModeRead) != 0) return -1;
    uint64_t got = 0;
    const int rc = v3FileRead(buffer, &got, file.get(), capacity);
    if (length != nullptr) *length = got;
    return rc == 0 && got > 0 ? 0 : -1;
}
