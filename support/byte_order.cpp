#include "support/byte_order.h"

#include <cstring>

namespace {

// Host order marker: read as a native 32-bit integer it equals 0x41424344
// only on a big-endian host. Tested on every call, so no start-up step is
// needed before packet code runs.
const unsigned char kHostOrderMarker[4] = {'A', 'B', 'C', 'D'};

bool HostIsBigEndian() {
    uint32_t v;
    std::memcpy(&v, kHostOrderMarker, sizeof v);
    return v == 0x41424344u;
}

// Copies n bytes from src to dst reversed, or unchanged on a big-endian
// host. Works through a local copy so that dst may equal src.
void ConvertBytes(void* dst, const void* src, size_t n) {
    unsigned char tmp[8];
    std::memcpy(tmp, src, n);
    unsigned char* out = static_cast<unsigned char*>(dst);
    if (HostIsBigEndian()) {
        std::memcpy(out, tmp, n);
        return;
    }
    for (size_t i = 0; i < n; ++i) out[i] = tmp[n - 1 - i];
}

}  // namespace

void ReadBE16(void* dst, const void* src) {
    if (!dst || !src) return;
    const unsigned char* in = static_cast<const unsigned char*>(src);
    uint16_t v = static_cast<uint16_t>((in[0] << 8) | in[1]);
    std::memcpy(dst, &v, sizeof v);
}

void WriteBE16(void* dst, const void* src) {
    if (!dst || !src) return;
    uint16_t v;
    std::memcpy(&v, src, sizeof v);
    unsigned char out[2] = {static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
    std::memcpy(dst, out, sizeof out);
}

void ReadBE32(void* dst, const void* src) {
    if (!dst || !src) return;
    ConvertBytes(dst, src, 4);
}

void WriteBE32(void* dst, const void* src) {
    if (!dst || !src) return;
    ConvertBytes(dst, src, 4);
}

void ReadBE64(void* dst, const void* src) {
    if (!dst || !src) return;
    ConvertBytes(dst, src, 8);
}

void WriteBE64(void* dst, const void* src) {
    if (!dst || !src) return;
    ConvertBytes(dst, src, 8);
}

uint32_t LoadLE32(const void* p) {
    const auto* in = static_cast<const unsigned char*>(p);
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
           static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
}

void StoreLE32(void* p, uint32_t v) {
    auto* out = static_cast<unsigned char*>(p);
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(v >> (8 * i));
}

uint64_t LoadLE64(const void* p) {
    const auto* in = static_cast<const unsigned char*>(p);
    return static_cast<uint64_t>(LoadLE32(in)) | static_cast<uint64_t>(LoadLE32(in + 4)) << 32;
}

void StoreLE64(void* p, uint64_t v) {
    auto* out = static_cast<unsigned char*>(p);
    StoreLE32(out, static_cast<uint32_t>(v));
    StoreLE32(out + 4, static_cast<uint32_t>(v >> 32));
}
