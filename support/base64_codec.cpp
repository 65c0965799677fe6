#include "support/base64_codec.h"

#include <array>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Lengths of one encoder block: 57 bytes make exactly 76 characters.
constexpr uint32_t kBlockIn = 57;
constexpr uint32_t kBlockOut = 76;

// Characters are grouped before they reach the queue, so that a long input
// does not cost one append per block or per byte.
constexpr size_t kBatchBlocks = 16;
constexpr size_t kDecodeBatch = 3 * 512;

constexpr int8_t kSkip = -1;
constexpr int8_t kPad = 64;

constexpr std::array<int8_t, 256> MakeDecodeTable() {
    std::array<int8_t, 256> t{};
    for (auto& v : t) v = kSkip;
    for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
    t['='] = kPad;
    return t;
}
constexpr std::array<int8_t, 256> kDecode = MakeDecodeTable();

struct EncoderState {
    uint8_t pending[kBlockIn];
    uint32_t count;  // pending bytes, at most 56 between calls
};

struct DecoderState {
    uint32_t bits;   // the accepted characters' 6-bit values, first one highest
    uint32_t chars;  // accepted characters of the current group (0..3)
    uint32_t pads;   // "=" among them
};

// Writes the 4 characters of one group of up to 3 bytes; `n` real bytes, the
// rest padded with "=".
void EncodeGroup(const uint8_t* in, uint32_t n, char* out) {
    const uint32_t v = (uint32_t{in[0]} << 16) | (n > 1 ? uint32_t{in[1]} << 8 : 0) |
                       (n > 2 ? uint32_t{in[2]} : 0);
    out[0] = kAlphabet[(v >> 18) & 63];
    out[1] = kAlphabet[(v >> 12) & 63];
    out[2] = n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
    out[3] = n > 2 ? kAlphabet[v & 63] : '=';
}

void EncodeBlock(const uint8_t* in, char* out) {
    for (uint32_t g = 0; g < kBlockIn / 3; ++g) EncodeGroup(in + 3 * g, 3, out + 4 * g);
}

CodecResult Append(v3Buffer* q, const void* data, uint64_t n) {
    return v3BufferAppend(q, data, n) == 0 ? kCodecOk : kCodecErrMemory;
}

template <typename State>
CodecResult StartState(v3Codec* codec) {
    auto* state = static_cast<State*>(std::calloc(1, sizeof(State)));
    if (state == nullptr) return kCodecErrState;
    codec->private_state = state;
    return kCodecOk;
}

// Output of the decoder for a group whose 6-bit values sit in the low
// 24 bits of `bits`.
void EmitBytes(uint32_t bits, uint32_t count, uint8_t* out) {
    for (uint32_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(bits >> (16 - 8 * i));
}

// One-shot run of a codec over the Base64 table in `direction`.
CodecResult RunOnce(uint32_t direction, const void* data, uint64_t n, std::string* out) {
    static const v3CodecTable kBase64 = {v3Base64EncoderStart, v3Base64EncoderProcess,
                                         v3Base64EncoderEnd,   v3Base64DecoderStart,
                                         v3Base64DecoderProcess, v3Base64DecoderEnd};
    return v3CodecRunOnce(kBase64, direction, 0, data, n, out);
}

}  // namespace

CodecResult v3Base64EncoderStart(v3Codec* codec, uint32_t, uint64_t) {
    return StartState<EncoderState>(codec);
}

CodecResult v3Base64EncoderProcess(v3Buffer* q, v3Codec* codec, const void* data, uint64_t n) {
    auto* state = static_cast<EncoderState*>(codec->private_state);
    const uint8_t* in = static_cast<const uint8_t*>(data);
    char batch[kBatchBlocks * kBlockOut];
    size_t blocks = 0;
    while (n > 0) {
        const uint64_t room = kBlockIn - state->count;
        const uint64_t take = n < room ? n : room;
        std::memcpy(state->pending + state->count, in, static_cast<size_t>(take));
        state->count += static_cast<uint32_t>(take);
        in += take;
        n -= take;
        if (state->count < kBlockIn) break;
        EncodeBlock(state->pending, batch + blocks * kBlockOut);
        state->count = 0;
        if (++blocks == kBatchBlocks) {
            if (Append(q, batch, sizeof batch) != kCodecOk) return kCodecErrMemory;
            blocks = 0;
        }
    }
    return Append(q, batch, blocks * kBlockOut);
}

CodecResult v3Base64EncoderEnd(v3Buffer* q, v3Codec* codec) {
    auto* state = static_cast<EncoderState*>(codec->private_state);
    char out[kBlockOut];
    size_t used = 0;
    for (uint32_t at = 0; at < state->count; at += 3) {
        const uint32_t left = state->count - at;
        EncodeGroup(state->pending + at, left < 3 ? left : 3, out + used);
        used += 4;
    }
    if (Append(q, out, used) != kCodecOk) return kCodecErrMemory;
    state->count = 0;
    return kCodecOk;
}

CodecResult v3Base64DecoderStart(v3Codec* codec, uint32_t, uint64_t) {
    return StartState<DecoderState>(codec);
}

CodecResult v3Base64DecoderProcess(v3Buffer* q, v3Codec* codec, const void* data, uint64_t n) {
    auto* state = static_cast<DecoderState*>(codec->private_state);
    const uint8_t* in = static_cast<const uint8_t*>(data);
    uint8_t batch[kDecodeBatch];
    size_t used = 0;
    for (uint64_t i = 0; i < n; ++i) {
        const int8_t v = kDecode[in[i]];
        if (v == kSkip) continue;
        state->bits = (state->bits << 6) | (v == kPad ? 0u : static_cast<uint32_t>(v));
        if (v == kPad) ++state->pads;
        if (++state->chars < 4) continue;
        const uint32_t count = state->pads < 3 ? 3 - state->pads : 0;
        EmitBytes(state->bits & 0xFFFFFF, count, batch + used);
        used += count;
        *state = DecoderState{};
        if (used > kDecodeBatch - 3) {
            if (Append(q, batch, used) != kCodecOk) return kCodecErrMemory;
            used = 0;
        }
    }
    return Append(q, batch, used);
}

// A final group without its padding ("QQ" for one byte, "QUI" for two) is
// decoded as if padded; a lone character holds too few bits for a byte.
CodecResult v3Base64DecoderEnd(v3Buffer* q, v3Codec* codec) {
    auto* state = static_cast<DecoderState*>(codec->private_state);
    if (state->chars == 0) return kCodecOk;
    const uint32_t data_chars = state->chars - state->pads;
    if (data_chars == 1) return kCodecErrStream;
    const uint32_t bits = state->bits << (6 * (4 - state->chars));
    uint8_t out[3];
    const uint32_t count = data_chars >= 2 ? data_chars - 1 : 0;
    EmitBytes(bits & 0xFFFFFF, count, out);
    if (Append(q, out, count) != kCodecOk) return kCodecErrMemory;
    *state = DecoderState{};
    return kCodecOk;
}

CodecResult v3Base64Encode(const void* data, uint64_t n, std::string* out) {
    return RunOnce(kCodecFirst, data, n, out);
}

CodecResult v3Base64Decode(const char* text, uint64_t n, std::string* out) {
    return RunOnce(kCodecSecond, text, n, out);
}
