#include "net/http_client.h"

// Over the enum, so that a code without a name fails the build (-Wswitch).
const char* HttpResultName(int code) {
    switch (static_cast<HttpResult>(code)) {
        case kHTTPOk: return "no error";
        case kHTTPErrBad: return "bad URL, port, name, connection or chunk size";
        case kHTTPErrTransfer: return "send or receive failed, or unusable response head";
        case kHTTPErrMemory: return "out of memory or encoding failed";
        case kHTTPErrArgument: return "argument missing";
        case kHTTPErrState: return "connection record in the wrong state";
    }
    return "unknown HTTP result";
}
