// The client thread: started at the end of start-up with the Client state.
#pragma once

#include <cstdint>

// Stack of the client thread, in bytes.
inline constexpr uint32_t kClientThreadStack = 5242880;

// Registers the shutdown handler for signals 15 and 2, then runs the work
// cycle. arg is the Client state.
void ClientThread(void* arg);
