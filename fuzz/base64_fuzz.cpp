// Base64 encoding and decoding: one-shot and through the codec object fed in
// pieces of arbitrary size, with the byte queue read in arbitrary pieces in
// between.
//
// Checks: encoding gives exactly the text of a plain reference encoder and
// decodes back to the bytes; decoding arbitrary text gives what the reference
// decoder (the rules of support/base64_codec.h) gives, with the same refusal;
// feeding in pieces gives the same result as feeding at once.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "common/fuzz_check.h"
#include "support/base64_codec.h"
#include "support/byte_queue.h"
#include "support/codec.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string ReferenceEncode(const std::string& in) {
    std::string out;
    for (size_t i = 0; i < in.size(); i += 3) {
        const size_t n = in.size() - i < 3 ? in.size() - i : 3;
        uint32_t v = 0;
        for (size_t k = 0; k < 3; ++k) {
            v = (v << 8) | (k < n ? static_cast<unsigned char>(in[i + k]) : 0u);
        }
        for (size_t k = 0; k < 4; ++k) {
            out += k <= n ? kAlphabet[(v >> (18 - 6 * k)) & 63] : '=';
        }
    }
    return out;
}

int Value(unsigned char c) {
    for (int i = 0; i < 64; ++i) {
        if (kAlphabet[i] == c) return i;
    }
    return c == '=' ? 64 : -1;
}

// Groups of four accepted characters ("=" counts as a zero-valued one) give
// three bytes less one per "="; a final short group gives one byte less than
// its non-"=" characters, and is refused (-4) when that is a single one.
int ReferenceDecode(const std::string& in, std::string* out) {
    std::vector<int> group;
    out->clear();
    auto flush = [&](size_t chars, size_t bytes) {
        uint32_t v = 0;
        for (size_t k = 0; k < 4; ++k) {
            v = (v << 6) | (k < chars && group[k] != 64 ? static_cast<uint32_t>(group[k]) : 0u);
        }
        for (size_t k = 0; k < bytes; ++k) out->push_back(static_cast<char>(v >> (16 - 8 * k)));
        group.clear();
    };
    for (unsigned char c : in) {
        const int v = Value(c);
        if (v < 0) continue;
        group.push_back(v);
        if (group.size() == 4) {
            size_t pads = 0;
            for (int g : group) pads += g == 64;
            flush(4, pads < 3 ? 3 - pads : 0);
        }
    }
    if (group.empty()) return 0;
    size_t data_chars = 0;
    for (int g : group) data_chars += g != 64;
    if (data_chars == 1) return -4;
    flush(group.size(), data_chars >= 2 ? data_chars - 1 : 0);
    return 0;
}

// Runs the codec over `in` in the given piece sizes, reading the queue in
// pieces as well. Gives the codec's first failure code, or 0.
int Stream(uint32_t direction, const std::string& in, FuzzedDataProvider& fdp, std::string* out) {
    v3Buffer q{};
    v3Codec codec{};
    int rc = v3CodecStart(&q, &codec, v3Base64EncoderStart, v3Base64EncoderProcess,
                          v3Base64EncoderEnd, v3Base64DecoderStart, v3Base64DecoderProcess,
                          v3Base64DecoderEnd, direction, 0, 0);
    FUZZ_CHECK(rc == 0);
    out->clear();
    char piece[512];
    for (size_t done = 0; done < in.size() && rc == 0;) {
        const size_t n = fdp.ConsumeIntegralInRange<size_t>(0, in.size() - done);
        rc = v3CodecProcess(&q, &codec, in.data() + done, n);
        done += n;
        const uint64_t got = v3BufferRead(piece, fdp.ConsumeIntegralInRange<size_t>(0, sizeof piece), &q);
        out->append(piece, got);
        if (n == 0 && fdp.remaining_bytes() == 0) {  // the pieces ran out: feed the rest
            rc = v3CodecProcess(&q, &codec, in.data() + done, in.size() - done);
            done = in.size();
        }
    }
    const int end_rc = v3CodecEnd(&q, &codec);
    if (end_rc != 0) FUZZ_CHECK(v3CodecEnd(&q, &codec) == 0);  // cleans a failed codec up
    if (rc == 0) rc = end_rc;
    std::string rest;
    FUZZ_CHECK(v3BufferTakeAll(&q, &rest) == 0);
    out->append(rest);
    v3BufferFree(&q);
    return rc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    const std::string in = fdp.ConsumeRandomLengthString(4096);

    // Encoding: exact text, and back again.
    std::string text;
    FUZZ_CHECK(v3Base64Encode(in.data(), in.size(), &text) == 0);
    FUZZ_CHECK(text == ReferenceEncode(in));
    std::string back;
    FUZZ_CHECK(v3Base64Decode(text.data(), text.size(), &back) == 0);
    FUZZ_CHECK(back == in);

    // Decoding the same bytes read as text.
    std::string want;
    const int want_rc = ReferenceDecode(in, &want);
    std::string got = "left alone on failure";
    const int rc = v3Base64Decode(in.data(), in.size(), &got);
    FUZZ_CHECK(rc == want_rc);
    FUZZ_CHECK(rc == 0 ? got == want : got == "left alone on failure");

    // The same through the codec in pieces.
    std::string streamed;
    FUZZ_CHECK(Stream(kCodecFirst, in, fdp, &streamed) == 0);
    FUZZ_CHECK(streamed == text);
    const int stream_rc = Stream(kCodecSecond, in, fdp, &streamed);
    FUZZ_CHECK(stream_rc == want_rc);
    if (stream_rc == 0) FUZZ_CHECK(streamed == want);
    return 0;
}
