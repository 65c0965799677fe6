#include "support/socket.h"

// Over the enum, so that a code without a name fails the build (-Wswitch).
const char* SockResultName(int code) {
    switch (static_cast<SockResult>(code)) {
        case kSockOk: return "no error";
        case kSockErrConnect: return "connect failed";
        case kSockErrBind: return "bind failed";
        case kSockErrConnected: return "already connected";
        case kSockErrNotConnected: return "not connected, send failed or peer closed";
        case kSockErrTimeout: return "timed out";
        case kSockErrKind: return "wrong socket kind";
        case kSockErrArgument: return "argument missing";
        case kSockErrClose: return "close failed";
        case kSockErrService: return "socket service error";
        case kSockErrStart: return "socket service could not start";
    }
    return "unknown socket result";
}
