// The configuration object's operations. Everything allocating runs inside a
// try block: exhausted memory becomes -1 and never crosses this interface.
#include <cstring>
#include <new>

#include "config/config_data.h"
#include "support/atomic_file.h"
#include "support/file.h"

namespace {

// A configuration is a handful of lines; anything far larger is not one,
// and reading it whole would only exhaust memory.
constexpr uint64_t kConfigFileMax = 16u * 1024 * 1024;

bool Has(const char* text, const char* any_of) { return strpbrk(text, any_of) != nullptr; }

// Texts the file could not carry back unchanged: they would split a line,
// end a header or a key early, turn a key line into a header, or lose a
// carriage return that the reader drops before a line feed.
bool Storable(const char* section, const char* key, const char* value) {
    if (Has(section, "]\n\r") || Has(key, "=\n\r") || key[0] == '[') return false;
    if (value == nullptr) return true;
    const size_t length = strlen(value);
    return strchr(value, '\n') == nullptr && (length == 0 || value[length - 1] != '\r');
}

int ReadWholeFile(const char* path, std::string* text) {
    ScopedFile file;
    const int rc = v3FileOpen(file.get(), path, kFileModeRead);
    if (rc != kFileOk) return rc;
    const uint64_t size = file->size;
    if (size > kConfigFileMax) return -1;
    text->resize(size);
    uint64_t got = 0;
    if (v3FileRead(text->data(), &got, file.get(), size) != kFileOk || got != size) return -1;
    return 0;
}

ConfigSection* FindSection(v3ConfigData* data, const char* name) {
    if (data == nullptr) return nullptr;
    for (const auto& section : data->sections) {
        if (section->name == name) return section.get();
    }
    return nullptr;
}

ConfigEntry* FindEntry(ConfigSection* section, const char* key) {
    for (const auto& entry : section->entries) {
        if (entry->key == key) return entry.get();
    }
    return nullptr;
}

const ConfigEntry* FindLive(const v3ConfigData* data, const char* section, const char* key) {
    if (data == nullptr) return nullptr;
    for (const auto& s : data->sections) {
        if (s->name != section) continue;
        for (const auto& entry : s->entries) {
            if (entry->live && entry->key == key) return entry.get();
        }
    }
    return nullptr;
}

void AddEntry(ConfigSection* section, const char* key, const char* value) {
    auto entry = std::make_unique<ConfigEntry>();
    entry->key = key;
    entry->value = value;
    section->entries.push_back(std::move(entry));
}

void SetLocked(v3Config* config, const char* section_name, const char* key, const char* value) {
    ConfigSection* section = FindSection(config->data, section_name);
    ConfigEntry* entry = section ? FindEntry(section, key) : nullptr;
    if (value == nullptr) {
        // Deleting what is not there changes nothing.
        if (entry) entry->live = false;
        return;
    }
    if (entry) {
        // A value that fits overwrites the old one in place (std::string keeps
        // its buffer when shrinking), so only this entry's text ever moves.
        entry->value = value;
        entry->live = true;
        return;
    }
    if (config->data == nullptr) config->data = new v3ConfigData;
    if (section == nullptr) {
        auto added = std::make_unique<ConfigSection>();
        added->name = section_name;
        section = added.get();
        AddEntry(section, key, value);
        config->data->sections.push_back(std::move(added));
        return;
    }
    AddEntry(section, key, value);
}

}  // namespace

int v3ConfigLoad(v3Config* config, const char* path) {
    if (config == nullptr) return -1;
    ConfigLockHold hold(config);
    if (path == nullptr) {
        if (config->data != nullptr && !config->data->sections.empty()) return -1;
        delete config->data;
        config->data = nullptr;
        return 0;
    }
    try {
        std::string text;
        const int rc = ReadWholeFile(path, &text);
        if (rc != 0) return rc;
        auto data = std::make_unique<v3ConfigData>();
        ParseConfigText(text, data.get());
        delete config->data;
        config->data = data.release();
        return 0;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

int v3ConfigSave(v3Config* config, const char* path, uint32_t permissions) {
    if (config == nullptr || path == nullptr) return -1;
    // The lock is held through the write as well: two saves racing each
    // other then land in the order they read the object, never the older
    // text last.
    ConfigLockHold hold(config);
    try {
        const std::string text = config->data ? ConfigText(*config->data) : std::string();
        return v3FileReplaceAtomically(path, text.data(), text.size(), permissions);
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

int v3ConfigSet(v3Config* config, const char* section, const char* key, const char* value) {
    if (config == nullptr || section == nullptr || key == nullptr) return -1;
    if (!Storable(section, key, value)) return -1;
    ConfigLockHold hold(config);
    try {
        SetLocked(config, section, key, value);
        return 0;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

const char* v3ConfigGet(v3Config* config, const char* section, const char* key) {
    if (config == nullptr || section == nullptr || key == nullptr) return nullptr;
    ConfigLockHold hold(config);
    const ConfigEntry* entry = FindLive(config->data, section, key);
    return entry ? entry->value.c_str() : nullptr;
}

int v3ConfigGetCopy(v3Config* config, const char* section, const char* key, char* out,
                    uint64_t capacity) {
    if (out == nullptr || capacity == 0) return -1;
    out[0] = '\0';
    if (config == nullptr || section == nullptr || key == nullptr) return -1;
    ConfigLockHold hold(config);
    const ConfigEntry* entry = FindLive(config->data, section, key);
    if (entry == nullptr) return -2;
    if (entry->value.size() >= capacity) return -1;
    memcpy(out, entry->value.c_str(), entry->value.size() + 1);
    return 0;
}

int v3ConfigHasSection(v3Config* config, const char* section) {
    if (config == nullptr || section == nullptr) return 0;
    ConfigLockHold hold(config);
    return FindSection(config->data, section) != nullptr ? 1 : 0;
}

void v3ConfigClear(v3Config* config) {
    if (config == nullptr) return;
    ConfigLockHold hold(config);
    delete config->data;
    config->data = nullptr;
}

void v3ConfigDestroy(v3Config* config) {
    if (config == nullptr) return;
    v3ConfigClear(config);
    v3LockDestroy(&config->lock);
}
