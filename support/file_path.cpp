#include <cstring>

#include "support/file.h"

FileResult v3FilePreparePath(char* out, const char* path) {
    if (out == nullptr || path == nullptr) return kFileErrMissingArgument;
    // The limit applies before "|" is dropped, so a path is either taken
    // whole or refused; a cut path would name a different file.
    size_t len = strnlen(path, kFilePathMax + 1);
    if (len > kFilePathMax) return kFileErrPathTooLong;
    size_t n = 0;
    for (size_t i = 0; i < len; ++i) {
        if (path[i] != '|') out[n++] = path[i];
    }
    out[n] = '\0';
    return kFileOk;
}
