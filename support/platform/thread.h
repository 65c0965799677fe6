// Threads of the platform.
#pragma once

#include <cstdint>

// Starts routine(arg) on a detached thread with at least stack_size bytes of
// stack. Stores the system's thread ID of the new thread. 0, or -1.
int v3PlatformThreadStart(uint32_t* thread_id, void (*routine)(void*), void* arg,
                          uint32_t stack_size);
