#include "client/client_state.h"

ClientState gClientState;
