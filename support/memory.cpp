#include "support/memory.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "support/format.h"
#include "support/platform/system_info.h"

namespace {

// Sizes and counts stay below 2^32: larger ones come only from a corrupted
// length field, and refusing them keeps a bad record from taking all memory.
constexpr uint64_t kLargestCount = 0xFFFFFFFFull;

uint64_t RoundUp16(uint64_t size) { return (size + 15) & ~static_cast<uint64_t>(15); }

// The rounded size of a block, or 0 when the processor cannot address it: the
// largest sizes round up to 2^32, which a 32-bit size_t would wrap to 0 and
// the C library would then hand out as a tiny block.
size_t BlockSize(uint64_t size) {
    const uint64_t rounded = RoundUp16(size);
    return rounded <= std::numeric_limits<size_t>::max() ? static_cast<size_t>(rounded) : 0;
}

}  // namespace

int v3MemCopy(void* dest, const void* src, uint64_t count) {
    if (dest == nullptr || src == nullptr || count > kLargestCount) return -1;
    std::memmove(dest, src, count);
    return 0;
}

int v3MemFill(void* dest, uint8_t value, uint64_t count) {
    if (dest == nullptr || count > kLargestCount) return -1;
    std::memset(dest, value, count);
    return 0;
}

int v3MemCompare(const void* a, const void* b, uint64_t count) {
    if (a == nullptr && b == nullptr) return 0;
    if (a == nullptr || b == nullptr) return -1;
    const unsigned char* pa = static_cast<const unsigned char*>(a);
    const unsigned char* pb = static_cast<const unsigned char*>(b);
    for (uint64_t i = 0; i < count; ++i) {
        if (pa[i] != pb[i]) return static_cast<int>(pa[i]) - static_cast<int>(pb[i]);
    }
    return 0;
}

void* v3PtrAdvance(void* p, uint64_t offset) {
    if (p == nullptr) return nullptr;
    uintptr_t base = reinterpret_cast<uintptr_t>(p);
    if (offset > UINTPTR_MAX - base) return nullptr;
    return reinterpret_cast<void*>(base + offset);
}

uint64_t v3TotalMemory() {
    // Reported as the 32-bit figure the wire's memory field carries: a larger
    // machine reads as 4294967295, never as a wrapped small number.
    uint64_t total = PlatformTotalMemory();
    return total > kLargestCount ? kLargestCount : total;
}

void* v3Alloc(uint64_t size, uint32_t klass) {
    if (size == 0 || size > kLargestCount || klass != kV3MemOrdinary) return nullptr;
    const size_t bytes = BlockSize(size);
    return bytes != 0 ? std::calloc(1, bytes) : nullptr;
}

void* v3Realloc(void* block, uint64_t size, uint32_t klass) {
    if (size == 0) {
        std::free(block);
        return nullptr;
    }
    if (klass == kV3MemSecure) {
        v3Print("Secure memory requested, but not available.\n");
        return nullptr;
    }
    if (klass != kV3MemOrdinary || size > kLargestCount) return nullptr;
    const size_t bytes = BlockSize(size);
    return bytes != 0 ? std::realloc(block, bytes) : nullptr;
}

void v3Free(void* block) { std::free(block); }
