#include "support/codec.h"

// Over the enum, so that a code without a name fails the build (-Wswitch).
const char* CodecResultName(int code) {
    switch (static_cast<CodecResult>(code)) {
        case kCodecOk: return "no error";
        case kCodecErrArgument: return "argument missing or invalid";
        case kCodecErrState: return "codec in the wrong state, or no memory for its state";
        case kCodecErrMemory: return "out of memory";
        case kCodecErrStream: return "stream cannot be transformed";
    }
    return "unknown codec result";
}
