#include "support/platform_codes.h"

#include <cstring>

#include "support/platform/cpu_info.h"

namespace {

constexpr uint32_t kMmxBit = 1u << 23;

}  // namespace

uint32_t CpuTypeFromIdentity(const char* vendor, uint32_t signature, uint32_t features) {
    if (memcmp(vendor, "CyrixInstead", 12) == 0) return 1000;
    if (memcmp(vendor, "AuthenticAMD", 12) == 0) return 2000;
    if (memcmp(vendor, "GenuineIntel", 12) != 0) return 0;
    // The base family alone: later processors report 15 and more in the
    // extended family, which this code never had room for.
    const uint32_t family = (signature >> 8) & 0xF;
    const bool mmx = (features & kMmxBit) != 0;
    if (family <= 4) return 86 + 100 * family;
    if (family == 5) return mmx ? 587 : 586;
    if (family == 6) return mmx ? 687 : 686;
    if (family >= 8) return mmx ? 87 : 85;
    return 0;
}

uint32_t GetCpuType() {
    CpuIdRegisters leaf0{};
    CpuIdRegisters leaf1{};
    if (!PlatformCpuId(0, &leaf0)) return 0;
    char vendor[12];
    memcpy(vendor, &leaf0.ebx, 4);
    memcpy(vendor + 4, &leaf0.edx, 4);
    memcpy(vendor + 8, &leaf0.ecx, 4);
    // A processor without leaf 1 has no signature; its family reads as 0.
    PlatformCpuId(1, &leaf1);
    return CpuTypeFromIdentity(vendor, leaf1.eax, leaf1.edx);
}

uint32_t GetOsType() { return 0; }
