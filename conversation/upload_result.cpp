#include "conversation/result_upload.h"

// Over the enum, so that a code without a name fails the build (-Wswitch).
const char* UploadResultName(int code) {
    switch (static_cast<UploadResult>(code)) {
        case kUploadOk: return "results accepted";
        case kUploadFailed: return "transfer failed, worth another try";
        case kUploadUnusable: return "no results or no server to send them to";
        case kUploadRefused: return "unit refused for good";
    }
    return "unknown upload result";
}
