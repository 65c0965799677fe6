#include "support/memory.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <cstring>
#include <string>

namespace {

TEST(MemoryTest, AllocIsZeroFilledAndRoundedTo16) {
    unsigned char* p = static_cast<unsigned char*>(v3Alloc(1, kV3MemOrdinary));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(p[i], 0) << i;
    p[15] = 0xAA;  // the whole rounded block is usable (ASan checks this)
    v3Free(p);

    EXPECT_EQ(v3Alloc(0, kV3MemOrdinary), nullptr);
    EXPECT_EQ(v3Alloc(0x100000000ull, kV3MemOrdinary), nullptr);
    // The largest sizes round up to 2^32: the block is refused or holds the
    // whole size, never a tiny one where a 32-bit size_t wraps the rounding.
    for (uint64_t size : {0xFFFFFFF1ull, 0xFFFFFFFFull}) {
        void* big = v3Alloc(size, kV3MemOrdinary);
        if (big != nullptr) {
            EXPECT_GE(malloc_usable_size(big), size);
        }
        v3Free(big);
    }
    EXPECT_EQ(v3Alloc(16, kV3MemSecure), nullptr);
    EXPECT_EQ(v3Alloc(16, 7), nullptr);
    v3Free(nullptr);
}

TEST(MemoryTest, ReallocKeepsContentAndHandlesClasses) {
    char* p = static_cast<char*>(v3Alloc(10, kV3MemOrdinary));
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "0123456789", 10);
    char* q = static_cast<char*>(v3Realloc(p, 33, kV3MemOrdinary));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(std::string(q, 10), "0123456789");
    q[47] = 'x';  // rounded up to 48

    testing::internal::CaptureStdout();
    EXPECT_EQ(v3Realloc(q, 64, kV3MemSecure), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Secure memory requested, but not available.\n");
    // A refused resize leaves the block alive and unchanged.
    EXPECT_EQ(std::string(q, 10), "0123456789");
    EXPECT_EQ(v3Realloc(q, 0x100000000ull, kV3MemOrdinary), nullptr);
    EXPECT_EQ(q[0], '0');
    // A size that rounds up to 2^32 either resizes whole or leaves the block
    // alive (a wrapped size of 0 would free it, and the last free below
    // would free it twice).
    if (char* big = static_cast<char*>(v3Realloc(q, 0xFFFFFFFFull, kV3MemOrdinary))) {
        EXPECT_GE(malloc_usable_size(big), 0xFFFFFFFFull);
        q = static_cast<char*>(v3Realloc(big, 48, kV3MemOrdinary));
        ASSERT_NE(q, nullptr);
    }
    EXPECT_EQ(q[0], '0');

    EXPECT_EQ(v3Realloc(q, 0, kV3MemOrdinary), nullptr);  // frees
    char* fresh = static_cast<char*>(v3Realloc(nullptr, 5, kV3MemOrdinary));
    ASSERT_NE(fresh, nullptr);
    v3Free(fresh);
}

TEST(MemoryTest, CopyFillCompareRefuseBadArguments) {
    char a[8] = "abcdefg";
    char b[8] = {};
    EXPECT_EQ(v3MemCopy(b, a, 8), 0);
    EXPECT_EQ(v3MemCompare(a, b, 8), 0);
    EXPECT_EQ(v3MemCopy(a + 1, a, 6), 0);  // overlapping copy
    EXPECT_STREQ(a, "aabcdef");
    EXPECT_EQ(v3MemCopy(nullptr, a, 1), -1);
    EXPECT_EQ(v3MemCopy(b, nullptr, 1), -1);
    EXPECT_EQ(v3MemCopy(b, a, 0x100000000ull), -1);
    EXPECT_EQ(v3MemFill(b, 'z', 3), 0);
    EXPECT_EQ(std::string(b, 3), "zzz");
    EXPECT_EQ(v3MemFill(b, 'z', 0x100000000ull), -1);
    EXPECT_EQ(v3MemFill(nullptr, 'z', 1), -1);

    const unsigned char hi[1] = {0xF0};
    const unsigned char lo[1] = {0x10};
    EXPECT_GT(v3MemCompare(hi, lo, 1), 0);
    EXPECT_LT(v3MemCompare(lo, hi, 1), 0);
    EXPECT_EQ(v3MemCompare(nullptr, nullptr, 4), 0);
    EXPECT_EQ(v3MemCompare(a, nullptr, 4), -1);
}

TEST(MemoryTest, PointerAdvanceDetectsWrap) {
    char buf[4];
    EXPECT_EQ(v3PtrAdvance(buf, 3), buf + 3);
    EXPECT_EQ(v3PtrAdvance(nullptr, 3), nullptr);
    void* high = reinterpret_cast<void*>(UINTPTR_MAX - 4);
    EXPECT_EQ(v3PtrAdvance(high, 4), reinterpret_cast<void*>(UINTPTR_MAX));
    EXPECT_EQ(v3PtrAdvance(high, 5), nullptr);
    EXPECT_EQ(v3PtrAdvance(buf, UINT64_MAX), nullptr);
}

TEST(MemoryTest, TotalMemoryIsAPlausible32BitFigure) {
    uint64_t total = v3TotalMemory();
    EXPECT_GE(total, 16ull * 1024 * 1024);
    EXPECT_LE(total, 0xFFFFFFFFull);
}

}  // namespace
