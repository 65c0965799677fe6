// Ending the process.
#pragma once

// Runs the registered exit cleanup, removes this process's signal semaphores
// and ends the process with code through the C runtime's exit (which flushes
// and closes the standard streams). If another thread is already ending the
// process, the caller waits for that instead of racing it.
[[noreturn]] void v3Exit(int code);

// The one cleanup v3Exit runs first (the socket layer registers the release
// of its name-lookup lock here). nullptr removes it.
void v3SetExitCleanup(void (*cleanup)());
