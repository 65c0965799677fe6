// Includes below itself: allowed.
#include "queue/reads_client.h"
