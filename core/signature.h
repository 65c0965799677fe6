// Public key records, signature blocks and the opening of a signed message.
// All numbers in both records are big-endian; the public exponent is not
// stored, it is 17 for every key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include <openssl/bn.h>

struct BignumFree {
    void operator()(BIGNUM* b) const { BN_free(b); }
};
using Bignum = std::unique_ptr<BIGNUM, BignumFree>;

inline constexpr uint32_t kPublicExponent = 17;
inline constexpr uint32_t kMinKeyBits = 512;
// With exponent 17 and only the last 42 bytes (336 bits) of the opened
// message examined, a key above about 5,700 bits (17 x 336) lets anyone forge
// a signature: the 17th root modulo 2^336 of the wanted tail, raised to the
// 17th power, stays below such a modulus. Larger keys are refused.
inline constexpr uint32_t kMaxKeyBits = 4096;

// Public key record: 48 bytes of header, then the modulus (bits/8 bytes).
inline constexpr size_t kKeyOffType = 0;       // u16, 5 for a public key
inline constexpr size_t kKeyOffReserved = 2;   // u16, must be 0
inline constexpr size_t kKeyOffBits = 4;       // u32
inline constexpr size_t kKeyOffCreated = 8;    // i64 seconds since 2000
inline constexpr size_t kKeyOffId = 16;        // u64
inline constexpr size_t kKeyOffExpiry = 24;    // i64 seconds since 2000
inline constexpr size_t kKeyOffName = 32;      // 16 bytes, zero-padded
inline constexpr size_t kKeyOffModulus = 48;
inline constexpr size_t kKeyNameSize = 16;
inline constexpr uint16_t kKeyTypePublic = 5;

// Signature block: 34 bytes of header, then the value (bits/8 bytes).
inline constexpr size_t kSigOffType = 0;           // u16, 80
inline constexpr size_t kSigOffReserved = 2;       // u16, must be 0
inline constexpr size_t kSigOffBits = 4;           // u32
inline constexpr size_t kSigOffKeyCreated = 8;     // i64
inline constexpr size_t kSigOffKeyId = 16;         // u64
inline constexpr size_t kSigOffSigScheme = 32;     // after 8 unexamined bytes
inline constexpr size_t kSigOffDigestScheme = 33;
inline constexpr size_t kSigOffValue = 34;
inline constexpr uint16_t kSigBlockType = 80;

// The tail of the opened message, counted from its end.
inline constexpr size_t kSignedDigestSize = 32;
inline constexpr size_t kSignedTailSize = 42;  // time 8, schemes 2, digest 32

struct PublicKey {
    uint32_t bits = 0;
    int64_t created = 0;
    uint64_t identifier = 0;
    int64_t expiry = 0;
    char name[kKeyNameSize + 1] = {};
    Bignum modulus;
};

struct SignatureBlock {
    uint32_t bits = 0;
    int64_t key_created = 0;
    uint64_t key_identifier = 0;
    uint8_t signature_scheme = 0;
    uint8_t digest_scheme = 0;
    Bignum value;
};

struct SignedMessage {
    uint8_t digest[kSignedDigestSize] = {};
    int64_t signing_time = 0;
    uint8_t signature_scheme = 0;
    uint8_t digest_scheme = 0;
};

// 0; -1 no record, or shorter than 48 + bits/8 bytes; -3 a type other than 5,
// a non-zero reserved field, or a size outside 512..4096 bits or not in whole
// bytes; -2 the modulus cannot be read or lacks its top bit.
int LoadPublicKey(PublicKey* key, const uint8_t* record, uint64_t length);

// 0; -3 a wrong type, reserved field, size or scheme byte; -1 no block, or
// shorter than 34 + bits/8 bytes; -2 the value cannot be read.
int DecodeSignatureBlock(SignatureBlock* block, const uint8_t* data, uint64_t length);

// Opens the signature with the key into *out. 0; -3 when the key does not
// match the signature (size, creation time, identifier), the value is not
// below the modulus, or the signing time or a scheme byte is not accepted;
// -2 when a number cannot be computed.
int OpenSignedMessage(SignedMessage* out, const SignatureBlock& sig, const PublicKey& key);
