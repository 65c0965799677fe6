// Verification of a downloaded core bundle against the client's public key.
//
// Bundle layout (big-endian numbers):
//   0   magic 0xDEAF0FAD            4   12 reserved bytes, not examined
//   16  data length L (u64)         24  signature length S (u64)
//   32  480 reserved bytes          512 the bzip2 stream, L bytes
//   512 + L  the signature block, S bytes
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint32_t kBundleMagic = 0xDEAF0FAD;
inline constexpr size_t kBundleHeaderSize = 512;
inline constexpr size_t kBundleOffMagic = 0;
inline constexpr size_t kBundleOffDataLength = 16;
inline constexpr size_t kBundleOffSigLength = 24;

struct v3File;

// 0 when the bundle carries a valid signature of the client's key over its
// compressed data; -1 otherwise, after printing the reason at level 3.
int VerifyCoreBundle(const char* bundle_name);
// The same check on a bundle already open for reading, read from its start;
// the file stays open at some position. Whoever goes on to unpack the bundle
// verifies through this and unpacks from the same open file: a bundle
// renamed over the verified one in between is then never what is unpacked.
int VerifyCoreBundleFile(v3File* bundle);
