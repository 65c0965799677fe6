#include "config/registry_store.h"

// Over the enum, so that a code without a name fails the build (-Wswitch).
const char* RegistryResultName(int code) {
    switch (static_cast<RegistryResult>(code)) {
        case kRegistryOk: return "no error";
        case kRegistryFailed: return "registry file cannot be read or written";
        case kRegistryNotFound: return "no such key or value";
        case kRegistryUnreadable: return "value of unknown type";
        case kRegistryTooLarge: return "value larger than the buffer";
    }
    return "unknown registry result";
}
