// An include that points up the order, for the layer check to refuse.
#include "client/client_state.h"
