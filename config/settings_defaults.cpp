// The defaults of client.cfg.
#include "config/config_file.h"
#include "config/identity.h"
#include "config/settings.h"
#include "support/format.h"

int WriteDefaultSettings() {
    v3Config* config = ClientConfig();
    // Whatever the file still holds (a user name, core settings) is kept; a
    // file that cannot be read starts from nothing.
    if (v3ConfigLoad(config, kClientConfigFile) != 0) v3ConfigClear(config);
    if (v3ConfigGet(config, "settings", "username") == nullptr) {
        v3ConfigSet(config, "settings", "username", "Anonymous");
        v3ConfigSet(config, "settings", "team", "0");
        char name[kRegistryNameSize];
        int32_t team = 0;
        if (ReadRegistryUser(name, &team) == 0) {
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
