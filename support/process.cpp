#include "support/process.h"

#include "support/platform/process.h"

uint64_t v3ProcessID() {
    return v3PlatformProcessID();
}
