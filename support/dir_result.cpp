#include "support/dir.h"

// Over the enum, so that a code without a name fails the build (-Wswitch).
const char* DirResultName(int code) {
    switch (static_cast<DirResult>(code)) {
        case kDirOk: return "no error";
        case kDirErrFailed: return "access denied or system failure";
        case kDirErrNotFound: return "no such directory, or no record";
        case kDirErrCreate: return "directory cannot be created";
        case kDirErrBadMode: return "invalid mode";
        case kDirErrAlreadyOpen: return "directory record already open";
        case kDirErrPathTooLong: return "path too long";
        case kDirErrNotOpen: return "directory record not open";
        case kDirErrMissingArgument: return "argument missing";
    }
    return "unknown directory result";
}
