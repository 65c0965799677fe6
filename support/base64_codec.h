// The Base64 table of the codec object (standard alphabet, "=" padding, no
// line breaks) and one-shot wrappers over it. The HTTP transport forms its
// Basic credentials with v3Base64Encode.
//
// Codes of the operations: -2 no memory for the state; -3 the byte queue
// cannot grow; -4 (decoder end) the text ends with a single character that
// cannot form a byte.
#pragma once

#include <cstdint>
#include <string>

#include "support/byte_queue.h"
#include "support/codec.h"

// Encoder (first triple): keeps up to 56 pending bytes and emits 76
// characters for each 57 bytes; the end operation encodes the pending tail
// with "=" padding. Argument and extra are unused.
CodecResult v3Base64EncoderStart(v3Codec* codec, uint32_t argument, uint64_t extra);
CodecResult v3Base64EncoderProcess(v3Buffer* q, v3Codec* codec, const void* data, uint64_t n);
CodecResult v3Base64EncoderEnd(v3Buffer* q, v3Codec* codec);

// Decoder (second triple): characters outside the alphabet (line breaks,
// blanks, bytes of 128 or more) are skipped; each four accepted characters
// give three bytes, less one per "=" among them. A final group of two or three
// characters without padding is decoded as if padded.
CodecResult v3Base64DecoderStart(v3Codec* codec, uint32_t argument, uint64_t extra);
CodecResult v3Base64DecoderProcess(v3Buffer* q, v3Codec* codec, const void* data, uint64_t n);
CodecResult v3Base64DecoderEnd(v3Buffer* q, v3Codec* codec);

// One-shot encoding and decoding. out is replaced on success and left alone
// on failure. 0; -1 a missing argument (data may be null when n is 0);
// otherwise the codec's code.
CodecResult v3Base64Encode(const void* data, uint64_t n, std::string* out);
CodecResult v3Base64Decode(const char* text, uint64_t n, std::string* out);
