// The file-backed registry store reading an arbitrary store file (the
// current user's root, QRV_REGISTRY_DIR pointing at the scratch directory).
//
// Input: the store file.
//
// Checks: every value the client asks for (its identities, its working
// directory, the partner edition's values) is answered as a plain reading
// of the file's entries says: "sz:" text with its terminator, "bin:" pairs
// of hexadecimal digits, anything else unreadable, too large for the
// caller's buffer refused with the buffer untouched (guard bytes around
// it). Reading changes nothing on disk. Storing a value then reads it back
// exactly and leaves every other answer as it was.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/fuzz_check.h"
#include "common/scratch_dir.h"
#include "config/config_file.h"
#include "config/registry_store.h"
#include "log/log.h"

namespace {

constexpr const char* kKeys[] = {"Software\\Tarnwick\\Quorvel",
                                 "Software\\Tarnwick\\Quorvel Screensaver",
                                 "Software\\Vantor\\Zelclient"};
constexpr const char* kNames[] = {"UserID", "TeamNum", "DirName", "ProteinName",
                                  "PercentComplete", "MachineID"};
constexpr uint32_t kCapacity = 24;
constexpr size_t kGuard = 8;
constexpr unsigned char kGuardByte = 0xC3;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

struct Answer {
    int rc = 0;
    uint32_t type = 0;
    std::string data;
    bool operator==(const Answer&) const = default;
};

Answer Query(const char* key, const char* name) {
    unsigned char area[kGuard + kCapacity + kGuard];
    std::memset(area, kGuardByte, sizeof area);
    Answer a;
    uint32_t size = 0xFFFFFFFFu;
    a.rc = RegistryQueryValue(RegistryRoot::kCurrentUser, key, name, &a.type, area + kGuard,
                              kCapacity, &size);
    for (size_t i = 0; i < sizeof area; ++i) {
        if (i < kGuard || i >= kGuard + kCapacity || a.rc != kRegistryOk) {
            FUZZ_CHECK(area[i] == kGuardByte || (a.rc == kRegistryOk && i >= kGuard && i < kGuard + size));
        }
    }
    if (a.rc == kRegistryOk) {
        FUZZ_CHECK(size <= kCapacity);
        a.data.assign(reinterpret_cast<const char*>(area + kGuard), size);
    } else {
        a.type = 0;
    }
    return a;
}

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The answer a plain reading of the stored value gives.
Answer Expected(v3Config* cfg, const char* key, const char* name) {
    Answer a;
    const char* v = v3ConfigGet(cfg, key, name);
    if (v == nullptr) {
        a.rc = kRegistryNotFound;
        return a;
    }
    const std::string s = v;
    if (s.rfind("sz:", 0) == 0) {
        a.data = s.substr(3) + '\0';
        a.type = kRegistryString;
    } else if (s.rfind("bin:", 0) == 0) {
        const std::string hex = s.substr(4);
        bool ok = hex.size() % 2 == 0;
        for (char c : hex) ok = ok && Hex(c) >= 0;
        if (!ok) {
            a.rc = kRegistryUnreadable;
            return a;
        }
        for (size_t i = 0; i < hex.size(); i += 2) {
            a.data += static_cast<char>(Hex(hex[i]) * 16 + Hex(hex[i + 1]));
        }
        a.type = kRegistryBinary;
    } else {
        a.rc = kRegistryUnreadable;
        return a;
    }
    if (a.data.size() > kCapacity) a = Answer{kRegistryTooLarge, 0, {}};
    return a;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetLogVerbosity(3);
    setenv("QRV_REGISTRY_DIR", qrvfuzz::ScratchDir().c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qrvfuzz::ClearScratch();
    const std::string path = qrvfuzz::WriteScratchFile("HKCU.txt", data, size);
    const std::string before(reinterpret_cast<const char*>(data), size);

    v3Config reference{};
    const int loaded = v3ConfigLoad(&reference, path.c_str());
    std::vector<Answer> answers;
    for (const char* key : kKeys) {
        const int exists = RegistryKeyExists(RegistryRoot::kCurrentUser, key);
        if (loaded != 0) {
            FUZZ_CHECK(exists == kRegistryFailed);
        } else {
            FUZZ_CHECK(exists == (v3ConfigHasSection(&reference, key) ? kRegistryOk : kRegistryNotFound));
        }
        for (const char* name : kNames) {
            const Answer got = Query(key, name);
            if (loaded != 0) {
                FUZZ_CHECK(got.rc == kRegistryFailed);
            } else {
                FUZZ_CHECK(got == Expected(&reference, key, name));
            }
            answers.push_back(got);
        }
    }
    v3ConfigDestroy(&reference);
    FUZZ_CHECK(ReadAll(path) == before);
    FUZZ_CHECK(qrvfuzz::ScratchEntries() == std::vector<std::string>{"HKCU.txt"});

    // A new user ID stored and read back; nothing else changes.
    const unsigned char id[8] = {1, 2, 3, 4, 5, 6, 7, static_cast<unsigned char>(size)};
    const int stored = RegistrySetValue(RegistryRoot::kCurrentUser, kKeys[0], "UserID",
                                        kRegistryBinary, id, sizeof id);
    if (loaded != 0) {
        FUZZ_CHECK(stored == kRegistryFailed);
        FUZZ_CHECK(ReadAll(path) == before);
        return 0;
    }
    FUZZ_CHECK(stored == kRegistryOk);
    size_t i = 0;
    for (const char* key : kKeys) {
        for (const char* name : kNames) {
            const Answer got = Query(key, name);
            if (key == kKeys[0] && std::strcmp(name, "UserID") == 0) {
                FUZZ_CHECK(got.rc == kRegistryOk && got.type == kRegistryBinary &&
                           got.data == std::string(reinterpret_cast<const char*>(id), sizeof id));
            } else {
                FUZZ_CHECK(got == answers[i]);
            }
            ++i;
        }
    }
    return 0;
}
