// The current process.
#pragma once

#include <cstdint>

// The system's process ID in the low half, 0 in the high half.
uint64_t v3ProcessID();
