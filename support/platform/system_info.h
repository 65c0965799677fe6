// Facts about the machine.
#pragma once

#include <cstdint>

// Total physical memory in bytes, 0 when the system does not say.
uint64_t PlatformTotalMemory();
