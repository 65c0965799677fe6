#include "net/network_permission.h"

#include <atomic>

#include "log/log.h"
#include "support/console_input.h"
#include "support/format.h"

namespace {

// The flag is shared with the autosend thread.
std::atomic_ref<uint32_t> Flag(NetworkPermission& permission) {
    return std::atomic_ref<uint32_t>(permission.given);
}

// The message box of a desktop system, on the console: the title and the
// text, then a wait until the volunteer presses Enter.
void ShowConnectPrompt() {
    v3Print("\n[%s] ", "Quorvel");
    v3Print("Ready to connect to network.");
    v3Print(" (press Enter)\n");
    char answer[16];
    if (v3ReadLine(answer, sizeof answer, 0) == kV3InputEnd) {
        LogAt(kLogNormal, "- Nobody could be asked before connecting (no console input); connecting\n");
    }
}

}  // namespace

void AskNetworkPermission(NetworkPermission& permission) {
    if (permission.asknet == 1 && Flag(permission).load() == 0) ShowConnectPrompt();
    Flag(permission).store(1);
}

void ClearNetworkPermission(NetworkPermission& permission) { Flag(permission).store(0); }

uint32_t NetworkPermissionGiven(NetworkPermission& permission) { return Flag(permission).load(); }
