#include "support/file.h"

// The switch runs over the enum so that a code added to the family without a
// name here fails the build (-Wswitch); any other value falls through.
const char* FileResultName(int code) {
    switch (static_cast<FileResult>(code)) {
        case kFileOk: return "no error";
        case kFileErrFailed: return "access denied or system failure";
        case kFileErrNotFound: return "no such file, no record or close failed";
        case kFileErrReadOnlyFs: return "read-only file system";
        case kFileErrNotOpen: return "file not open, or already open";
        case kFileErrTooLarge: return "size or offset of 2^31 or more";
        case kFileErrPathTooLong: return "path too long";
        case kFileErrBadMode: return "invalid mode flags";
        case kFileErrPosition: return "position cannot be read";
        case kFileErrSize: return "size cannot be read";
        case kFileErrMissingArgument: return "argument missing";
    }
    return "unknown file result";
}
