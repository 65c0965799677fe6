// Console input through the operating system.
#pragma once

#include <cstdint>

// True when standard input is a terminal.
bool PlatformStdinIsTerminal();

// Reads up to count bytes from standard input (descriptor 0), retrying on
// interruption. Gives the number read, 0 at the end of input, -1 on error.
int64_t PlatformStdinRead(char* buf, uint64_t count);

// Reads one key press from the terminal on standard input without echo and
// without waiting for a line. Gives the byte (0..255), or -1 at the end of
// input or on error. When standard input is not a terminal it reads one
// byte of it as PlatformStdinRead does.
int PlatformReadKey();
