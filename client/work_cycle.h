// The main work cycle, run by the client thread after its first act.
#pragma once

#include "client/client_state.h"

// Carries out a one-shot run mode and ends the process, or works unit after
// unit for ever. Returns only when the cycle must stop without ending the
// process (the queue is full and no slot can be freed).
void RunWorkCycle(ClientState* state);
