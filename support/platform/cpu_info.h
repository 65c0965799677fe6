// The processor's identification instruction.
#pragma once

#include <cstdint>

// Registers of one identification leaf.
struct CpuIdRegisters {
    uint32_t eax;
    uint32_t ebx;
    uint32_t ecx;
    uint32_t edx;
};

// Reads leaf into regs. false (regs zeroed) when the processor has no
// identification instruction, does not offer that leaf, or is not an x86.
bool PlatformCpuId(uint32_t leaf, CpuIdRegisters* regs);
