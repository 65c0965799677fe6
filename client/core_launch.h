// Launching and supervising a core.
#pragma once

// Asks a running core to stop (signal 2), without waiting for it. 0, or -1
// when the signal could not be sent; 0 when no core runs.
int StopCore();
