#include "client/version.h"

static_assert(kClientVersionNumber == 324, "queue.dat and the wire carry 3.24 as 324");
