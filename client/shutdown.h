// The one way a running client ends, and the events that lead to it.
#pragma once

#include <cstdint>

// Ends the client: announces signal 2 or 15 at level 6, asks a running core
// to stop, writes "\nQuorvel Client Shutdown.\n", closes the log and ends the
// process with code 0. However many signals and events arrive, and on
// whichever threads, only the first caller does this; any other caller waits
// for the end of the process. Never returns.
[[noreturn]] void ShutdownHandler(int signal);

// The same shutdown, ending the process with exit_code: for a client that
// cannot go on, so that a service manager sees a failure and restarts it.
// Should another shutdown have begun first, that one's code stands.
[[noreturn]] void ShutdownWithCode(int signal, int exit_code);

// Once a shutdown has begun, the calling thread waits here for the end of
// the process instead of going on: whatever it would do next (a core's exit
// acted on, a unit fetched) must not follow the shutdown line. Returns at
// once while the client is not shutting down.
void WaitIfShuttingDown();

// Console events: Ctrl-C (0), Ctrl-Break (1), close (2), log-off (5), system
// shutdown (6). Every event shuts the client down, except a log-off in
// service mode, which is ignored. Always reports the event as handled (1).
int ConsoleEventHandler(uint32_t event);

// Sends signal 2 to the client's own process, whose shutdown handler then
// ends it. Does not return once the handler runs.
void SelfInterrupt();
