// Processes of the platform, by process ID.
#pragma once

#include <cstdint>

uint64_t v3PlatformProcessID();
// 0 when process pid exists and has not ended, -1 otherwise. A child of this
// process that has ended but not been collected reads as ended; the probe does
// not collect it, so the child's exit status stays for its supervisor.
int v3PlatformProcessProbe(uint64_t pid);
// Ends process pid outright. 0, or -1 when there is no such process or it may
// not be ended.
int v3PlatformProcessKill(uint64_t pid);

// ---- Child processes (the cores) ------------------------------------------

// What v3PlatformProcessPollExit reports.
inline constexpr int kChildRunning = 1;
inline constexpr int kChildEnded = 0;

// Starts the program at path as a child detached from the client: a session
// of its own (so a Ctrl-C at the terminal reaches only the client, which
// passes it on), the lowest CPU priority there is, standard input, output
// and error on the null device, this process's environment and working
// directory, and no other descriptor of this process. argv is the argument
// list the program sees, ending with nullptr. 0 with *pid set, or -1 (and
// *pid 0) when no process could be made or the program could not be run
// (its child then ends at once with code 0 and is collected here).
int v3PlatformProcessSpawn(const char* path, char* const argv[], uint64_t* pid);

// Looks at a child started by v3PlatformProcessSpawn without waiting.
// kChildRunning while it runs; kChildEnded once it has ended, with *code its
// exit code (128 + N when signal N ended it), the child then being
// collected; -1 when pid names no child of this process that can still be
// looked at (*code 0).
int v3PlatformProcessPollExit(uint64_t pid, uint32_t* code);

// Waits for a child started by v3PlatformProcessSpawn to end and collects
// it: kChildEnded with *code as v3PlatformProcessPollExit gives it, or -1
// (*code 0) when pid names no child of this process that can still be
// waited for. Blocks the calling thread for as long as the child runs.
int v3PlatformProcessWaitExit(uint64_t pid, uint32_t* code);
