#include "support/platform/system_info.h"

#include <unistd.h>

uint64_t PlatformTotalMemory() {
    long pages = sysconf(_SC_PHYS_PAGES);
    long page_size = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0) return 0;
    uint64_t p = static_cast<uint64_t>(pages);
    uint64_t s = static_cast<uint64_t>(page_size);
    if (p > UINT64_MAX / s) return UINT64_MAX;
    return p * s;
}
