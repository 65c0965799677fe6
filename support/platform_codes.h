// The processor and operating-system codes of the request headers.
#pragma once

#include <cstdint>

// Processor code from the identification instruction: 1000 Cyrix, 2000 AMD,
// Intel by family (86 .. 486, 586/587, 686/687, 85/87 with MMX second), 0
// for anything else or no instruction.
uint32_t GetCpuType();

// The code of the vendor text (12 characters, leaf 0 in EBX, EDX, ECX order)
// with leaf 1's EAX (signature) and EDX (features).
uint32_t CpuTypeFromIdentity(const char* vendor, uint32_t signature, uint32_t features);

// Operating-system code: the table knows only old Windows versions, so every
// other system, Linux included, is 0.
uint32_t GetOsType();
