#include "client/work_cycle.h"

// Not built yet: the one-shot modes and the work cycle arrive with the
// work-cycle work. Until then the client thread ends here and the process
// stays up, idle, until it is stopped.
void RunWorkCycle(ClientState*) {}
