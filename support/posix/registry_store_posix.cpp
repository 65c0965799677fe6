#include "support/platform/registry_store.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

const char* Variable(const char* name) {
    const char* value = getenv(name);
    return (value != nullptr && value[0] != '\0') ? value : nullptr;
}

int Compose(char* out, uint64_t size, const char* first, const char* second) {
    if (out == nullptr || size == 0) return -1;
    const int n = snprintf(out, size, "%s%s", first, second);
    if (n < 0 || static_cast<uint64_t>(n) >= size) {
        out[0] = '\0';
        return -1;
    }
    return 0;
}

}  // namespace

int PlatformRegistryFilePath(RegistryRoot root, char* out, uint64_t size) {
    const bool user = root == RegistryRoot::kCurrentUser;
    if (const char* dir = Variable("QRV_REGISTRY_DIR")) {
        return Compose(out, size, dir, user ? "/HKCU.txt" : "/HKLM.txt");
    }
    if (!user) return Compose(out, size, "/etc/quorvel/registry.txt", "");
    // XDG base directories are absolute by definition; a relative
    // XDG_CONFIG_HOME is ignored like an unset one.
    const char* config_home = Variable("XDG_CONFIG_HOME");
    if (config_home != nullptr && config_home[0] == '/') {
        return Compose(out, size, config_home, "/quorvel/registry.txt");
    }
    const char* home = Variable("HOME");
    if (home == nullptr) {
        if (out != nullptr && size > 0) out[0] = '\0';
        return -1;
    }
    return Compose(out, size, home, "/.config/quorvel/registry.txt");
}

int PlatformSetCurrentDirectory(const char* path) {
    if (path == nullptr) return -1;
    return chdir(path) == 0 ? 0 : -1;
}
