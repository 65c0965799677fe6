#include "support/thread.h"

#include "support/platform/thread.h"

int v3ThreadStart(uint64_t* thread_id, void (*routine)(void*), void* arg, uint32_t stack_size) {
    uint32_t tid = 0;
    int rc = v3PlatformThreadStart(&tid, routine, arg, stack_size);
    if (thread_id != nullptr) *thread_id = rc == 0 ? tid : 0;
    return rc == 0 ? 0 : -1;
}
