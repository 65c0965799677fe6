// Identities and the working directory in the registry store.
#include "config/identity.h"

#include "version.h"
#include "config/config_file.h"
#include "config/registry_store.h"
#include "config/settings.h"
#include "support/format.h"
#include "support/number_reader.h"

namespace {

constexpr uint32_t kPartnerEdition = 5;
constexpr char kPartnerKey[] = "Software\\Vantor\\Zelclient";
// "DirName" must be shorter than this, terminator included.
constexpr uint32_t kDirNameSize = 999;

// The key that holds the user ID and the working directory; nullptr for the
// partner edition and for editions the client does not know.
const char* EditionKey(uint32_t edition) {
    switch (edition) {
        case 1:
        case 2:
        case 4:
            return "Software\\Tarnwick\\Quorvel";
        case 3:
            return "Software\\Tarnwick\\Quorvel Screensaver";
        default:
            return nullptr;
    }
}

bool KnownEdition(uint32_t edition) {
    if (EditionKey(edition) != nullptr || edition == kPartnerEdition) return true;
    v3Print("Unknown Client subtype: %u\n", edition);
    return false;
}

int ReadTeam(RegistryRoot root, const char* key) {
    char text[32];
    uint32_t type = 0;
    uint32_t size = 0;
    if (RegistryQueryValue(root, key, "TeamNum", &type, text, sizeof text, &size) != kRegistryOk ||
        type != kRegistryString) {
        return 0;
    }
    int32_t team = 0;
    return v3ReadNumber(&team, sizeof team, 1, text, 10, 1) == 0 ? team : 0;
}

// The ID is stored as 8 bytes, least significant first, whatever the CPU.
int ReadRegistryID(RegistryRoot root, const char* key, uint64_t* user_id) {
    unsigned char bytes[8];
    uint32_t type = 0;
    uint32_t size = 0;
    if (RegistryQueryValue(root, key, "UserID", &type, bytes, sizeof bytes, &size) != kRegistryOk ||
        type != kRegistryBinary || size != sizeof bytes) {
        return -1;
    }
    uint64_t id = 0;
    for (int i = 7; i >= 0; --i) id = (id << 8) | bytes[i];
    if (id == 0) return -1;
    *user_id = id;
    return 0;
}

int StoreRegistryID(RegistryRoot root, const char* key, uint64_t user_id) {
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(user_id >> (8 * i));
    return RegistrySetValue(root, key, "UserID", kRegistryBinary, bytes, sizeof bytes) == kRegistryOk
               ? 0
               : -1;
}

int ReadConfigID(uint64_t* user_id) {
    const char* text = v3ConfigGet(ClientConfig(), "settings", "userid");
    uint64_t id = 0;
    if (text == nullptr || v3ReadNumber(&id, sizeof id, 0, text, 16, 1) != 0 || id == 0) return -1;
    *user_id = id;
    return 0;
}

int StoreConfigID(uint64_t user_id) {
    char text[24];
    v3StringPrint(text, sizeof text, "%Y", user_id);
    if (v3ConfigSet(ClientConfig(), "settings", "userid", text) != 0) return -1;
    return SaveClientConfig() == 0 ? 0 : -1;
}

constexpr RegistryRoot kIDRoots[] = {RegistryRoot::kLocalMachine, RegistryRoot::kCurrentUser};

}  // namespace

int ReadRegistryUser(uint32_t edition, char* name, int32_t* team) {
    if (name == nullptr || team == nullptr) return -1;
    if (!KnownEdition(edition)) return -1;
    RegistryRoot root = RegistryRoot::kCurrentUser;
    char key[128];
    const char* name_value = "UserName";
    if (edition != kPartnerEdition) {
        root = RegistryRoot::kLocalMachine;
        v3StringPrint(key, sizeof key, "%s\\%s", EditionKey(edition), kClientVersion);
        name_value = "Name";
    } else {
        v3StringPrint(key, sizeof key, "%s", kPartnerKey);
    }
    char found[kRegistryNameSize];
    uint32_t type = 0;
    uint32_t size = 0;
    if (RegistryQueryValue(root, key, name_value, &type, found, sizeof found, &size) != kRegistryOk ||
        type != kRegistryString) {
        return -1;
    }
    v3StringPrint(name, kRegistryNameSize, "%s", found);
    *team = ReadTeam(root, key);
    return 0;
}

// A read takes the first valid ID of the machine's key, the user's key and
// client.cfg, in that order, so it finds the ID wherever a store could put
// it: a machine key that exists but cannot be written (made by an
// administrator) does not hide an ID kept in the user's key or client.cfg.
int LoadSaveUserID(uint32_t edition, uint64_t* user_id, int store) {
    if (user_id == nullptr) return -1;
    if (!KnownEdition(edition)) return -1;
    if (const char* key = EditionKey(edition)) {
        for (RegistryRoot root : kIDRoots) {
            const int rc = store ? StoreRegistryID(root, key, *user_id) : ReadRegistryID(root, key, user_id);
            if (rc == 0) return 0;
        }
    }
    return store ? StoreConfigID(*user_id) : ReadConfigID(user_id);
}

int SetWorkingDirectory(uint32_t edition) {
    if (edition == kPartnerEdition) return 0;
    const char* key = EditionKey(edition);
    if (key == nullptr) return -1;
    char dir[kDirNameSize];
    uint32_t type = 0;
    uint32_t size = 0;
    if (RegistryQueryValue(RegistryRoot::kCurrentUser, key, "DirName", &type, dir, sizeof dir, &size) !=
            kRegistryOk ||
        type != kRegistryString) {
        return -1;
    }
    // A directory that cannot be entered leaves the client where it is; the
    // log opened next shows where that is.
    PlatformSetCurrentDirectory(dir);
    return 0;
}
