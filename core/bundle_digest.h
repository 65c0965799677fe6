// The digest of a core bundle's compressed data: MD5 (16 bytes) followed by
// the first 16 bytes of SHA-1, both computed over the same bytes in one pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

inline constexpr size_t kBundleDigestSize = 32;

// States of the object's word.
inline constexpr uint32_t kDigestStarted = 42;
inline constexpr uint32_t kDigestFed = 43;

struct BundleDigestContexts;

// Start, then Add any number of times, then Finish. Add and Finish fail (-1)
// unless the object was started and not yet finished; a failure leaves the
// object unusable until the next Start.
class BundleDigest {
public:
    BundleDigest();
    ~BundleDigest();
    BundleDigest(const BundleDigest&) = delete;
    BundleDigest& operator=(const BundleDigest&) = delete;

    int Start();
    int Add(const void* data, size_t n);
    int Finish(uint8_t out[kBundleDigestSize]);
    uint32_t state() const { return state_; }

private:
    uint32_t state_ = 0;
    std::unique_ptr<BundleDigestContexts> ctx_;
};
