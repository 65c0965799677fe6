#include "support/platform_codes.h"

#include <gtest/gtest.h>

namespace {

uint32_t Signature(uint32_t family, uint32_t extended_family = 0) {
    return (extended_family << 20) | (family << 8) | 0x3;
}
constexpr uint32_t kMmx = 1u << 23;

TEST(CpuType, VendorsBeforeFamilies) {
    EXPECT_EQ(CpuTypeFromIdentity("CyrixInstead", Signature(6), kMmx), 1000u);
    EXPECT_EQ(CpuTypeFromIdentity("AuthenticAMD", Signature(15, 8), 0), 2000u);
    EXPECT_EQ(CpuTypeFromIdentity("GenuineIntelX", Signature(6), kMmx), 687u);
    EXPECT_EQ(CpuTypeFromIdentity("CentaurHauls", Signature(6), kMmx), 0u);
    EXPECT_EQ(CpuTypeFromIdentity("genuineintel", Signature(6), kMmx), 0u);
}

TEST(CpuType, IntelFamiliesWithAndWithoutMmx) {
    const char* intel = "GenuineIntel";
    EXPECT_EQ(CpuTypeFromIdentity(intel, Signature(0), 0), 86u);
    EXPECT_EQ(CpuTypeFromIdentity(intel, Signature(1), kMmx), 186u);
    EXPECT_EQ(CpuTypeFromIdentity(intel, Signature(4), kMmx), 486u);
    EXPECT_EQ(CpuTypeFromIdentity(intel, Signature(5), 0), 586u);
    EXPECT_EQ(CpuTypeFromIdentity(intel, Signature(5), kMmx), 587u);
    EXPECT_EQ(CpuTypeFromIdentity(intel, Signature(6), 0), 686u);
    EXPECT_EQ(CpuTypeFromIdentity(intel, Signature(6), kMmx | 0x1), 687u);
    EXPECT_EQ(CpuTypeFromIdentity(intel, Signature(7), kMmx), 0u);
    EXPECT_EQ(CpuTypeFromIdentity(intel, Signature(8), 0), 85u);
    EXPECT_EQ(CpuTypeFromIdentity(intel, Signature(15), kMmx), 87u);
    // Only the base family counts: an extended family does not move it.
    EXPECT_EQ(CpuTypeFromIdentity(intel, Signature(15, 0x0C), kMmx), 87u);
    EXPECT_EQ(CpuTypeFromIdentity(intel, Signature(6, 0xFF), 0), 686u);
}

TEST(OsType, NoCodeExistsForThisSystem) { EXPECT_EQ(GetOsType(), 0u); }

#if defined(__x86_64__)
TEST(CpuType, ThisProcessorHasAnIdentity) {
    // Every 64-bit x86 has the instruction; its vendor decides the rest.
    const uint32_t code = GetCpuType();
    EXPECT_TRUE(code == 0 || code == 1000 || code == 2000 || code == 85 || code == 87 ||
                code == 686 || code == 687 || code == 586 || code == 587)
        << code;
}
#endif

}  // namespace
