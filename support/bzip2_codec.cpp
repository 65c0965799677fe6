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
int StartStream(v3Codec* codec, uint64_t limit, Init init) {
    auto* state = static_cast<Bzip2State*>(std::calloc(1, sizeof(Bzip2State)));
    if (state == nullptr) return -2;
    const int rc = init(&state->stream);
    if (rc != BZ_OK) {
        std::free(state);
        return rc == BZ_MEM_ERROR ? -3 : -4;
    }
    state->limit = limit;
    state->live = 1;
    codec->private_state = state;
    return 0;
}

// Appends one produced piece, refusing output past the decompression limit
// before the queue grows for it.
int Emit(v3Buffer* q, Bzip2State* state, const char* piece, uint64_t got) {
    if (got == 0) return 0;
    if (state->limit != 0 && got > state->limit - state->produced) return -4;
    if (v3BufferAppend(q, piece, got) != 0) return -3;
    state->produced += got;
    return 0;
}

// One part of the input: decompress until the part is used up or the stream
// ends. A full output piece is drained again even when no input is left, so
// that output never lingers inside libbz2 between calls.
int DecompressPart(v3Buffer* q, Bzip2State* state, char* piece, const char* data,
                   unsigned n) {
    bz_stream* s = &state->stream;
    s->next_in = const_cast<char*>(data);
    s->avail_in = n;
    int rc;
    do {
        s->next_out = piece;
        s->avail_out = kOutputPiece;
        rc = BZ2_bzDecompress(s);
        if (rc != BZ_OK && rc != BZ_STREAM_END) return -4;
        const int emitted = Emit(q, state, piece, kOutputPiece - s->avail_out);
        if (emitted != 0) return emitted;
    } while (rc != BZ_STREAM_END && (s->avail_in > 0 || s->avail_out == 0));
    // Bytes after the end of the stream in this part are ignored.
    if (rc == BZ_STREAM_END) state->finished = 1;
    return 0;
}

int RunCompress(v3Buffer* q, Bzip2State* state, int action, int want) {
    Piece piece = NewPiece();
    if (!piece) return -3;
    bz_stream* s = &state->stream;
    int rc;
    do {
        s->next_out = piece.get();
        s->avail_out = kOutputPiece;
        rc = BZ2_bzCompress(s, action);
        if (rc != want && rc != BZ_STREAM_END) return rc == BZ_MEM_ERROR ? -3 : -4;
        const int emitted = Emit(q, state, piece.get(), kOutputPiece - s->avail_out);
        if (emitted != 0) return emitted;
    } while (action == BZ_RUN ? s->avail_in > 0 : rc != BZ_STREAM_END);
    return 0;
}

}  // namespace

int v3Bzip2DecompressStart(v3Codec* codec, uint32_t, uint64_t extra) {
    const uint64_t limit = extra == 0 ? kDefaultDecompressLimit : extra;
    return StartStream(codec, limit, [](bz_stream* s) {
        return BZ2_bzDecompressInit(s, 0 /*verbosity*/, 0 /*small: the fast mode*/);
    });
}

int v3Bzip2DecompressProcess(v3Buffer* q, v3Codec* codec, const void* data, uint64_t n) {
    Bzip2State* state = StateOf(codec);
    Piece piece = NewPiece();
    if (!piece) return -3;
    const char* bytes = static_cast<const char*>(data);
    for (uint64_t done = 0; done < n;) {
        const uint64_t part = n - done < kInputPart ? n - done : kInputPart;
        const int rc = DecompressPart(q, state, piece.get(), bytes + done,
                                      static_cast<unsigned>(part));
        if (rc != 0) return rc;
        done += part;
    }
    return 0;
}

int v3Bzip2DecompressEnd(v3Buffer*, v3Codec* codec) {
    Bzip2State* state = StateOf(codec);
    if (!state->live) return 0;
    state->live = 0;
    return BZ2_bzDecompressEnd(&state->stream) == BZ_OK ? 0 : -4;
}

int v3Bzip2CompressStart(v3Codec* codec, uint32_t argument, uint64_t) {
    if (argument < 1 || argument > 9) return -4;
    const int level = static_cast<int>(argument);
    return StartStream(codec, 0, [level](bz_stream* s) {
        return BZ2_bzCompressInit(s, level, 0 /*verbosity*/, 0 /*default work factor*/);
    });
}

int v3Bzip2CompressProcess(v3Buffer* q, v3Codec* codec, const void* data, uint64_t n) {
    Bzip2State* state = StateOf(codec);
    const char* bytes = static_cast<const char*>(data);
    for (uint64_t done = 0; done < n;) {
        const uint64_t part = n - done < kInputPart ? n - done : kInputPart;
        state->stream.next_in = const_cast<char*>(bytes + done);
        state->stream.avail_in = static_cast<unsigned>(part);
        const int rc = RunCompress(q, state, BZ_RUN, BZ_RUN_OK);
        if (rc != 0) return rc;
        done += part;
    }
    return 0;
}

int v3Bzip2CompressEnd(v3Buffer* q, v3Codec* codec) {
    Bzip2State* state = StateOf(codec);
    if (!state->live) return 0;
    state->stream.next_in = nullptr;
    state->stream.avail_in = 0;
    const int rc = RunCompress(q, state, BZ_FINISH, BZ_FINISH_OK);
    // The stream is released even when its tail could not be stored, so that
    // a repeated end (which cleans up a failed codec) has nothing left to do.
    state->live = 0;
    const int end_rc = BZ2_bzCompressEnd(&state->stream);
    if (rc != 0) return rc;
    return end_rc == BZ_OK ? 0 : -4;
}

int v3DecompressInit(v3Buffer* q, v3Codec* codec, uint64_t output_limit) {
    return v3CodecStart(q, codec, v3Bzip2CompressStart, v3Bzip2CompressProcess,
                        v3Bzip2CompressEnd, v3Bzip2DecompressStart,
                        v3Bzip2DecompressProcess, v3Bzip2DecompressEnd, kCodecSecond, 0,
                        output_limit);
}

int v3Decompress(v3Buffer* q, v3Codec* codec, const void* data, uint64_t n) {
    return v3CodecProcess(q, codec, data, n);
}

int v3DecompressFinished(const v3Codec* codec) {
    if (codec == nullptr || codec->private_state == nullptr ||
        codec->direction != kCodecSecond || codec->second_process != v3Bzip2DecompressProcess) {
        return 0;
    }
    return static_cast<const Bzip2State*>(codec->private_state)->finished != 0 ? 1 : 0;
}

int v3DecompressEnd(v3Buffer* q, v3Codec* codec, int* stream_finished) {
    if (stream_finished != nullptr) *stream_finished = v3DecompressFinished(codec);
    return v3CodecEnd(q, codec);
}

int v3Bzip2Compress(const void* data, uint64_t n, uint32_t level, std::string* out) {
    if (out == nullptr || (data == nullptr && n != 0)) return -1;
    v3Buffer q{};
    v3Codec codec{};
    int rc = v3CodecStart(&q, &codec, v3Bzip2CompressStart, v3Bzip2CompressProcess,
                          v3Bzip2CompressEnd, v3Bzip2DecompressStart,
                          v3Bzip2DecompressProcess, v3Bzip2DecompressEnd, kCodecFirst, level,
                          0);
    if (rc != 0) return rc;
    rc = v3CodecProcess(&q, &codec, data, n);
    const int end_rc = v3CodecEnd(&q, &codec);
    if (rc == 0) rc = end_rc;
    // A failed end leaves the codec failed; the next end cleans it up.
    if (end_rc != 0) (void)v3CodecEnd(&q, &codec);
    if (rc == 0 && v3BufferTakeAll(&q, out) != 0) rc = -3;
    v3BufferFree(&q);
    return rc;
}
