#include "support/bzip2_codec.h"

#include <bzlib.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

// Reference compression straight through libbz2, independent of the codec.
std::string Compress(const std::string& data, int level = 9) {
    unsigned int size = static_cast<unsigned int>(data.size() + data.size() / 100 + 600);
    std::string out(size, '\0');
    const int rc = BZ2_bzBuffToBuffCompress(out.data(), &size, const_cast<char*>(data.data()),
                                            static_cast<unsigned int>(data.size()), level, 0, 0);
    EXPECT_EQ(rc, BZ_OK);
    out.resize(size);
    return out;
}

// Text with repeats and noise, so that blocks neither vanish nor stay raw.
std::string SampleData(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s;
    s.reserve(n);
    while (s.size() < n) {
        if (rng() % 3 == 0) {
            s += "molecule step energy ";
        } else {
            s += static_cast<char>(rng() % 256);
        }
    }
    s.resize(n);
    return s;
}

class Bzip2Test : public ::testing::Test {
protected:
    void TearDown() override {
        v3DecompressEnd(&q_, &c_);
        v3BufferFree(&q_);
    }

    // Decompresses `stream` fed in pieces of `piece` bytes; returns the first
    // failing code (or 0) and leaves the output in out_.
    int Feed(const std::string& stream, size_t piece, uint64_t limit = 0) {
        int rc = v3DecompressInit(&q_, &c_, limit);
        if (rc != 0) return rc;
        for (size_t at = 0; at < stream.size() && rc == 0; at += piece) {
            rc = v3Decompress(&q_, &c_, stream.data() + at, std::min(piece, stream.size() - at));
        }
        finished_ = v3DecompressFinished(&c_);
        const int end_rc = v3DecompressEnd(&q_, &c_);
        if (rc == 0) rc = end_rc;
        out_.clear();
        EXPECT_EQ(v3BufferTakeAll(&q_, &out_), 0);
        v3BufferFree(&q_);
        return rc;
    }

    v3Buffer q_{};
    v3Codec c_{};
    std::string out_;
    int finished_ = -1;
};

TEST_F(Bzip2Test, DecompressesWhateverThePieceSize) {
    // Over 64 KiB of output, so the output is collected from several pieces.
    const std::string data = SampleData(300000, 1);
    const std::string stream = Compress(data);
    for (size_t piece : {stream.size(), size_t{1}, size_t{7}, size_t{4096}}) {
        SCOPED_TRACE(piece);
        ASSERT_EQ(Feed(stream, piece), 0);
        EXPECT_EQ(finished_, 1);
        EXPECT_TRUE(out_ == data);
    }
}

TEST_F(Bzip2Test, HighlyCompressibleStreamDrainsFully) {
    // 2 MB of zeros are a few dozen bytes of stream: each call's output is
    // far larger than its input.
    const std::string data(2000000, '\0');
    const std::string stream = Compress(data);
    ASSERT_EQ(Feed(stream, 1), 0);
    EXPECT_EQ(finished_, 1);
    EXPECT_EQ(out_.size(), data.size());
    EXPECT_TRUE(out_ == data);
}

TEST_F(Bzip2Test, TrailingBytesInTheSameCallAreIgnoredButALaterCallFails) {
    const std::string data = SampleData(5000, 2);
    const std::string stream = Compress(data);
    ASSERT_EQ(Feed(stream + "trailing garbage", stream.size() + 16), 0);
    EXPECT_EQ(finished_, 1);
    EXPECT_TRUE(out_ == data);

    ASSERT_EQ(v3DecompressInit(&q_, &c_), 0);
    ASSERT_EQ(v3Decompress(&q_, &c_, stream.data(), stream.size()), 0);
    EXPECT_EQ(v3Decompress(&q_, &c_, "x", 1), -4);
    EXPECT_EQ(c_.state, kCodecFailed);
    EXPECT_EQ(v3DecompressEnd(&q_, &c_), 0);
}

TEST_F(Bzip2Test, EmptyInputProducesNothing) {
    ASSERT_EQ(v3DecompressInit(&q_, &c_), 0);
    EXPECT_EQ(v3Decompress(&q_, &c_, "", 0), 0);
    EXPECT_EQ(v3Decompress(&q_, &c_, nullptr, 0), 0);
    EXPECT_EQ(v3BufferSize(&q_), 0u);
    EXPECT_EQ(v3DecompressFinished(&c_), 0);
    EXPECT_EQ(v3DecompressEnd(&q_, &c_), 0);
}

TEST_F(Bzip2Test, TruncatedStreamIsNotFinished) {
    const std::string data = SampleData(20000, 3);
    const std::string stream = Compress(data);
    // libbz2 reports no error for a stream that simply stops. Without its
    // end marker every data byte may even be there: only the flag tells.
    EXPECT_EQ(Feed(stream.substr(0, stream.size() - 10), 64), 0);
    EXPECT_EQ(finished_, 0);
    EXPECT_TRUE(out_ == data);

    ASSERT_EQ(v3DecompressInit(&q_, &c_), 0);
    ASSERT_EQ(v3Decompress(&q_, &c_, stream.data(), stream.size() / 2), 0);
    int finished = -1;
    EXPECT_EQ(v3DecompressEnd(&q_, &c_, &finished), 0);
    EXPECT_EQ(finished, 0);
    v3BufferFree(&q_);

    ASSERT_EQ(v3DecompressInit(&q_, &c_), 0);
    ASSERT_EQ(v3Decompress(&q_, &c_, stream.data(), stream.size()), 0);
    EXPECT_EQ(v3DecompressEnd(&q_, &c_, &finished), 0);
    EXPECT_EQ(finished, 1);
}

TEST_F(Bzip2Test, CorruptStreamFailsAndTheCodecCanStartAgain) {
    EXPECT_EQ(Feed("this is not a bzip2 stream", 100), -4);
    std::string stream = Compress(SampleData(20000, 4));
    stream[stream.size() / 2] ^= 0x55;
    EXPECT_EQ(Feed(stream, stream.size()), -4);
    EXPECT_EQ(c_.state, kCodecEnded);
    const std::string data = SampleData(100, 5);
    ASSERT_EQ(Feed(Compress(data), 3), 0);
    EXPECT_TRUE(out_ == data);
}

TEST_F(Bzip2Test, OutputLimitRefusesAnOverLargeStream) {
    const uint64_t limit = 1 << 20;
    const std::string stream = Compress(std::string(4 << 20, '\0'));
    ASSERT_EQ(v3DecompressInit(&q_, &c_, limit), 0);
    EXPECT_EQ(v3Decompress(&q_, &c_, stream.data(), stream.size()), -4);
    EXPECT_LE(v3BufferSize(&q_), limit);
    // The queue never grew past the limit and one growth step.
    EXPECT_LE(q_.capacity, limit + kCodecQueueStep);
    EXPECT_EQ(v3DecompressFinished(&c_), 0);
    EXPECT_EQ(v3DecompressEnd(&q_, &c_), 0);
    v3BufferFree(&q_);

    // Output of exactly the limit is accepted.
    const std::string exact(limit, 'q');
    ASSERT_EQ(Feed(Compress(exact), 1000, limit), 0);
    EXPECT_EQ(finished_, 1);
    EXPECT_EQ(out_.size(), limit);
    EXPECT_EQ(Feed(Compress(exact + "q"), 1000, limit), -4);
}

TEST_F(Bzip2Test, CompressorRoundTripsThroughLibbz2) {
    const std::string data = SampleData(200000, 6);
    for (uint32_t level : {1u, 9u}) {
        std::string stream;
        ASSERT_EQ(v3Bzip2Compress(data.data(), data.size(), level, &stream), 0);
        unsigned int size = static_cast<unsigned int>(data.size());
        std::string back(size, '\0');
        ASSERT_EQ(BZ2_bzBuffToBuffDecompress(back.data(), &size, stream.data(),
                                             static_cast<unsigned int>(stream.size()), 0, 0),
                  BZ_OK);
        back.resize(size);
        EXPECT_TRUE(back == data) << level;
        // And through this codec's own decompressor.
        ASSERT_EQ(Feed(stream, 999), 0);
        EXPECT_TRUE(out_ == data);
    }
    std::string untouched = "keep";
    EXPECT_EQ(v3Bzip2Compress("x", 1, 0, &untouched), -4);
    EXPECT_EQ(v3Bzip2Compress("x", 1, 10, &untouched), -4);
    EXPECT_EQ(untouched, "keep");
    std::string empty_stream;
    ASSERT_EQ(v3Bzip2Compress(nullptr, 0, 5, &empty_stream), 0);
    ASSERT_EQ(Feed(empty_stream, 1), 0);
    EXPECT_EQ(finished_, 1);
    EXPECT_TRUE(out_.empty());
}

TEST_F(Bzip2Test, FinishedIsZeroForOtherCodecs) {
    EXPECT_EQ(v3DecompressFinished(nullptr), 0);
    EXPECT_EQ(v3DecompressFinished(&c_), 0);
    ASSERT_EQ(v3CodecStart(&q_, &c_, v3Bzip2CompressStart, v3Bzip2CompressProcess,
                           v3Bzip2CompressEnd, v3Bzip2DecompressStart, v3Bzip2DecompressProcess,
                           v3Bzip2DecompressEnd, kCodecFirst, 5, 0),
              0);
    EXPECT_EQ(v3DecompressFinished(&c_), 0);
}

}  // namespace
