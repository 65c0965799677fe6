#include "support/platform/cpu_info.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

bool PlatformCpuId(uint32_t leaf, CpuIdRegisters* regs) {
    *regs = CpuIdRegisters{};
#if defined(__i386__) || defined(__x86_64__)
    // __get_cpuid checks the highest leaf first and, on 32-bit processors,
    // whether the ID flag of the flags register can be toggled at all.
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(leaf, &a, &b, &c, &d)) return false;
    *regs = CpuIdRegisters{a, b, c, d};
    return true;
#else
    (void)leaf;
    return false;
#endif
}
