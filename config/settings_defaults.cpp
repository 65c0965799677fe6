// The defaults of client.cfg.
#include "config/config_file.h"
#include "config/identity.h"
#include "config/settings.h"
#include "log/log.h"
#include "support/atomic_file.h"
#include "support/file.h"
#include "support/format.h"

int WriteDefaultSettings(uint32_t edition_code) {
    v3Config* config = ClientConfig();
    // Whatever the file still holds (a user name, core settings) is kept. A
    // file that exists but cannot be read is moved aside before the defaults
    // replace it, so the volunteer's settings are not lost unseen.
    const int rc = v3ConfigLoad(config, kClientConfigFile);
    if (rc != 0) {
        v3ConfigClear(config);
        if (rc != kFileErrNotFound && v3FileMoveAside(kClientConfigFile, ".bad") == 0) {
            LogAt(kLogNormal, "- Could not read %s; it is kept as %s.bad\n", kClientConfigFile, kClientConfigFile);
        }
    }
    if (v3ConfigGet(config, "settings", "username") == nullptr) {
        v3ConfigSet(config, "settings", "username", "Anonymous");
        v3ConfigSet(config, "settings", "team", "0");
        char name[kRegistryNameSize];
        int32_t team = 0;
        if (ReadRegistryUser(edition_code, name, &team) == 0) {
            char team_text[16];
            v3StringPrint(team_text, sizeof team_text, "%i", team);
            v3ConfigSet(config, "settings", "username", name);
            v3ConfigSet(config, "settings", "team", team_text);
        }
    }
    v3ConfigSet(config, "settings", "asknet", "no");
    v3ConfigSet(config, "http", "active", "no");
    v3ConfigSet(config, "http", "host", "localhost");
    v3ConfigSet(config, "http", "port", "8080");
    v3ConfigSet(config, "http", "usereg", "no");
    return SaveClientConfig();
}
