// The codec object: one record that drives a stream transformation in either
// direction through a table of six operations (start, process, end for each
// direction) and appends what it produces to the caller's byte queue.
//
// Life of a record: zero-filled (not started) -> 42 started -> 43 data
// processed (any number of times) -> 44 ended, after which it can be started
// again. A failed process call leaves 45; v3CodecEnd then cleans up and
// returns 0. The byte queue outlives the codec: read it after v3CodecEnd and
// release it with v3BufferFree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "support/byte_queue.h"
#include "support/lock.h"

inline constexpr uint32_t kCodecStarted = 42;
inline constexpr uint32_t kCodecProcessed = 43;
inline constexpr uint32_t kCodecEnded = 44;
inline constexpr uint32_t kCodecFailed = 45;

// Direction: the first triple (encoding) or the second (decoding).
inline constexpr uint32_t kCodecFirst = 179;
inline constexpr uint32_t kCodecSecond = 199;

// The byte queue every start makes: 4096 bytes, grown in steps of 4096.
inline constexpr uint64_t kCodecQueueCapacity = 4096;
inline constexpr uint64_t kCodecQueueStep = 4096;

// Result codes of the codec family: of the codec object and of the
// operations of its tables, which pass through it unchanged. An unscoped
// enum over int, as the file family's.
enum CodecResult : int {
    kCodecOk = 0,
    kCodecErrArgument = -1,  // a missing argument or operation, a bad direction
    kCodecErrState = -2,     // not started, already started or ended; an
                             // operation: no memory for its private state
    kCodecErrMemory = -3,    // the byte queue cannot be made or grow; no memory
                             // for the output or inside the library
    kCodecErrStream = -4,    // the operation failed: bad data, a bad argument,
                             // output past its limit
};

// A short English description of a codec code, "unknown codec result" for
// any other value.
const char* CodecResultName(int code);

struct v3Codec;

// start: makes the private state (codec->private_state) from the argument and
// the extra value. The state must come from std::malloc/std::calloc, because
// v3CodecEnd releases it with std::free; on failure the operation releases
// whatever it made and leaves private_state null.
using v3CodecStartOp = CodecResult (*)(v3Codec* codec, uint32_t argument, uint64_t extra);
// process: transforms n bytes of data and appends the result to q.
using v3CodecProcessOp = CodecResult (*)(v3Buffer* q, v3Codec* codec, const void* data,
                                         uint64_t n);
// end: finishes the stream (appending any tail to q) and releases everything
// the private state refers to, but not the private state itself. It may run a
// second time after it failed once, so it must tolerate that.
using v3CodecEndOp = CodecResult (*)(v3Buffer* q, v3Codec* codec);

struct v3Codec {
    uint32_t state;                  // offset 0: 0, or 42..45 as above
    uint32_t argument;               // offset 4: the start argument
    uint32_t direction;              // offset 8: kCodecFirst or kCodecSecond
    void* private_state;             // offset 16 (12 with 32-bit pointers): owned; freed by v3CodecEnd
    v3CodecStartOp first_start;      // the first triple (encoding)
    v3CodecProcessOp first_process;
    v3CodecEndOp first_end;
    v3CodecStartOp second_start;     // the second triple (decoding)
    v3CodecProcessOp second_process;
    v3CodecEndOp second_end;
    v3Lock lock;                     // held during every codec operation
};
// The record is never stored or sent, so only the order of its fields is
// fixed; the pointer lands on the first offset its alignment allows.
static_assert(offsetof(v3Codec, argument) == 4 && offsetof(v3Codec, direction) == 8 &&
                  offsetof(v3Codec, private_state) == (12 + alignof(void*) - 1) / alignof(void*) * alignof(void*),
              "the codec's words precede its private state");

// Starts the codec in `direction` with the six operations, making the byte
// queue q (which must be zero-filled or freed). 0; -1 a missing argument or
// operation, or a direction other than 179 and 199; -2 already started; -3 the
// byte queue cannot be made; otherwise the start operation's code.
CodecResult v3CodecStart(v3Buffer* q, v3Codec* codec,
                         v3CodecStartOp first_start, v3CodecProcessOp first_process,
                         v3CodecEndOp first_end,
                         v3CodecStartOp second_start, v3CodecProcessOp second_process,
                         v3CodecEndOp second_end,
                         uint32_t direction, uint32_t argument, uint64_t extra);

// Feeds n bytes (data may be null when n is 0). 0; -1 missing arguments; -2
// not started, ended or failed; otherwise the process operation's code, after
// which the codec is failed (45).
CodecResult v3CodecProcess(v3Buffer* q, v3Codec* codec, const void* data, uint64_t n);

// Ends the codec and frees its private state. 0 (also for a failed codec,
// which is cleaned up); -2 not started (the state becomes 45); otherwise the
// end operation's code, after which the codec is failed and a further
// v3CodecEnd cleans it up.
CodecResult v3CodecEnd(v3Buffer* q, v3Codec* codec);

// The six operations of a codec's table, for a whole run at once.
struct v3CodecTable {
    v3CodecStartOp first_start;
    v3CodecProcessOp first_process;
    v3CodecEndOp first_end;
    v3CodecStartOp second_start;
    v3CodecProcessOp second_process;
    v3CodecEndOp second_end;
};

// Runs the table over n bytes of data from start to end in direction (the
// start taking argument) and puts everything produced into *out, replacing
// its content. The first failing step's code; kCodecErrMemory when the output
// cannot be handed over. Used for texts and buffers that are small and whole
// (the Base64 of proxy credentials, a compressed test stream).
CodecResult v3CodecRunOnce(const v3CodecTable& table, uint32_t direction, uint32_t argument,
                           const void* data, uint64_t n, std::string* out);
