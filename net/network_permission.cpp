#include "net/network_permission.h"

#include <atomic>

#include "client/client_state.h"
#include "log/log.h"
#include "support/console_input.h"
#include "support/format.h"

namespace {

// The flag is shared with the autosend thread.
std::atomic_ref<uint32_t> PermissionFlag() {
    return std::atomic_ref<uint32_t>(gClientState.network_permission);
}

// The message box of a desktop system, on the console: the title and the
// text, then a wait until the volunteer presses Enter.
void ShowConnectPrompt() {
    v3Print("\n[%s] ", "Quorvel");
    v3Print("Ready to connect to network.");
    v3Print(" (press Enter)\n");
    char answer[16];
    if (v3ReadLine(answer, sizeof answer, 0) == kV3InputEnd && LogLevelOn(3)) {
        LogPrint("- Nobody could be asked before connecting (no console input); connecting\n");
    }
}

}  // namespace

void AskNetworkPermission() {
    if (gClientState.asknet == 1 && PermissionFlag().load() == 0) ShowConnectPrompt();
    PermissionFlag().store(1);
}

void ClearNetworkPermission() { PermissionFlag().store(0); }

uint32_t NetworkPermission() { return PermissionFlag().load(); }
