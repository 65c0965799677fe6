// Detached threads. Threads are never joined: a started thread runs until its
// routine returns or the process ends.
#pragma once

#include <cstdint>

// Starts routine(arg) on a new detached thread with at least stack_size bytes
// of stack (small requests are raised to what the platform needs). Stores the
// thread ID (the system's 32-bit thread ID in the low half, 0 in the high
// half) and returns 0; on failure stores 0 and returns -1. thread_id may be
// null when the caller does not want it.
int v3ThreadStart(uint64_t* thread_id, void (*routine)(void*), void* arg, uint32_t stack_size);
