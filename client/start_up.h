// Bringing the client up, from the command line to the client thread.
#pragma once

#include "client/client_state.h"

// The process entry: keeps the command line, parses it, starts up and hands
// over to the client thread, then sleeps for ever. The process ends through
// the shutdown handler, "-license", or a fatal start-up condition (-1).
[[noreturn]] void ClientMain(int argument_count, char** argument_list);

// After the command line has been taken: working directory, log, banner and
// argument list, settings (with the interactive configuration when they
// cannot be loaded), status page, work directory, Work queue, and the
// benchmark unless only the queue is to be shown. 0; ends the process with
// -1 when the work directory cannot be made or a new queue cannot be saved.
int StartUp(ClientState* state);
