// The inside of the configuration object, shared by its reader, its writer
// and its operations; nothing outside config_file*.cpp includes this.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_file.h"

struct ConfigEntry {
    std::string key;
    std::string value;
    // A deleted entry keeps its place: it is invisible to lookups and not
    // written, and setting it again brings it back where it stood.
    bool live = true;
};

struct ConfigSection {
    std::string name;
    // Entries are held by pointer so that a value handed out by v3ConfigGet
    // stays where it is while other entries are added.
    std::vector<std::unique_ptr<ConfigEntry>> entries;

    bool HasLiveEntry() const;
};

struct v3ConfigData {
    // In order of first appearance in the file, then in order of addition. A
    // file may name one section twice; both are kept and written back.
    std::vector<std::unique_ptr<ConfigSection>> sections;
};

// Reads file text into data (which starts empty). Throws std::bad_alloc only.
void ParseConfigText(std::string_view text, v3ConfigData* data);

// The text the object is saved as. Throws std::bad_alloc only.
std::string ConfigText(const v3ConfigData& data);

// Holds an object's lock for one scope.
class ConfigLockHold {
public:
    explicit ConfigLockHold(v3Config* config) : lock_(&config->lock) {
        v3LockAcquire(lock_, kLockWaitForever);
    }
    ~ConfigLockHold() { v3LockRelease(lock_); }
    ConfigLockHold(const ConfigLockHold&) = delete;
    ConfigLockHold& operator=(const ConfigLockHold&) = delete;

private:
    v3Lock* lock_;
};
