// The network permission: with the asknet setting on, the first network use
// (after start-up, and again after each clearing) is announced to the
// volunteer and waits for an acknowledgement. The record (config/settings.h)
// is the client's; its flag is shared with the autosend thread, so every
// operation here reads and writes it atomically.
#pragma once

#include <cstdint>

#include "config/settings.h"

// Called before every exchange with a server and before every download.
// With asknet on and no permission yet: shows "Ready to connect to network."
// and waits for Enter (at the end of input it goes on and logs that nobody
// could be asked). The permission is set in every case.
void AskNetworkPermission(NetworkPermission& permission);

// Withdraws the permission after a successful work fetch, so that the next
// network use asks again.
void ClearNetworkPermission(NetworkPermission& permission);

// 1 once the volunteer has acknowledged network use since the last clearing
// (or asknet is off and the network has been used), else 0. The autosend
// thread reads it. (Not const: the atomic view of the flag needs a
// modifiable word.)
uint32_t NetworkPermissionGiven(NetworkPermission& permission);
