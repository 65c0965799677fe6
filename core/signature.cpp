#include "core/signature.h"

#include <cstring>

#include "support/byte_order.h"

namespace {

uint16_t Be16(const uint8_t* p) {
    uint16_t v = 0;
    ReadBE16(&v, p);
    return v;
}
uint32_t Be32(const uint8_t* p) {
    uint32_t v = 0;
    ReadBE32(&v, p);
    return v;
}
uint64_t Be64(const uint8_t* p) {
    uint64_t v = 0;
    ReadBE64(&v, p);
    return v;
}

// The signature scheme bytes a block may carry; 0 never goes with a public key.
bool KnownSignatureScheme(uint8_t b) {
    return b == 0 || b == 5 || b == 6 || b == 9 || b == 10 || b == 15 || b == 255;
}
bool KnownDigestScheme(uint8_t b) { return b == 51 || b == 204; }

struct BnCtxFree {
    void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};

}  // namespace

int LoadPublicKey(PublicKey* key, const uint8_t* record, uint64_t length) {
    if (key == nullptr || record == nullptr || length < kKeyOffModulus) return -1;
    const uint32_t bits = Be32(record + kKeyOffBits);
    if (Be16(record + kKeyOffType) != kKeyTypePublic || Be16(record + kKeyOffReserved) != 0 ||
        bits < kMinKeyBits || bits > kMaxKeyBits || bits % 8 != 0) {
        return -3;
    }
    if (length < kKeyOffModulus + bits / 8) return -1;

    Bignum modulus(BN_bin2bn(record + kKeyOffModulus, static_cast<int>(bits / 8), nullptr));
    if (!modulus || BN_num_bits(modulus.get()) != static_cast<int>(bits)) return -2;

    key->bits = bits;
    key->created = static_cast<int64_t>(Be64(record + kKeyOffCreated));
    key->identifier = Be64(record + kKeyOffId);
    key->expiry = static_cast<int64_t>(Be64(record + kKeyOffExpiry));
    std::memcpy(key->name, record + kKeyOffName, kKeyNameSize);
    key->name[kKeyNameSize] = '\0';
    key->modulus = std::move(modulus);
    return 0;
}

int DecodeSignatureBlock(SignatureBlock* block, const uint8_t* data, uint64_t length) {
    if (block == nullptr || data == nullptr || length < kSigOffValue) return -1;
    const uint32_t bits = Be32(data + kSigOffBits);
    const uint8_t sig_scheme = data[kSigOffSigScheme];
    const uint8_t digest_scheme = data[kSigOffDigestScheme];
    if (Be16(data + kSigOffType) != kSigBlockType || Be16(data + kSigOffReserved) != 0 ||
        bits < kMinKeyBits || bits % 8 != 0 || !KnownSignatureScheme(sig_scheme) ||
        !KnownDigestScheme(digest_scheme)) {
        return -3;
    }
    if (length < kSigOffValue + static_cast<uint64_t>(bits / 8)) return -1;

    Bignum value(BN_bin2bn(data + kSigOffValue, static_cast<int>(bits / 8), nullptr));
    if (!value) return -2;

    block->bits = bits;
    block->key_created = static_cast<int64_t>(Be64(data + kSigOffKeyCreated));
    block->key_identifier = Be64(data + kSigOffKeyId);
    block->signature_scheme = sig_scheme;
    block->digest_scheme = digest_scheme;
    block->value = std::move(value);
    return 0;
}

int OpenSignedMessage(SignedMessage* out, const SignatureBlock& sig, const PublicKey& key) {
    if (out == nullptr || !sig.value || !key.modulus) return -2;
    if (key.bits < kMinKeyBits || sig.signature_scheme == 0 ||
        !KnownSignatureScheme(sig.signature_scheme)) {
        return -3;
    }
    if (key.created != sig.key_created || key.identifier != sig.key_identifier ||
        key.bits != sig.bits) {
        return -3;
    }
    // A value at or above the modulus is no signature: reduced, it would open
    // like a smaller one, so one signature would have many spellings.
    if (BN_cmp(sig.value.get(), key.modulus.get()) >= 0) return -3;

    std::unique_ptr<BN_CTX, BnCtxFree> ctx(BN_CTX_new());
    Bignum exponent(BN_new());
    Bignum m(BN_new());
    if (!ctx || !exponent || !m || BN_set_word(exponent.get(), kPublicExponent) != 1 ||
        BN_mod_exp(m.get(), sig.value.get(), exponent.get(), key.modulus.get(), ctx.get()) != 1) {
        return -2;
    }

    // Only the low bits-8 bits carry the message, as (bits-8)/8 bytes.
    const int size = static_cast<int>((key.bits - 8) / 8);
    const int kept = static_cast<int>(key.bits - 8);
    if (BN_num_bits(m.get()) > kept && BN_mask_bits(m.get(), kept) != 1) return -2;
    auto bytes = std::make_unique<uint8_t[]>(static_cast<size_t>(size));
    if (BN_bn2binpad(m.get(), bytes.get(), size) != size) return -2;

    const uint8_t* tail = bytes.get() + size - kSignedTailSize;
    SignedMessage msg;
    msg.signing_time = static_cast<int64_t>(Be64(tail));
    msg.signature_scheme = tail[8];
    msg.digest_scheme = tail[9];
    std::memcpy(msg.digest, tail + 10, kSignedDigestSize);

    if (msg.signing_time < key.created || msg.signing_time > key.expiry ||
        !KnownSignatureScheme(msg.signature_scheme) || !KnownDigestScheme(msg.digest_scheme)) {
        return -3;
    }
    *out = msg;
    return 0;
}
