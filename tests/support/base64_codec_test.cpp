#include "support/base64_codec.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

// RFC 4648 encoding written independently of the codec: a bit accumulator
// that drains 6 bits at a time, then pads to a multiple of 4.
std::string ReferenceEncode(const std::string& in) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    uint32_t acc = 0;
    int bits = 0;
    for (unsigned char c : in) {
        acc = (acc << 8) | c;
        bits += 8;
        while (bits >= 6) {
            bits -= 6;
            out += alphabet[(acc >> bits) & 0x3F];
        }
    }
    if (bits > 0) out += alphabet[(acc << (6 - bits)) & 0x3F];
    while (out.size() % 4 != 0) out += '=';
    return out;
}

std::string RandomBytes(std::mt19937& rng, size_t n) {
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng() % 256);
    return s;
}

// Runs one direction of the table over `in` cut into random pieces.
std::string RunInPieces(uint32_t direction, const std::string& in, std::mt19937& rng) {
    v3Buffer q{};
    v3Codec c{};
    EXPECT_EQ(v3CodecStart(&q, &c, v3Base64EncoderStart, v3Base64EncoderProcess,
                           v3Base64EncoderEnd, v3Base64DecoderStart, v3Base64DecoderProcess,
                           v3Base64DecoderEnd, direction, 0, 0),
              0);
    for (size_t at = 0; at < in.size();) {
        const size_t piece = std::min<size_t>(in.size() - at, rng() % 70);
        EXPECT_EQ(v3CodecProcess(&q, &c, in.data() + at, piece), 0);
        at += piece;
    }
    EXPECT_EQ(v3CodecEnd(&q, &c), 0);
    std::string out;
    EXPECT_EQ(v3BufferTakeAll(&q, &out), 0);
    v3BufferFree(&q);
    return out;
}

std::string Encode(const std::string& s) {
    std::string out;
    EXPECT_EQ(v3Base64Encode(s.data(), s.size(), &out), 0);
    return out;
}

std::string Decode(const std::string& s) {
    std::string out;
    EXPECT_EQ(v3Base64Decode(s.data(), s.size(), &out), 0);
    return out;
}

TEST(Base64, KnownVectorsAndCredentials) {
    EXPECT_EQ(Encode(""), "");
    EXPECT_EQ(Encode("f"), "Zg==");
    EXPECT_EQ(Encode("fo"), "Zm8=");
    EXPECT_EQ(Encode("foo"), "Zm9v");
    EXPECT_EQ(Encode("foob"), "Zm9vYg==");
    EXPECT_EQ(Encode("fooba"), "Zm9vYmE=");
    EXPECT_EQ(Encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(Encode("Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    EXPECT_EQ(Encode(std::string("\xfb\xff\xbf", 3)), "+/+/");
    EXPECT_EQ(Decode("Zm9vYmE="), "fooba");
    EXPECT_EQ(Decode("QWxhZGRpbjpvcGVuIHNlc2FtZQ=="), "Aladdin:open sesame");
}

TEST(Base64, EveryLengthInRandomPiecesMatchesTheReference) {
    std::mt19937 rng(4648);
    for (size_t n = 0; n <= 200; ++n) {
        const std::string data = RandomBytes(rng, n);
        const std::string expected = ReferenceEncode(data);
        const std::string encoded = RunInPieces(kCodecFirst, data, rng);
        ASSERT_EQ(encoded, expected) << "length " << n;
        ASSERT_EQ(RunInPieces(kCodecSecond, encoded, rng), data) << "length " << n;
    }
}

TEST(Base64, FiftySevenBytesMakeOneUnbrokenLineOfSeventySix) {
    const std::string data(57, 'A');
    const std::string encoded = Encode(data);
    EXPECT_EQ(encoded.size(), 76u);
    EXPECT_EQ(encoded.find_first_of("\r\n="), std::string::npos);
    const std::string longer = Encode(std::string(57 * 40 + 1, 'B'));
    EXPECT_EQ(longer.size(), 76u * 40 + 4);
    EXPECT_EQ(longer.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(longer.substr(longer.size() - 2), "==");
}

TEST(Base64, DecoderSkipsCharactersOutsideTheAlphabet) {
    EXPECT_EQ(Decode("Zm9v\r\nYmFy"), "foobar");
    EXPECT_EQ(Decode(" Zm 9v\tYm\xc3\xa9" "Fy-_*\r\n"), "foobar");
    // Groups after padding are still decoded.
    EXPECT_EQ(Decode("Zg==Zg=="), "ff");
    // A final group without padding is read as if padded.
    EXPECT_EQ(Decode("Zm9vYg"), "foob");
    EXPECT_EQ(Decode("Zm9vYmE"), "fooba");
    EXPECT_EQ(Decode("\r\n"), "");
}

TEST(Base64, LoneTrailingCharacterIsRefusedAndLosesNothing) {
    std::string out = "previous";
    EXPECT_EQ(v3Base64Decode("Zm9vY", 5, &out), -4);
    EXPECT_EQ(out, "previous");
    EXPECT_EQ(v3Base64Decode(nullptr, 3, &out), -1);
    EXPECT_EQ(v3Base64Encode("x", 1, nullptr), -1);
    EXPECT_EQ(v3Base64Encode(nullptr, 0, &out), 0);
    EXPECT_EQ(out, "");
}

}  // namespace
