#include "client/client_state.h"

// Made once and never destroyed: the shutdown handler ends the process with
// exit() while the client, autosend and output threads may still be inside
// the records the state owns (the Work queue, the transport), so no static
// destructor may free them under those threads.
ClientState& gClientState = *new ClientState;
