// The bzip2 table of the codec object, over libbz2. The second triple
// decompresses (core bundles); the first compresses, with the start argument
// as the block-size level 1..9 (the client never compresses; tests and tools
// do).
//
// Codes of every operation: -2 no memory for the stream record; -3 libbz2 is
// out of memory, or the byte queue cannot grow; -4 libbz2 reports any other
// failure, or the decompressed output would pass its limit.
#pragma once

#include <cstdint>
#include <string>

#include "support/byte_queue.h"
#include "support/codec.h"

// Most bytes one decompression may produce unless the caller says otherwise.
// A core executable is a few MiB; the bound keeps a hostile bundle (a small
// stream that expands without end) from exhausting memory.
inline constexpr uint64_t kDefaultDecompressLimit = 256ull * 1024 * 1024;

// Decompression: `extra` of the start operation is the output limit in bytes
// (0 selects kDefaultDecompressLimit); the argument is unused (0).
CodecResult v3Bzip2DecompressStart(v3Codec* codec, uint32_t argument, uint64_t extra);
CodecResult v3Bzip2DecompressProcess(v3Buffer* q, v3Codec* codec, const void* data, uint64_t n);
CodecResult v3Bzip2DecompressEnd(v3Buffer* q, v3Codec* codec);

// Compression: the argument is the level 1..9 (another value gives -4);
// `extra` is unused. The end operation appends the stream's tail.
CodecResult v3Bzip2CompressStart(v3Codec* codec, uint32_t argument, uint64_t extra);
CodecResult v3Bzip2CompressProcess(v3Buffer* q, v3Codec* codec, const void* data, uint64_t n);
CodecResult v3Bzip2CompressEnd(v3Buffer* q, v3Codec* codec);

// v3CodecStart with the bzip2 table, direction 199 (decompression) and
// argument 0. q must be zero-filled or freed. Output past output_limit bytes
// (0 selects the default) makes v3Decompress fail with -4.
CodecResult v3DecompressInit(v3Buffer* q, v3Codec* codec,
                             uint64_t output_limit = kDefaultDecompressLimit);
// v3CodecProcess: decompresses n bytes, appending the output to q. Bytes after
// the end of the stream in the same call are ignored; bytes given in a later
// call fail with -4.
CodecResult v3Decompress(v3Buffer* q, v3Codec* codec, const void* data, uint64_t n);
// 1 when libbz2 has reported the end of the stream, else 0 (also for a codec
// that is not a started bzip2 decompressor). A truncated stream gives no
// libbz2 error, only this 0. Call it before v3DecompressEnd, on the thread
// that feeds the codec.
int v3DecompressFinished(const v3Codec* codec);
// v3CodecEnd. When stream_finished is given, it receives v3DecompressFinished
// as it was before the codec ended.
CodecResult v3DecompressEnd(v3Buffer* q, v3Codec* codec, int* stream_finished = nullptr);

// One-shot compression at `level` (1..9) for tools and tests: out receives the
// whole bzip2 stream. 0; -1 missing arguments; otherwise the codec's code. out
// is left alone on failure.
CodecResult v3Bzip2Compress(const void* data, uint64_t n, uint32_t level, std::string* out);
