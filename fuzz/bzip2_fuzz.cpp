// bzip2 decompression through the codec object and its byte queue, with a
// small output limit, the input fed in pieces of arbitrary size and the
// queue read in arbitrary pieces in between.
//
// The reference is libbz2 driven directly over the whole input with room for
// one byte more than the limit. Checks: never more output than the limit;
// what comes out of an undamaged stream is always the start of the
// reference output; a success with
// the end of the stream reached means the reference finished with exactly
// that output; a stream the reference decodes within the limit is accepted
// whole when it is fed in one piece; an over-large stream is refused.
#include <fuzzer/FuzzedDataProvider.h>

#include <bzlib.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/fuzz_check.h"
#include "support/byte_queue.h"
#include "support/bzip2_codec.h"
#include "support/codec.h"

namespace {

enum class Outcome { kEnded, kBadData, kTruncated, kTooLarge };

// Decodes the first stream of `in` with at most limit + 1 output bytes.
Outcome Reference(const std::string& in, uint64_t limit, std::string* out) {
    bz_stream s{};
    FUZZ_CHECK(BZ2_bzDecompressInit(&s, 0, 0) == BZ_OK);
    out->assign(limit + 1, '\0');
    s.next_in = const_cast<char*>(in.data());
    s.avail_in = static_cast<unsigned>(in.size());
    s.next_out = out->data();
    s.avail_out = static_cast<unsigned>(out->size());
    Outcome outcome;
    for (;;) {
        const int rc = BZ2_bzDecompress(&s);
        if (rc == BZ_STREAM_END) {
            outcome = Outcome::kEnded;
            break;
        }
        if (rc != BZ_OK) {
            outcome = Outcome::kBadData;
            break;
        }
        if (s.avail_out == 0) {
            outcome = Outcome::kTooLarge;
            break;
        }
        if (s.avail_in == 0) {
            outcome = Outcome::kTruncated;
            break;
        }
    }
    out->resize(out->size() - s.avail_out);
    if (outcome == Outcome::kEnded && out->size() > limit) outcome = Outcome::kTooLarge;
    BZ2_bzDecompressEnd(&s);
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    const uint64_t limit = fdp.ConsumeIntegralInRange<uint64_t>(1, 256 * 1024);
    const bool one_piece = fdp.ConsumeBool();
    const uint64_t seed_pieces = fdp.ConsumeIntegral<uint64_t>();
    const std::string in = fdp.ConsumeRemainingBytesAsString();

    std::string want;
    const Outcome outcome = Reference(in, limit, &want);

    v3Buffer q{};
    v3Codec codec{};
    FUZZ_CHECK(v3DecompressInit(&q, &codec, limit) == 0);
    std::string got;
    char piece[4096];
    int rc = 0;
    // Piece sizes come from a small generator seeded by the input, so the
    // whole input stays the stream.
    uint64_t x = seed_pieces | 1;
    for (size_t done = 0; done < in.size() && rc == 0;) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        const size_t left = in.size() - done;
        const size_t n = one_piece ? left : 1 + static_cast<size_t>(x % (left < 700 ? left : 700));
        rc = v3Decompress(&q, &codec, in.data() + done, n);
        done += n;
        got.append(piece, v3BufferRead(piece, static_cast<uint64_t>(x >> 40) % sizeof piece, &q));
        FUZZ_CHECK(got.size() + v3BufferSize(&q) <= limit);
    }
    int finished = -1;
    const int end_rc = v3DecompressEnd(&q, &codec, &finished);
    FUZZ_CHECK(finished == 0 || finished == 1);
    std::string rest;
    FUZZ_CHECK(v3BufferTakeAll(&q, &rest) == 0);
    got += rest;
    v3BufferFree(&q);

    // What a failed check below is about.
    auto explain = [&] {
        std::fprintf(stderr, "limit %llu, %s, input %zu bytes: codec %d/%d finished %d, %zu bytes out; "
                     "reference outcome %d, %zu bytes out\n",
                     static_cast<unsigned long long>(limit), one_piece ? "one piece" : "pieces",
                     in.size(), rc, end_rc, finished, got.size(), static_cast<int>(outcome),
                     want.size());
    };
#define CHECK(c)             \
    do {                     \
        if (!(c)) explain(); \
        FUZZ_CHECK(c);       \
    } while (0)
    CHECK(got.size() <= limit);
    // On damaged data libbz2 may hand out part of a block before it notices
    // the damage, depending on how much output room each call had; only an
    // undamaged stream has one right output.
    if (outcome != Outcome::kBadData) CHECK(want.compare(0, got.size(), got) == 0);
    if (rc == 0 && end_rc == 0 && finished == 1) {
        CHECK(outcome == Outcome::kEnded);
        CHECK(got == want);
    }
    if (outcome == Outcome::kEnded && one_piece) {
        CHECK(rc == 0 && end_rc == 0 && finished == 1);
    }
    if (outcome == Outcome::kTooLarge) CHECK(rc == -4);
    if (outcome == Outcome::kBadData) CHECK(rc == -4 && finished == 0);
    if (outcome == Outcome::kTruncated) CHECK(finished == 0);
#undef CHECK
    return 0;
}
