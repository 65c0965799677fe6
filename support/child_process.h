// Child processes started from one command line, as the client starts its
// cores: the first word names the program, the rest are its arguments.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The exit code read while a child still runs. No exit code of a process
// can take this value (they are 0..255 here), so it never hides one.
inline constexpr uint32_t kProcessStillActive = 259;

// The words of command_line, split at blanks and line feeds; runs of them
// make no empty words.
std::vector<std::string> SplitCommandLine(const char* command_line);

// The path a command line's first word runs: a word without "/" names a
// program in the working directory, never one found on a search path.
std::string ProgramPathOf(const std::string& first_word);

// Starts the command line as a detached child at idle priority (see
// v3PlatformProcessSpawn). 0 with *pid set, or -1 with *pid 0 (an empty
// command line, or no process could be made).
int v3ProcessCreate(const char* command_line, uint64_t* pid);

// Reads a child's exit code without waiting: kProcessStillActive while it
// runs, else its code (128 + N when signal N ended it). 0, or -1 with *code
// 0 when pid is no child of this process whose end can still be read.
int v3ProcessExitCode(uint64_t pid, uint32_t* code);

// Waits until a child ends and returns its code as v3ProcessExitCode does
// (never kProcessStillActive). 0, or -1 with *code 0 when pid is no child of
// this process whose end can still be read. Only the calling thread waits.
int v3ProcessWaitExit(uint64_t pid, uint32_t* code);
