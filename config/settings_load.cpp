// Loading client.cfg into the Settings record.
#include <cstdlib>

#include "config/config_file.h"
#include "config/identity.h"
#include "config/registry_store.h"
#include "config/settings.h"
#include "log/log.h"
#include "support/socket.h"
#include "support/format.h"
#include "support/number_reader.h"
#include "support/text.h"

namespace {

const char* Get(const char* section, const char* key) { return v3ConfigGet(ClientConfig(), section, key); }

// Sets a missing yes/no setting to "no" and saves.
void DefaultToNo(const char* section, const char* key) {
    v3ConfigSet(ClientConfig(), section, key, "no");
    SaveClientConfig();
}

uint32_t NumberOr(const char* section, const char* key, uint32_t fallback) {
    uint32_t number = 0;
    return ReadSettingNumber(Get(section, key), 10, &number) == 0 ? number : fallback;
}

void LoadNetworkPermission(Settings& settings) {
    const bool ask = SettingIsYes(Get("settings", "asknet"));
    settings.permission.asknet = ask ? 1 : 0;
    settings.permission.given = ask ? 0 : 1;
    LogAt(kLogNormal, ask ? "- Ask before connecting: Yes\n" : "- Ask before connecting: No\n");
}

// No range test here: the core and the work request take what is written.
void LoadCoreSettings(Settings& settings) {
    settings.core_priority = NumberOr("core", "priority", 0);
    settings.cpu_usage = NumberOr("core", "cpuusage", 100);
    settings.client_type = static_cast<uint16_t>(NumberOr("clienttype", "type", 0));
    settings.use_assembly = SettingStartsWithY(Get("core", "disableassembly")) ? 0 : 1;
    settings.deadline = SettingStartsWithY(Get("core", "ignoredeadlines")) ? 0 : 1;
}

// A text of 64 characters or more does not fit the record's field and is
// refused whole; it then counts as not given.
void LoadProxyCredentials(ProxySettings& proxy) {
    const char* use = Get("http", "usepasswd");
    if (use == nullptr) {
        DefaultToNo("http", "usepasswd");
        use = "no";
    }
    if (!SettingIsYes(use)) {
        proxy.name[0] = '\0';
        proxy.password[0] = '\0';
        return;
    }
    const char* name = Get("http", "proxy_name");
    if (name == nullptr || name[0] == '\0') return;
    if (v3StrCopy(proxy.name, name, sizeof proxy.name) != 0) {
        proxy.name[0] = '\0';
        proxy.password[0] = '\0';
        return;
    }
    const char* password = Get("http", "proxy_passwd");
    if (password != nullptr && password[0] != '\0' &&
        v3StrCopy(proxy.password, password, sizeof proxy.password) == 0) {
        LogAt(kLogNormal, "- Proxy password enabled\n");
        return;
    }
    // A password that was refused is not half-used: the proxy is asked
    // without one rather than with a stale one.
    proxy.password[0] = '\0';
    if (password == nullptr || password[0] == '\0') proxy.name[0] = '\0';
}

int LoadProxy(Settings& settings, const char* program_name) {
    ProxySettings& proxy = settings.proxy;
    settings.usereg = 0;
    proxy.address = 0;
    proxy.port = 0;
    const char* active = Get("http", "active");
    if (active == nullptr) {
        DefaultToNo("http", "active");
        return 0;
    }
    if (!SettingIsYes(active)) return 0;
    const char* host = Get("http", "host");
    if (host == nullptr) {
        LogAt(kLogNormal, "Bad proxy settings. Use %.30s -config to reconfigure\n", program_name);
        return -1;
    }
    if (v3ResolveHost(&proxy.address, 1, host) < 1) {
        LogAt(kLogNormal, "Failed to resolve hostname for proxy. Will connect directly.\n");
        proxy.address = 0;
    }
    LogAt(kLogNormal, "- Proxy: %s", host);
    const char* port = Get("http", "port");
    if (port == nullptr) {
        LogAt(kLogNormal, "+ Bad proxy settings. Please reconfigure\n");
        proxy.port = 0;
        return -1;
    }
    // A port that is no number, or none a port can be, stays 0: the
    // transport then connects directly instead of to a wrong port.
    uint32_t number = 0;
    if (ReadSettingNumber(port, 10, &number) == 0 && number <= 0xFFFF) {
        proxy.port = static_cast<uint16_t>(number);
    }
    LogAt(kLogNormal, ":%u\n", proxy.port);
    LoadProxyCredentials(proxy);
    return 0;
}

int LoadConnection(Settings& settings, const char* program_name) {
    // Nothing of an earlier load's proxy outlives this one.
    settings.proxy.address = 0;
    settings.proxy.port = 0;
    const char* usereg = Get("http", "usereg");
    if (usereg == nullptr) {
        DefaultToNo("http", "usereg");
        usereg = "no";
    }
    if (SettingIsYes(usereg)) {
        LogAt(kLogNormal, "- Use IE connection settings: Yes\n");
        settings.usereg = 1;
        return 0;
    }
    return LoadProxy(settings, program_name);
}

void ShowUserName(uint32_t edition_code) {
    const char* name = Get("settings", "username");
    if (name == nullptr) return;
    if (LogLevelOn(kLogNormal)) {
        LogPrint("- User name: %s", name);
        const char* team = Get("settings", "team");
        if (team != nullptr) {
            LogPrint(" (Team %s)\n", team);
        } else {
            LogPrint("\n");
        }
    }
    char registry_name[kRegistryNameSize];
    int32_t team = 0;
    if (edition_code == 5 && ReadRegistryUser(edition_code, registry_name, &team) == 0 &&
        v3StrCompare(registry_name, name, 250) != 0) {
        LogAt(kLogNormal, "\nWarning: Username from client.cfg didn't match registry (%s vs %s)\n", name,
              registry_name);
    }
}

int LoadUserID(Settings& settings, uint32_t edition_code, const UserIDSource& obtain_user_id) {
    // Clients that share a registry store must end with one user ID, so the
    // read, the request and the store are one step for all of them: the
    // second to come waits here and then reads what the first stored.
    const RegistryLock lock;
    uint64_t id = 0;
    if (LoadSaveUserID(edition_code, &id, 0) == 0) {
        settings.user_id = id;
        char text[24];
        v3StringPrint(text, sizeof text, "%Y", id);
        LogAt(kLogNormal, "- User ID = %s\n", text);
        return 0;
    }
    LogAt(kLogNormal, "- User ID not found locally\n");
    LogAt(kLogNormal, "+ Requesting User ID from server\n");
    char text[101];
    if (!obtain_user_id || obtain_user_id(settings, text, sizeof text) != 0 ||
        v3ReadNumber(&id, sizeof id, 0, text, 16, 1) != 0) {
        LogAt(kLogDetail, "- Fatal: Could not get new user ID\n");
        return -1;
    }
    LogAt(kLogDetail, "- Received User ID = %s\n", text);
    settings.user_id = id;
    if (LoadSaveUserID(edition_code, &id, 1) != 0) LogAt(kLogNormal, "- Warning: Could not save user ID\n");
    return 0;
}

// A machine ID, once in client.cfg, stays: the servers tell a user's
// clients apart by it, so a client that changed its ID would look like a
// new one holding the old one's units.
void LoadMachineID(Settings& settings) {
    uint32_t id = 0;
    if (ReadSettingNumber(Get("settings", "machineid"), 16, &id) != 0 || id < 1 || id > 4) {
        DefaultMachineID(&id);
        char text[4];
        v3StringPrint(text, sizeof text, "%u", id);
        v3ConfigSet(ClientConfig(), "settings", "machineid", text);
        SaveClientConfig();
    }
    settings.machine_id = id;
    LogAt(kLogNormal, "- Machine ID: %u\n", id);
    LogAt(kLogNormal, "\n");
}

}  // namespace

int LoadSettings(Settings& settings, uint32_t edition_code, const char* program_name,
                 const UserIDSource& obtain_user_id) {
    v3Config* config = ClientConfig();
    settings.config = config;
    v3ConfigClear(config);
    if (v3ConfigLoad(config, kClientConfigFile) != 0) return -1;
    LoadNetworkPermission(settings);
    LoadCoreSettings(settings);
    if (LoadConnection(settings, program_name) != 0) return -1;
    ShowUserName(edition_code);
    if (LoadUserID(settings, edition_code, obtain_user_id) != 0) return -1;
    LoadMachineID(settings);
    srand(static_cast<uint32_t>(settings.user_id));
    return 0;
}
