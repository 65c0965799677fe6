// Where a new user ID comes from when none is stored: the assignment server.
#pragma once

#include <cstdint>

// Obtains a new user ID (with retries), stores it in the Client state and
// writes it as hexadecimal text into text (size bytes; 101 hold any ID). 0
// or -1.
int ObtainUserID(char* text, uint64_t size);
