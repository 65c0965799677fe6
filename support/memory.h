// Memory operations over 64-bit counts and the allocator with memory classes.
#pragma once

#include <cstdint>

// Memory classes: ordinary memory, and secure memory kept out of swap, which
// this client never gets.
constexpr uint32_t kV3MemOrdinary = 41;
constexpr uint32_t kV3MemSecure = 42;

// Copy (overlap allowed): -1 for a missing pointer or a count of 2^32 or
// more, else 0. A count of 0 with missing pointers is still -1.
int v3MemCopy(void* dest, const void* src, uint64_t count);
// Fill with a byte value: same refusals as v3MemCopy.
int v3MemFill(void* dest, uint8_t value, uint64_t count);
// Compare like memcmp (difference of the first differing bytes, unsigned);
// two missing blocks are equal, one missing block gives -1.
int v3MemCompare(const void* a, const void* b, uint64_t count);
// p + offset, or nullptr when p is missing or the address would wrap.
void* v3PtrAdvance(void* p, uint64_t offset);

// The machine's total physical memory in bytes (0 when unknown). The wire
// carries 32 bits; callers that put it there cap it at 4294967295.
uint64_t v3TotalMemory();

// Zero-filled block of size rounded up to a multiple of 16; nullptr for size
// 0, a size of 2^32 or more, a class other than 41, or no memory.
void* v3Alloc(uint64_t size, uint32_t klass);
// Size 0 frees the block and gives nullptr; class 42 prints the secure-memory
// message and gives nullptr; another class than 41, or a size of 2^32 or more,
// gives nullptr and leaves the block alone; otherwise resizes to the rounded
// size (new bytes are not cleared). A missing block allocates a new one.
void* v3Realloc(void* block, uint64_t size, uint32_t klass);
// Frees a block of v3Alloc/v3Realloc; nullptr is allowed.
void v3Free(void* block);
