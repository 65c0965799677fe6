// The local count of completed units, kept in client.cfg.
#include "config/config_file.h"
#include "config/settings.h"
#include "log/log.h"
#include "support/format.h"
#include "support/lock.h"

namespace {

// Completions may be counted from the result-return thread and the main
// cycle; one count is read, raised and written at a time so none is lost.
v3Lock g_count_lock{};

int WriteCount(uint32_t count) {
    LogAt(kLogNormal, "+ Number of Units Completed: %u\n", count);
    char text[16];
    v3StringPrint(text, sizeof text, "%u", count);
    v3ConfigSet(ClientConfig(), "settings", "local", text);
    return SaveClientConfig();
}

int CountLocked(Settings& settings) {
    if (settings.local_units != 0) return WriteCount(++settings.local_units);
    char text[16];
    uint32_t stored = 0;
    if (v3ConfigGetCopy(ClientConfig(), "settings", "local", text, sizeof text) == 0 &&
        ReadSettingNumber(text, 10, &stored) == 0) {
        settings.local_units = stored + 1;
        return WriteCount(settings.local_units);
    }
    // The in-memory count stays 0, so the next unit reads "1" back and
    // counts 2.
    LogAt(kLogNormal, "+ Starting local stats count at 1\n");
    v3ConfigSet(ClientConfig(), "settings", "local", "1");
    return SaveClientConfig();
}

}  // namespace

int CountCompletedUnit(Settings& settings) {
    v3LockAcquire(&g_count_lock, kLockWaitForever);
    const int rc = CountLocked(settings);
    v3LockRelease(&g_count_lock);
    return rc;
}
