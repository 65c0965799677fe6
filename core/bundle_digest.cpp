#include "core/bundle_digest.h"

#include <cstring>

#include <openssl/evp.h>

namespace {
struct MdCtxFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;
}  // namespace

struct BundleDigestContexts {
    MdCtx md5{EVP_MD_CTX_new()};
    MdCtx sha1{EVP_MD_CTX_new()};
};

BundleDigest::BundleDigest() = default;
BundleDigest::~BundleDigest() = default;

int BundleDigest::Start() {
    state_ = 0;
    ctx_ = std::make_unique<BundleDigestContexts>();
    if (!ctx_->md5 || !ctx_->sha1) return -1;
    if (EVP_DigestInit_ex(ctx_->md5.get(), EVP_md5(), nullptr) != 1 ||
        EVP_DigestInit_ex(ctx_->sha1.get(), EVP_sha1(), nullptr) != 1) {
        return -1;
    }
    state_ = kDigestStarted;
    return 0;
}

int BundleDigest::Add(const void* data, size_t n) {
    if (state_ != kDigestStarted && state_ != kDigestFed) return -1;
    if (n > 0 && data == nullptr) return -1;
    if (EVP_DigestUpdate(ctx_->md5.get(), data, n) != 1 ||
        EVP_DigestUpdate(ctx_->sha1.get(), data, n) != 1) {
        state_ = 0;
        return -1;
    }
    state_ = kDigestFed;
    return 0;
}

int BundleDigest::Finish(uint8_t out[kBundleDigestSize]) {
    if (state_ != kDigestStarted && state_ != kDigestFed) return -1;
    state_ = 0;
    uint8_t md5[EVP_MAX_MD_SIZE];
    uint8_t sha1[EVP_MAX_MD_SIZE];
    unsigned md5_len = 0;
    unsigned sha1_len = 0;
    if (EVP_DigestFinal_ex(ctx_->md5.get(), md5, &md5_len) != 1 || md5_len != 16 ||
        EVP_DigestFinal_ex(ctx_->sha1.get(), sha1, &sha1_len) != 1 || sha1_len != 20) {
        return -1;
    }
    std::memcpy(out, md5, 16);
    std::memcpy(out + 16, sha1, 16);
    return 0;
}
