// Core bundles: VerifyCoreBundle and UnzipCore on a file in a scratch
// directory, with a small output limit.
//
// The first input byte picks one of two modes:
//  - even: the rest of the input is the bundle file as it stands. Nothing
//    the fuzzer makes carries a valid signature, so this mode drives the
//    header, length and signature-block checks.
//  - odd: the harness builds the bundle around the fuzzer's bytes and signs
//    it with the testbed's demo key (when the build embeds that key), so the
//    verifier's acceptance path and the decompression of arbitrary streams
//    are reached. Parameters (8 bytes): [0] damage done after signing,
//    [1] signing time, [2] scheme choice (low 2 bits) and output limit,
//    [3] [4] scheme bytes, [5..7] where and how much to damage; the rest is
//    the compressed core.
//
// Checks: a bundle whose signed bytes were changed after signing, or whose
// signing time or scheme bytes are not the accepted ones, is refused; an
// undamaged one is accepted. UnzipCore unpacks exactly what libbz2 makes of
// the bytes behind the header, within the limit, and refuses everything
// else; a refused bundle leaves the old core untouched when verification
// fails and an empty core file when decompression fails. Nothing but the
// bundle and the core file is ever written.
#include <bzlib.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/fuzz_check.h"
#include "common/scratch_dir.h"
#include "core/public_key_record.h"
#include "core/unzip_core.h"
#include "support/byte_order.h"
#include "core/verify_core_bundle.h"
#include "log/log.h"

namespace {

constexpr const char* kBundleName = "Core_78.qrv";
constexpr const char* kCoreName = "QrvCore_78.exe";
constexpr const char* kOldCore = "the previous core";
constexpr size_t kParams = 8;

void PutBE(std::string& s, size_t at, uint64_t v, size_t n) {
    for (size_t i = 0; i < n; ++i) s[at + i] = static_cast<char>(v >> (8 * (n - 1 - i)));
}

uint64_t GetBE(const uint8_t* p, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}

std::string ReadAll(const std::string& path, bool* exists) {
    std::ifstream in(path, std::ios::binary);
    *exists = in.good();
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The private half of the embedded key, when the build embeds the demo key.
struct Signer {
    bool usable = false;
    uint32_t bits = 0;
    int64_t created = 0;
    int64_t expiry = 0;
    uint64_t identifier = 0;
    BIGNUM* n = nullptr;
    BIGNUM* d = nullptr;
    BN_CTX* ctx = nullptr;

    Signer() {
        const uint8_t* rec = kQrvPublicKeyRecord;
        bits = static_cast<uint32_t>(GetBE(rec + 4, 4));
        created = static_cast<int64_t>(GetBE(rec + 8, 8));
        identifier = GetBE(rec + 16, 8);
        expiry = static_cast<int64_t>(GetBE(rec + 24, 8));
        BIO* bio = BIO_new_file(QRV_SOURCE_DIR "/testbed/keys/demo_key.pem", "r");
        if (bio == nullptr) return;
        EVP_PKEY* pkey = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        if (pkey == nullptr) return;
        EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_RSA_N, &n);
        EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_RSA_D, &d);
        EVP_PKEY_free(pkey);
        ctx = BN_CTX_new();
        BIGNUM* embedded = BN_bin2bn(rec + 48, static_cast<int>(bits / 8), nullptr);
        usable = n != nullptr && d != nullptr && ctx != nullptr && embedded != nullptr &&
                 BN_cmp(n, embedded) == 0;
        BN_free(embedded);
        if (!usable) {
            std::fprintf(stderr, "core_bundle_fuzz: the build does not embed the demo key; "
                                 "signed bundles are not fuzzed\n");
        }
    }

    // The signature value, bits/8 bytes, over the message tail.
    std::string Sign(int64_t signing_time, uint8_t sig_scheme, uint8_t digest_scheme,
                     const uint8_t digest[32]) const {
        const size_t size = (bits - 8) / 8;
        std::string m(size, '\xFF');
        m[0] = '\x01';
        std::string tail(42, '\0');
        PutBE(tail, 0, static_cast<uint64_t>(signing_time), 8);
        tail[8] = static_cast<char>(sig_scheme);
        tail[9] = static_cast<char>(digest_scheme);
        std::memcpy(tail.data() + 10, digest, 32);
        m.replace(size - 42, 42, tail);
        BIGNUM* mb = BN_bin2bn(reinterpret_cast<const uint8_t*>(m.data()), static_cast<int>(size), nullptr);
        BIGNUM* v = BN_new();
        FUZZ_CHECK(mb != nullptr && v != nullptr && BN_mod_exp(v, mb, d, n, ctx) == 1);
        std::string out(bits / 8, '\0');
        FUZZ_CHECK(BN_bn2binpad(v, reinterpret_cast<uint8_t*>(out.data()), static_cast<int>(out.size())) ==
                   static_cast<int>(out.size()));
        BN_free(mb);
        BN_free(v);
        return out;
    }
};

const Signer& TheSigner() {
    static const Signer signer;
    return signer;
}

void Digest(const std::string& data, uint8_t out[32]) {
    unsigned len = 0;
    FUZZ_CHECK(EVP_Digest(data.data(), data.size(), out, &len, EVP_md5(), nullptr) == 1);
    uint8_t sha[20];
    FUZZ_CHECK(EVP_Digest(data.data(), data.size(), sha, &len, EVP_sha1(), nullptr) == 1);
    std::memcpy(out + 16, sha, 16);
}

bool KnownSigScheme(uint8_t b) { return b == 5 || b == 6 || b == 9 || b == 10 || b == 15 || b == 255; }
bool KnownDigestScheme(uint8_t b) { return b == 51 || b == 204; }

// What libbz2 makes of `in` (everything behind the header, as UnzipCore
// feeds it), with room for one byte more than the limit. True when the
// stream ended within the limit.
bool Reference(const std::string& in, uint64_t limit, std::string* out) {
    bz_stream s{};
    FUZZ_CHECK(BZ2_bzDecompressInit(&s, 0, 0) == BZ_OK);
    out->assign(limit + 1, '\0');
    s.next_in = const_cast<char*>(in.data());
    s.avail_in = static_cast<unsigned>(in.size());
    s.next_out = out->data();
    s.avail_out = static_cast<unsigned>(out->size());
    int rc;
    do {
        rc = BZ2_bzDecompress(&s);
    } while (rc == BZ_OK && s.avail_in > 0 && s.avail_out > 0);
    out->resize(out->size() - s.avail_out);
    BZ2_bzDecompressEnd(&s);
    return rc == BZ_STREAM_END && out->size() <= limit;
}

enum Damage : uint8_t { kNone, kFlipData, kDataLength, kSigLength, kTruncate, kMagic, kDamageKinds };

struct Built {
    std::string file;
    bool must_verify = false;
    bool must_refuse = false;
};

// Signed mode: the bundle around `stream`, then the damage.
Built BuildSigned(const uint8_t* params, const std::string& stream) {
    const Signer& signer = TheSigner();
    const Damage damage = static_cast<Damage>(params[0] % kDamageKinds);
    const uint32_t damage_arg = static_cast<uint32_t>(GetBE(params + 5, 3));

    int64_t signing_time = signer.created + static_cast<int64_t>(params[1]) * 86400;
    if (params[1] >= 250) signing_time = signer.expiry + (params[1] - 252);  // at and past the end
    const bool time_ok = signing_time >= signer.created && signing_time <= signer.expiry;

    uint8_t sig_scheme = 5, digest_scheme = 204;
    uint8_t block_sig = 5, block_digest = 204;
    switch (params[2] % 4) {
    case 1: sig_scheme = params[3]; break;
    case 2: digest_scheme = params[3]; break;
    case 3: block_sig = params[3]; block_digest = params[4]; break;
    default: break;
    }
    const bool schemes_ok = sig_scheme == 5 && digest_scheme == 204;
    const bool block_ok = KnownSigScheme(block_sig) && KnownDigestScheme(block_digest);

    uint8_t digest[32];
    Digest(stream, digest);
    std::string block(34, '\0');
    PutBE(block, 0, 80, 2);
    PutBE(block, 4, signer.bits, 4);
    PutBE(block, 8, static_cast<uint64_t>(signer.created), 8);
    PutBE(block, 16, signer.identifier, 8);
    block[32] = static_cast<char>(block_sig);
    block[33] = static_cast<char>(block_digest);
    block += signer.Sign(signing_time, sig_scheme, digest_scheme, digest);

    std::string header(kBundleHeaderSize, '\0');
    PutBE(header, kBundleOffMagic, kBundleMagic, 4);
    PutBE(header, kBundleOffDataLength, stream.size(), 8);
    PutBE(header, kBundleOffSigLength, block.size(), 8);
    Built b;
    b.file = header + stream + block;

    switch (damage) {
    case kFlipData:
        if (!stream.empty()) {
            b.file[kBundleHeaderSize + damage_arg % stream.size()] ^= static_cast<char>(1u << (damage_arg >> 21));
            b.must_refuse = true;
        }
        break;
    case kDataLength: PutBE(b.file, kBundleOffDataLength, stream.size() + (damage_arg % 64) - 32, 8); break;
    case kSigLength: PutBE(b.file, kBundleOffSigLength, damage_arg, 8); break;
    case kTruncate: b.file.resize(damage_arg % (b.file.size() + 1)); break;
    case kMagic: b.file[damage_arg % 4] ^= static_cast<char>(1 + (damage_arg >> 8) % 255); b.must_refuse = true; break;
    default: break;
    }
    if (!time_ok || !schemes_ok) b.must_refuse = true;
    b.must_verify = damage == kNone && time_ok && schemes_ok && block_ok;
    if (damage == kDataLength && damage_arg % 64 == 32) b.must_verify = time_ok && schemes_ok && block_ok;
    return b;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetLogVerbosity(3);  // every refusal message is formatted, none printed
    (void)TheSigner();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool signed_mode = (data[0] & 1) != 0;
    Built b;
    uint64_t limit = 64 * 1024;
    if (!signed_mode) {
        b.file.assign(reinterpret_cast<const char*>(data + 1), size - 1);
    } else {
        if (size < 1 + kParams || !TheSigner().usable) return 0;
        const uint8_t* params = data + 1;
        limit = 1 + static_cast<uint64_t>(params[2] >> 2) * 2048;  // 1 .. 129025 bytes
        b = BuildSigned(params, std::string(reinterpret_cast<const char*>(data + 1 + kParams),
                                            size - 1 - kParams));
    }

    qrvfuzz::ClearScratch();
    const std::string bundle = qrvfuzz::WriteScratchFile(kBundleName, b.file.data(), b.file.size());
    const std::string core = qrvfuzz::WriteScratchFile(kCoreName, kOldCore, std::strlen(kOldCore));

    const int verified = VerifyCoreBundle(bundle.c_str());
    FUZZ_CHECK(verified == 0 || verified == -1);
    if (b.must_verify) FUZZ_CHECK(verified == 0);
    if (b.must_refuse) FUZZ_CHECK(verified == -1);

    const int unzipped = UnzipCore(bundle.c_str(), core.c_str(), limit);
    FUZZ_CHECK(unzipped == 0 || unzipped == -1);
    bool exists = false;
    const std::string written = ReadAll(core, &exists);
    FUZZ_CHECK(exists);
    if (verified != 0) {
        FUZZ_CHECK(unzipped == -1);
        FUZZ_CHECK(written == kOldCore);
    } else {
        // UnzipCore decompresses exactly the L signed bytes after the header.
        uint64_t length = 0;
        ReadBE64(&length, b.file.data() + kBundleOffDataLength);
        std::string want;
        const bool ends = Reference(b.file.substr(kBundleHeaderSize, length), limit, &want);
        FUZZ_CHECK(unzipped == (ends ? 0 : -1));
        FUZZ_CHECK(written == (ends ? want : std::string()));
    }
    const std::vector<std::string> entries = qrvfuzz::ScratchEntries();
    FUZZ_CHECK(entries == (std::vector<std::string>{kBundleName, kCoreName}));
    return 0;
}
