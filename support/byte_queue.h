// The byte queue: a growable FIFO of bytes that codecs append their output to
// and the caller reads from. It belongs to the caller and has no lock of its
// own. A zero-filled record is valid and "not made yet" (kind 0).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The one kind of queue in use; 0 marks a queue not yet made.
inline constexpr uint32_t kBufferKind = 1;

struct v3Buffer {
    uint64_t held;       // offset 0: bytes appended and not yet read
    uint64_t capacity;   // offset 8: bytes of storage
    uint64_t step;       // offset 16: growth step; 0 means the queue never grows
    uint64_t read_pos;   // offset 24: where the next byte is read
    uint64_t write_pos;  // offset 32: where the next byte is appended
    uint8_t* storage;    // offset 40: zero-filled at creation
    uint32_t kind;       // after the pointer: kBufferKind once made
};
static_assert(offsetof(v3Buffer, held) == 0 && offsetof(v3Buffer, capacity) == 8 &&
                  offsetof(v3Buffer, step) == 16 && offsetof(v3Buffer, read_pos) == 24 &&
                  offsetof(v3Buffer, write_pos) == 32 && offsetof(v3Buffer, storage) == 40,
              "v3Buffer keeps its counters in front of the storage pointer");
static_assert(offsetof(v3Buffer, kind) == 40 + sizeof(void*), "kind follows the storage pointer");

// Makes the queue with `capacity` zero-filled bytes and growth step `step`.
// 0; -1 no memory (or a capacity this machine cannot address); -2 already
// made; -3 kind not 1; -4 no queue.
int v3BufferInit(v3Buffer* q, uint64_t capacity, uint32_t kind, uint64_t step);

// Appends n bytes, growing the storage by whole growth steps when the held
// bytes and the new ones do not fit. 0 (also for n == 0); -1 no memory or a
// size that would overflow; -2 the queue is full and cannot grow; -4 no queue,
// a queue not made, or no data for a non-zero length.
int v3BufferAppend(v3Buffer* q, const void* data, uint64_t n);

// Moves at most n bytes to dst, oldest first. Returns the bytes copied; 0 when
// the queue is empty, missing or not made, or dst is missing.
uint64_t v3BufferRead(void* dst, uint64_t n, v3Buffer* q);

// Moves every held byte into out (replacing its content). 0; -1 no memory
// (the queue then keeps its bytes and out is left alone); -4 no queue or out.
int v3BufferTakeAll(v3Buffer* q, std::string* out);

// Bytes held and not yet read; 0 for no queue.
uint64_t v3BufferSize(const v3Buffer* q);

// Frees the storage and clears every field, so the record can be made again.
// A missing queue is allowed.
void v3BufferFree(v3Buffer* q);
