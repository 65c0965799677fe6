// Processes of the platform, by process ID.
#pragma once

#include <cstdint>

uint64_t v3PlatformProcessID();
// 0 when process pid exists and has not ended, -1 otherwise. A child of this
// process that has ended but not been collected reads as ended; the probe does
// not collect it, so the child's exit status stays for its supervisor.
int v3PlatformProcessProbe(uint64_t pid);
// Ends process pid outright. 0, or -1 when there is no such process or it may
// not be ended.
int v3PlatformProcessKill(uint64_t pid);
