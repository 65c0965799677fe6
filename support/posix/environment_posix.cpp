#include "support/platform/environment.h"

#include <cstdlib>

const char* PlatformEnvironmentValue(const char* name) {
    if (name == nullptr) return nullptr;
    const char* value = getenv(name);
    return (value != nullptr && value[0] != '\0') ? value : nullptr;
}
