#include "support/byte_queue.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

namespace {

bool Addressable(uint64_t n) {
    return n <= std::numeric_limits<size_t>::max();
}

bool Made(const v3Buffer* q) {
    return q != nullptr && q->kind == kBufferKind;
}

// Moves the unread bytes to the front of the storage. Reads and appends may
// alternate; without this the write position would walk off the end of the
// storage while the queue still had room.
void Compact(v3Buffer* q) {
    if (q->read_pos == 0) return;
    if (q->held != 0) std::memmove(q->storage, q->storage + q->read_pos, q->held);
    q->read_pos = 0;
    q->write_pos = q->held;
}

// Enlarges the storage by whole growth steps so that `needed` bytes fit.
int Grow(v3Buffer* q, uint64_t needed) {
    if (q->step == 0) return -2;
    const uint64_t shortfall = needed - q->capacity;
    const uint64_t steps = shortfall / q->step + (shortfall % q->step != 0 ? 1 : 0);
    if (steps > std::numeric_limits<uint64_t>::max() / q->step) return -1;
    const uint64_t extra = steps * q->step;
    if (extra > std::numeric_limits<uint64_t>::max() - q->capacity) return -1;
    const uint64_t new_capacity = q->capacity + extra;
    if (!Addressable(new_capacity)) return -1;
    void* grown = std::realloc(q->storage, static_cast<size_t>(new_capacity));
    if (grown == nullptr) return -1;
    q->storage = static_cast<uint8_t*>(grown);
    std::memset(q->storage + q->capacity, 0, static_cast<size_t>(extra));
    q->capacity = new_capacity;
    return 0;
}

}  // namespace

int v3BufferInit(v3Buffer* q, uint64_t capacity, uint32_t kind, uint64_t step) {
    if (q == nullptr) return -4;
    if (q->kind != 0) return -2;
    if (kind != kBufferKind) return -3;
    if (!Addressable(capacity)) return -1;
    uint8_t* storage = nullptr;
    if (capacity != 0) {
        storage = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(capacity), 1));
        if (storage == nullptr) return -1;
    }
    q->held = 0;
    q->capacity = capacity;
    q->step = step;
    q->read_pos = 0;
    q->write_pos = 0;
    q->storage = storage;
    q->kind = kind;
    return 0;
}

int v3BufferAppend(v3Buffer* q, const void* data, uint64_t n) {
    if (!Made(q)) return -4;
    if (n == 0) return 0;
    if (data == nullptr) return -4;
    if (n > std::numeric_limits<uint64_t>::max() - q->held) return -1;
    const uint64_t needed = q->held + n;
    if (needed > q->capacity) {
        const int rc = Grow(q, needed);
        if (rc != 0) return rc;
    }
    if (n > q->capacity - q->write_pos) Compact(q);
    std::memcpy(q->storage + q->write_pos, data, static_cast<size_t>(n));
    q->write_pos += n;
    q->held += n;
    return 0;
}

uint64_t v3BufferRead(void* dst, uint64_t n, v3Buffer* q) {
    if (!Made(q) || dst == nullptr) return 0;
    const uint64_t take = n < q->held ? n : q->held;
    if (take == 0) return 0;
    std::memcpy(dst, q->storage + q->read_pos, static_cast<size_t>(take));
    q->read_pos += take;
    q->held -= take;
    if (q->held == 0) {
        q->read_pos = 0;
        q->write_pos = 0;
    }
    return take;
}

int v3BufferTakeAll(v3Buffer* q, std::string* out) {
    if (q == nullptr || out == nullptr) return -4;
    std::string result;
    try {
        if (q->held > result.max_size()) return -1;
        result.resize(static_cast<size_t>(q->held));
    } catch (const std::bad_alloc&) {
        return -1;
    } catch (const std::length_error&) {
        return -1;
    }
    v3BufferRead(result.data(), result.size(), q);
    *out = std::move(result);
    return 0;
}

uint64_t v3BufferSize(const v3Buffer* q) {
    return q == nullptr ? 0 : q->held;
}

void v3BufferFree(v3Buffer* q) {
    if (q == nullptr) return;
    std::free(q->storage);
    *q = v3Buffer{};
}
