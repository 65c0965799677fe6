#include "support/bzip2_codec.h"

#include <bzlib.h>

#include <cstdlib>
#include <memory>

namespace {

// libbz2 is given input in parts of at most 1 GiB so that its 32-bit length
// fields never overflow, and produces output in 64 KiB pieces.
constexpr uint64_t kInputPart = 1073741824;
constexpr unsigned kOutputPiece = 65536;

// The private state of both directions. Plain data, so that the codec can
// release it with std::free once the end operation has ended the stream.
struct Bzip2State {
    bz_stream stream;
    uint64_t limit;     // decompression: most output bytes allowed
    uint64_t produced;  // output bytes appended so far
    int32_t finished;   // decompression: libbz2 reported the end of the stream
    int32_t live;       // the libbz2 stream is initialised and not yet ended
};

Bzip2State* StateOf(v3Codec* codec) {
    return static_cast<Bzip2State*>(codec->private_state);
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Piece = std::unique_ptr<char, FreeDeleter>;

Piece NewPiece() {
    return Piece(static_cast<char*>(std::malloc(kOutputPiece)));
}

// Makes the private state and runs libbz2's init on it. The record is freed
// again when the init fails, as the start contract asks.
template <typename Init>
CodecResult StartStream(v3Codec* codec, uint64_t limit, Init init) {
    auto* state = static_cast<Bzip2State*>(std::calloc(1, sizeof(Bzip2State)));
    if (state == nullptr) return kCodecErrState;
    const int rc = init(&state->stream);
    if (rc != BZ_OK) {
        std::free(state);
        return rc == BZ_MEM_ERROR ? kCodecErrMemory : kCodecErrStream;
    }
    state->limit = limit;
    state->live = 1;
    codec->private_state = state;
    return kCodecOk;
}

// Appends one produced piece, refusing output past the decompression limit
// before the queue grows for it.
CodecResult Emit(v3Buffer* q, Bzip2State* state, const char* piece, uint64_t got) {
    if (got == 0) return kCodecOk;
    if (state->limit != 0 && got > state->limit - state->produced) return kCodecErrStream;
    if (v3BufferAppend(q, piece, got) != 0) return kCodecErrMemory;
    state->produced += got;
    return kCodecOk;
}

// One part of the input: decompress until the part is used up or the stream
// ends. A full output piece is drained again even when no input is left, so
// that output never lingers inside libbz2 between calls.
CodecResult DecompressPart(v3Buffer* q, Bzip2State* state, char* piece, const char* data,
                           unsigned n) {
    bz_stream* s = &state->stream;
    s->next_in = const_cast<char*>(data);
    s->avail_in = n;
    int rc;
    do {
        s->next_out = piece;
        s->avail_out = kOutputPiece;
        rc = BZ2_bzDecompress(s);
        if (rc != BZ_OK && rc != BZ_STREAM_END) return kCodecErrStream;
        const CodecResult emitted = Emit(q, state, piece, kOutputPiece - s->avail_out);
        if (emitted != kCodecOk) return emitted;
    } while (rc != BZ_STREAM_END && (s->avail_in > 0 || s->avail_out == 0));
    // Bytes after the end of the stream in this part are ignored.
    if (rc == BZ_STREAM_END) state->finished = 1;
    return kCodecOk;
}

CodecResult RunCompress(v3Buffer* q, Bzip2State* state, int action, int want) {
    Piece piece = NewPiece();
    if (!piece) return kCodecErrMemory;
    bz_stream* s = &state->stream;
    int rc;
    do {
        s->next_out = piece.get();
        s->avail_out = kOutputPiece;
        rc = BZ2_bzCompress(s, action);
        if (rc != want && rc != BZ_STREAM_END) {
            return rc == BZ_MEM_ERROR ? kCodecErrMemory : kCodecErrStream;
        }
        const CodecResult emitted = Emit(q, state, piece.get(), kOutputPiece - s->avail_out);
        if (emitted != kCodecOk) return emitted;
    } while (action == BZ_RUN ? s->avail_in > 0 : rc != BZ_STREAM_END);
    return kCodecOk;
}

}  // namespace

CodecResult v3Bzip2DecompressStart(v3Codec* codec, uint32_t, uint64_t extra) {
    const uint64_t limit = extra == 0 ? kDefaultDecompressLimit : extra;
    return StartStream(codec, limit, [](bz_stream* s) {
        return BZ2_bzDecompressInit(s, 0 /*verbosity*/, 0 /*small: the fast mode*/);
    });
}

CodecResult v3Bzip2DecompressProcess(v3Buffer* q, v3Codec* codec, const void* data, uint64_t n) {
    Bzip2State* state = StateOf(codec);
    Piece piece = NewPiece();
    if (!piece) return kCodecErrMemory;
    const char* bytes = static_cast<const char*>(data);
    for (uint64_t done = 0; done < n;) {
        const uint64_t part = n - done < kInputPart ? n - done : kInputPart;
        const CodecResult rc = DecompressPart(q, state, piece.get(), bytes + done,
                                              static_cast<unsigned>(part));
        if (rc != kCodecOk) return rc;
        done += part;
    }
    return kCodecOk;
}

CodecResult v3Bzip2DecompressEnd(v3Buffer*, v3Codec* codec) {
    Bzip2State* state = StateOf(codec);
    if (!state->live) return kCodecOk;
    state->live = 0;
    return BZ2_bzDecompressEnd(&state->stream) == BZ_OK ? kCodecOk : kCodecErrStream;
}

CodecResult v3Bzip2CompressStart(v3Codec* codec, uint32_t argument, uint64_t) {
    if (argument < 1 || argument > 9) return kCodecErrStream;
    const int level = static_cast<int>(argument);
    return StartStream(codec, 0, [level](bz_stream* s) {
        return BZ2_bzCompressInit(s, level, 0 /*verbosity*/, 0 /*default work factor*/);
    });
}

CodecResult v3Bzip2CompressProcess(v3Buffer* q, v3Codec* codec, const void* data, uint64_t n) {
    Bzip2State* state = StateOf(codec);
    const char* bytes = static_cast<const char*>(data);
    for (uint64_t done = 0; done < n;) {
        const uint64_t part = n - done < kInputPart ? n - done : kInputPart;
        state->stream.next_in = const_cast<char*>(bytes + done);
        state->stream.avail_in = static_cast<unsigned>(part);
        const CodecResult rc = RunCompress(q, state, BZ_RUN, BZ_RUN_OK);
        if (rc != kCodecOk) return rc;
        done += part;
    }
    return kCodecOk;
}

CodecResult v3Bzip2CompressEnd(v3Buffer* q, v3Codec* codec) {
    Bzip2State* state = StateOf(codec);
    if (!state->live) return kCodecOk;
    state->stream.next_in = nullptr;
    state->stream.avail_in = 0;
    const CodecResult rc = RunCompress(q, state, BZ_FINISH, BZ_FINISH_OK);
    // The stream is released even when its tail could not be stored, so that
    // a repeated end (which cleans up a failed codec) has nothing left to do.
    state->live = 0;
    const int end_rc = BZ2_bzCompressEnd(&state->stream);
    if (rc != kCodecOk) return rc;
    return end_rc == BZ_OK ? kCodecOk : kCodecErrStream;
}

CodecResult v3DecompressInit(v3Buffer* q, v3Codec* codec, uint64_t output_limit) {
    return v3CodecStart(q, codec, v3Bzip2CompressStart, v3Bzip2CompressProcess,
                        v3Bzip2CompressEnd, v3Bzip2DecompressStart,
                        v3Bzip2DecompressProcess, v3Bzip2DecompressEnd, kCodecSecond, 0,
                        output_limit);
}

CodecResult v3Decompress(v3Buffer* q, v3Codec* codec, const void* data, uint64_t n) {
    return v3CodecProcess(q, codec, data, n);
}

int v3DecompressFinished(const v3Codec* codec) {
    if (codec == nullptr || codec->private_state == nullptr ||
        codec->direction != kCodecSecond || codec->second_process != v3Bzip2DecompressProcess) {
        return 0;
    }
    return static_cast<const Bzip2State*>(codec->private_state)->finished != 0 ? 1 : 0;
}

CodecResult v3DecompressEnd(v3Buffer* q, v3Codec* codec, int* stream_finished) {
    if (stream_finished != nullptr) *stream_finished = v3DecompressFinished(codec);
    return v3CodecEnd(q, codec);
}

CodecResult v3Bzip2Compress(const void* data, uint64_t n, uint32_t level, std::string* out) {
    static const v3CodecTable kBzip2 = {v3Bzip2CompressStart,   v3Bzip2CompressProcess,
                                        v3Bzip2CompressEnd,     v3Bzip2DecompressStart,
                                        v3Bzip2DecompressProcess, v3Bzip2DecompressEnd};
    return v3CodecRunOnce(kBzip2, kCodecFirst, level, data, n, out);
}
