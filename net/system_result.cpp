#include "net/system_transport.h"

// Over the enum, so that a code without a name fails the build (-Wswitch).
const char* SystemResultName(int code) {
    switch (static_cast<SystemResult>(code)) {
        case kSystemOk: return "no error";
        case kSystemErrSession: return "no session could be opened";
        case kSystemErrConnect: return "no connection for host and port";
        case kSystemErrRequest: return "request could not be set up";
        case kSystemErrSend: return "sending or receiving the answer failed";
        case kSystemErrQuery: return "answer carries no status";
    }
    return "unknown system transport result";
}
