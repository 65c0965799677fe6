#include "support/byte_order.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(ByteOrder, WritesMostSignificantFirst) {
    uint32_t v32 = 324;
    unsigned char out[8] = {};
    WriteBE32(out, &v32);
    const unsigned char want32[4] = {0x00, 0x00, 0x01, 0x44};
    EXPECT_EQ(std::memcmp(out, want32, 4), 0);

    uint16_t v16 = 0x1234;
    WriteBE16(out, &v16);
    EXPECT_EQ(out[0], 0x12);
    EXPECT_EQ(out[1], 0x34);

    uint64_t v64 = 0x0102030405060708ULL;
    WriteBE64(out, &v64);
    const unsigned char want64[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(std::memcmp(out, want64, 8), 0);
}

TEST(ByteOrder, ReadsMostSignificantFirst) {
    const unsigned char in64[8] = {0, 0, 0, 1, 0, 0, 0, 2};
    uint64_t v64 = 0;
    ReadBE64(&v64, in64);
    EXPECT_EQ(v64, 4294967298ULL);

    const unsigned char in32[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    uint32_t v32 = 0;
    ReadBE32(&v32, in32);
    EXPECT_EQ(v32, 0xDEADBEEFu);

    const unsigned char in16[2] = {0xAB, 0xCD};
    uint16_t v16 = 0;
    ReadBE16(&v16, in16);
    EXPECT_EQ(v16, 0xABCD);
}

// Packet code converts record fields in place, and fields inside a packed
// record need not be aligned.
TEST(ByteOrder, InPlaceOnUnalignedFields) {
    alignas(8) unsigned char rec[16] = {};
    unsigned char* f = rec + 1;

    uint64_t v64 = 0x1122334455667788ULL;
    std::memcpy(f, &v64, 8);
    WriteBE64(f, f);
    EXPECT_EQ(f[0], 0x11);
    EXPECT_EQ(f[7], 0x88);
    ReadBE64(f, f);
    uint64_t back64;
    std::memcpy(&back64, f, 8);
    EXPECT_EQ(back64, v64);

    uint32_t v32 = 0xA1B2C3D4u;
    std::memcpy(f, &v32, 4);
    WriteBE32(f, f);
    EXPECT_EQ(f[0], 0xA1);
    EXPECT_EQ(f[3], 0xD4);
    ReadBE32(f, f);
    uint32_t back32;
    std::memcpy(&back32, f, 4);
    EXPECT_EQ(back32, v32);

    uint16_t v16 = 0x0102;
    std::memcpy(f, &v16, 2);
    WriteBE16(f, f);
    EXPECT_EQ(f[0], 0x01);
    EXPECT_EQ(f[1], 0x02);
    ReadBE16(f, f);
    uint16_t back16;
    std::memcpy(&back16, f, 2);
    EXPECT_EQ(back16, v16);
}

TEST(ByteOrder, NullPointersLeaveTheOtherSideAlone) {
    uint64_t v = 0x5555555555555555ULL;
    ReadBE16(&v, nullptr);
    ReadBE32(&v, nullptr);
    ReadBE64(&v, nullptr);
    WriteBE16(nullptr, &v);
    WriteBE32(nullptr, &v);
    WriteBE64(nullptr, &v);
    WriteBE64(&v, nullptr);
    EXPECT_EQ(v, 0x5555555555555555ULL);
}
