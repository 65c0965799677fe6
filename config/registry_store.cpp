#include "config/registry_store.h"

#include <cstring>
#include <new>
#include <string>

#include "config/config_file.h"
#include "support/atomic_file.h"
#include "support/dir.h"
#include "support/file.h"
#include "support/platform/file_lock.h"

namespace {

constexpr char kStringPrefix[] = "sz:";
constexpr char kBinaryPrefix[] = "bin:";
constexpr size_t kStringPrefixLength = sizeof kStringPrefix - 1;
constexpr size_t kBinaryPrefixLength = sizeof kBinaryPrefix - 1;

// Makes the folder that will hold the file at path, when it is missing.
bool EnsureParentFolder(const char* path) {
    std::string folder(path);
    const size_t slash = folder.rfind('/');
    if (slash == std::string::npos || slash == 0) return true;
    folder.resize(slash);
    v3Dir dir{};
    if (v3DirOpen(&dir, folder.c_str(), kDirModeTest) == kDirOk) return true;
    v3Dir made{};
    return v3DirOpen(&made, folder.c_str(), kDirModeCreate) == kDirOk;
}

// One root's file, read into a configuration object for one operation.
class RegistryFile {
public:
    ~RegistryFile() { v3ConfigDestroy(&config_); }

    // kRegistryOk with the file read, kRegistryNotFound when it does not exist
    // yet (the object is then empty), kRegistryFailed otherwise.
    RegistryResult Load(RegistryRoot root) {
        if (PlatformRegistryFilePath(root, path_, sizeof path_) != 0) return kRegistryFailed;
        const int rc = v3ConfigLoad(&config_, path_);
        if (rc == kFileErrNotFound) return kRegistryNotFound;
        return rc == 0 ? kRegistryOk : kRegistryFailed;
    }

    RegistryResult Save() {
        if (!EnsureParentFolder(path_)) return kRegistryFailed;
        // The store holds the user ID, the volunteer's identity with the
        // servers: readable by its owner alone, whatever mode it had.
        return v3ConfigSave(&config_, path_, kSecretFilePermissions) == 0 ? kRegistryOk : kRegistryFailed;
    }

    v3Config* config() { return &config_; }

private:
    v3Config config_{};
    char path_[kFilePathMax + 1] = {};
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;  // a hand edit may use capitals
    return -1;
}

RegistryResult QueryString(const char* text, void* buf, uint32_t capacity, uint32_t* size) {
    const size_t need = strlen(text) + 1;
    if (need > capacity) return kRegistryTooLarge;
    memcpy(buf, text, need);
    *size = static_cast<uint32_t>(need);
    return kRegistryOk;
}

RegistryResult QueryBinary(const char* hex, void* buf, uint32_t capacity, uint32_t* size) {
    const size_t digits = strlen(hex);
    if (digits % 2 != 0) return kRegistryUnreadable;
    for (size_t i = 0; i < digits; ++i) {
        if (HexDigit(hex[i]) < 0) return kRegistryUnreadable;
    }
    if (digits / 2 > capacity) return kRegistryTooLarge;
    auto* out = static_cast<unsigned char*>(buf);
    for (size_t i = 0; i < digits / 2; ++i) {
        out[i] = static_cast<unsigned char>(HexDigit(hex[2 * i]) * 16 + HexDigit(hex[2 * i + 1]));
    }
    *size = static_cast<uint32_t>(digits / 2);
    return kRegistryOk;
}

std::string EncodeValue(uint32_t type, const void* data, uint32_t size) {
    if (type == kRegistryString) return kStringPrefix + std::string(static_cast<const char*>(data));
    static const char kDigits[] = "0123456789abcdef";
    std::string text(kBinaryPrefix);
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (uint32_t i = 0; i < size; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

}  // namespace

RegistryResult RegistryKeyExists(RegistryRoot root, const char* key) {
    if (key == nullptr) return kRegistryFailed;
    RegistryFile file;
    const RegistryResult rc = file.Load(root);
    if (rc != kRegistryOk) return rc;
    return v3ConfigHasSection(file.config(), key) ? kRegistryOk : kRegistryNotFound;
}

RegistryResult RegistryQueryValue(RegistryRoot root, const char* key, const char* name,
                                  uint32_t* type, void* buf, uint32_t capacity, uint32_t* size) {
    if (key == nullptr || name == nullptr || type == nullptr || buf == nullptr || size == nullptr) {
        return kRegistryFailed;
    }
    RegistryFile file;
    const RegistryResult rc = file.Load(root);
    if (rc != kRegistryOk) return rc;
    const char* stored = v3ConfigGet(file.config(), key, name);
    if (stored == nullptr) return kRegistryNotFound;
    if (strncmp(stored, kStringPrefix, kStringPrefixLength) == 0) {
        *type = kRegistryString;
        return QueryString(stored + kStringPrefixLength, buf, capacity, size);
    }
    if (strncmp(stored, kBinaryPrefix, kBinaryPrefixLength) == 0) {
        *type = kRegistryBinary;
        return QueryBinary(stored + kBinaryPrefixLength, buf, capacity, size);
    }
    return kRegistryUnreadable;
}

RegistryResult RegistrySetValue(RegistryRoot root, const char* key, const char* name,
                                uint32_t type, const void* data, uint32_t size) {
    if (key == nullptr || name == nullptr || data == nullptr) return kRegistryFailed;
    if (type != kRegistryString && type != kRegistryBinary) return kRegistryFailed;
    RegistryFile file;
    const RegistryResult rc = file.Load(root);
    // A file that exists but cannot be read is never replaced: it may hold
    // identities of other programs.
    if (rc == kRegistryFailed) return kRegistryFailed;
    try {
        const std::string value = EncodeValue(type, data, size);
        if (v3ConfigSet(file.config(), key, name, value.c_str()) != 0) return kRegistryFailed;
    } catch (const std::bad_alloc&) {
        return kRegistryFailed;
    }
    return file.Save();
}

RegistryLock::RegistryLock() {
    char root[kFilePathMax + 1];
    if (PlatformRegistryFilePath(RegistryRoot::kCurrentUser, root, sizeof root) != 0) return;
    try {
        std::string path(root);
        const size_t slash = path.rfind('/');
        path.resize(slash == std::string::npos ? 0 : slash + 1);
        path += "registry.lock";
        if (!EnsureParentFolder(path.c_str())) return;
        handle_ = PlatformFileLockWait(path.c_str());
    } catch (const std::bad_alloc&) {
        handle_ = -1;
    }
}

RegistryLock::~RegistryLock() { PlatformFileLockRelease(handle_); }
