// The one configuration object of client.cfg and the tests its values go
// through.
#include "config/config_file.h"
#include "config/settings.h"
#include "log/log.h"
#include "support/atomic_file.h"
#include "support/number_reader.h"
#include "support/text.h"

v3Config* ClientConfig() {
    // A zero-filled object is valid and needs no construction, so any
    // thread's first call finds it ready.
    static v3Config object{};
    return &object;
}

int SaveClientConfig() {
    // client.cfg may hold the proxy password in plain text: whatever mode
    // the file had, a save leaves it readable by its owner alone.
    const int rc = v3ConfigSave(ClientConfig(), kClientConfigFile, kSecretFilePermissions);
    if (rc != 0) LogAt(kLogNormal, "- Warning: Could not save %s (error %d)\n", kClientConfigFile, rc);
    return rc;
}

bool SettingIsYes(const char* value) { return value != nullptr && v3StrCompare(value, "yes", 3) == 0; }

bool SettingStartsWithY(const char* value) {
    return value != nullptr && (value[0] == 'Y' || value[0] == 'y');
}

int ReadSettingNumber(const char* value, uint32_t base, uint32_t* number) {
    if (value == nullptr || number == nullptr) return -1;
    return v3ReadNumber(number, sizeof *number, 0, value, base, 1);
}
