// A core may share only contract/ with the client.
#include "queue/reads_client.h"
