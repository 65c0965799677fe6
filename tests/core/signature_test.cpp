#include "core/signature.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/bundle_digest.h"
#include "core/public_key_record.h"

namespace {

std::vector<uint8_t> EmbeddedRecord() {
    return std::vector<uint8_t>(kQrvPublicKeyRecord, kQrvPublicKeyRecord + kQrvPublicKeyRecordSize);
}

void PutBE32(std::vector<uint8_t>* v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) (*v)[at + i] = static_cast<uint8_t>(x >> (24 - 8 * i));
}

TEST(PublicKey, EmbeddedRecordLoads) {
    PublicKey key;
    ASSERT_EQ(0, LoadPublicKey(&key, kQrvPublicKeyRecord, kQrvPublicKeyRecordSize));
    EXPECT_GE(key.bits, 512u);
    EXPECT_EQ(48 + key.bits / 8, kQrvPublicKeyRecordSize);
    EXPECT_EQ(31536000, key.expiry - key.created);
}

TEST(PublicKey, MalformedRecordsAreRefused) {
    auto with = [](size_t at, uint8_t value) {
        std::vector<uint8_t> r = EmbeddedRecord();
        r[at] = value;
        return r;
    };
    auto with_bits = [](uint32_t bits) {
        std::vector<uint8_t> r = EmbeddedRecord();
        r.resize(48 + bits / 8 + 1, 0xff);
        PutBE32(&r, 4, bits);
        return r;
    };
    const struct {
        const char* what;
        std::vector<uint8_t> record;
        int rc;
    } cases[] = {
        {"type 4", with(1, 4), -3},
        {"reserved field set", with(3, 1), -3},
        {"504 bits", with_bits(504), -3},
        {"4104 bits", with_bits(4104), -3},
        {"1020 bits", with_bits(1020), -3},
        {"modulus without its top bit", with(48, 0x7f), -2},
    };
    for (const auto& c : cases) {
        PublicKey key;
        EXPECT_EQ(c.rc, LoadPublicKey(&key, c.record.data(), c.record.size())) << c.what;
    }
    PublicKey key;
    EXPECT_EQ(-1, LoadPublicKey(&key, kQrvPublicKeyRecord, kQrvPublicKeyRecordSize - 1));
    EXPECT_EQ(-1, LoadPublicKey(&key, kQrvPublicKeyRecord, 47));
}

std::vector<uint8_t> MakeBlock() {
    std::vector<uint8_t> b(34 + 128, 0);
    b[1] = 80;
    PutBE32(&b, 4, 1024);
    for (int i = 0; i < 8; ++i) b[8 + i] = static_cast<uint8_t>(0x81 + i);  // creation time
    b[23] = 9;                                                              // identifier
    b[32] = 5;
    b[33] = 204;
    b[34] = 0x12;
    return b;
}

TEST(SignatureBlock, FieldsAreReadBigEndian) {
    const std::vector<uint8_t> b = MakeBlock();
    SignatureBlock block;
    ASSERT_EQ(0, DecodeSignatureBlock(&block, b.data(), b.size()));
    EXPECT_EQ(1024u, block.bits);
    EXPECT_EQ(static_cast<int64_t>(0x8182838485868788ull), block.key_created);
    EXPECT_EQ(9u, block.key_identifier);
    EXPECT_EQ(5, block.signature_scheme);
    EXPECT_EQ(204, block.digest_scheme);
    EXPECT_EQ(1021, BN_num_bits(block.value.get()));
}

TEST(SignatureBlock, MalformedBlocksAreRefused) {
    const struct {
        const char* what;
        size_t at;
        uint8_t value;
        int rc;
    } cases[] = {
        {"type 81", 1, 81, -3},   {"reserved field set", 2, 1, -3},
        {"scheme 7", 32, 7, -3},  {"digest scheme 52", 33, 52, -3},
        {"256 bits", 6, 0x01, -3},      {"1025 bits", 7, 0x01, -3},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> b = MakeBlock();
        b[c.at] = c.value;
        SignatureBlock block;
        EXPECT_EQ(c.rc, DecodeSignatureBlock(&block, b.data(), b.size())) << c.what;
    }
    const std::vector<uint8_t> b = MakeBlock();
    SignatureBlock block;
    EXPECT_EQ(-1, DecodeSignatureBlock(&block, b.data(), b.size() - 1));
}

TEST(SignedMessage, KeyOfAnotherSizeDoesNotOpenTheSignature) {
    PublicKey key;
    ASSERT_EQ(0, LoadPublicKey(&key, kQrvPublicKeyRecord, kQrvPublicKeyRecordSize));
    std::vector<uint8_t> b = MakeBlock();
    for (int i = 0; i < 8; ++i) b[8 + i] = kQrvPublicKeyRecord[8 + i];
    for (int i = 0; i < 8; ++i) b[16 + i] = kQrvPublicKeyRecord[16 + i];
    PutBE32(&b, 4, key.bits - 8);
    SignatureBlock block;
    ASSERT_EQ(0, DecodeSignatureBlock(&block, b.data(), b.size()));
    SignedMessage message;
    EXPECT_EQ(-3, OpenSignedMessage(&message, block, key));
}

std::string Hex(const uint8_t* p, size_t n) {
    std::string s;
    char two[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02x", p[i]);
        s += two;
    }
    return s;
}

TEST(BundleDigest, IsMd5ThenTheFirstHalfOfSha1InAnyPieces) {
    uint8_t out[kBundleDigestSize];
    BundleDigest d;
    ASSERT_EQ(0, d.Start());
    ASSERT_EQ(0, d.Add("a", 1));
    ASSERT_EQ(0, d.Add("bc", 2));
    ASSERT_EQ(0, d.Finish(out));
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72" "a9993e364706816aba3e25717850c26c",
              Hex(out, sizeof out));

    ASSERT_EQ(0, d.Start());
    ASSERT_EQ(0, d.Finish(out));
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e" "da39a3ee5e6b4b0d3255bfef95601890",
              Hex(out, sizeof out));
}

TEST(BundleDigest, AddingOrFinishingOutsideAStartedDigestFails) {
    uint8_t out[kBundleDigestSize];
    BundleDigest d;
    EXPECT_EQ(-1, d.Add("x", 1));
    EXPECT_EQ(-1, d.Finish(out));
    ASSERT_EQ(0, d.Start());
    EXPECT_EQ(kDigestStarted, d.state());
    ASSERT_EQ(0, d.Add("x", 1));
    EXPECT_EQ(kDigestFed, d.state());
    ASSERT_EQ(0, d.Finish(out));
    EXPECT_EQ(-1, d.Add("x", 1));
    EXPECT_EQ(-1, d.Finish(out));
}

}  // namespace
