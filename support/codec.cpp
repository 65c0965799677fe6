#include "support/codec.h"

#include <cstdlib>

namespace {

void Lock(v3Codec* codec) {
    // The acquisition waits without limit; its result carries nothing.
    (void)v3LockAcquire(&codec->lock, kLockWaitForever);
}

// A codec without private state has nothing for its lock to protect, so the
// lock is unmade again: a record that was only probed keeps no semaphore.
void UnlockIdle(v3Codec* codec) {
    v3LockRelease(&codec->lock);
    if (codec->private_state == nullptr) v3LockDestroy(&codec->lock);
}

void UnlockAndDestroy(v3Codec* codec) {
    v3LockRelease(&codec->lock);
    v3LockDestroy(&codec->lock);
}

v3CodecProcessOp ProcessOp(const v3Codec* codec) {
    return codec->direction == kCodecFirst ? codec->first_process : codec->second_process;
}

v3CodecEndOp EndOp(const v3Codec* codec) {
    return codec->direction == kCodecFirst ? codec->first_end : codec->second_end;
}

// After the end operation has released what the private state refers to.
CodecResult FinishEnd(v3Codec* codec) {
    codec->state = kCodecEnded;
    std::free(codec->private_state);
    codec->private_state = nullptr;
    UnlockAndDestroy(codec);
    return kCodecOk;
}

}  // namespace

CodecResult v3CodecStart(v3Buffer* q, v3Codec* codec,
                         v3CodecStartOp first_start, v3CodecProcessOp first_process,
                         v3CodecEndOp first_end,
                         v3CodecStartOp second_start, v3CodecProcessOp second_process,
                         v3CodecEndOp second_end,
                         uint32_t direction, uint32_t argument, uint64_t extra) {
    if (q == nullptr || codec == nullptr) return kCodecErrArgument;
    if (first_start == nullptr || first_process == nullptr || first_end == nullptr ||
        second_start == nullptr || second_process == nullptr || second_end == nullptr) {
        return kCodecErrArgument;
    }
    if (direction != kCodecFirst && direction != kCodecSecond) return kCodecErrArgument;

    Lock(codec);
    if (codec->private_state != nullptr) {
        v3LockRelease(&codec->lock);
        return kCodecErrState;
    }
    if (v3BufferInit(q, kCodecQueueCapacity, kBufferKind, kCodecQueueStep) != 0) {
        UnlockAndDestroy(codec);
        return kCodecErrMemory;
    }
    const v3CodecStartOp start = direction == kCodecFirst ? first_start : second_start;
    const CodecResult rc = start(codec, argument, extra);
    if (rc != kCodecOk) {
        // A start operation that failed must not leave a half-made state
        // behind; drop one anyway rather than leak it.
        std::free(codec->private_state);
        codec->private_state = nullptr;
        v3BufferFree(q);
        UnlockAndDestroy(codec);
        return rc;
    }
    codec->state = kCodecStarted;
    codec->argument = argument;
    codec->direction = direction;
    codec->first_start = first_start;
    codec->first_process = first_process;
    codec->first_end = first_end;
    codec->second_start = second_start;
    codec->second_process = second_process;
    codec->second_end = second_end;
    v3LockRelease(&codec->lock);
    return kCodecOk;
}

CodecResult v3CodecProcess(v3Buffer* q, v3Codec* codec, const void* data, uint64_t n) {
    if (q == nullptr || codec == nullptr || (data == nullptr && n != 0)) return kCodecErrArgument;
    Lock(codec);
    if ((codec->state != kCodecStarted && codec->state != kCodecProcessed) ||
        codec->private_state == nullptr) {
        UnlockIdle(codec);
        return kCodecErrState;
    }
    const CodecResult rc = ProcessOp(codec)(q, codec, data, n);
    codec->state = rc == kCodecOk ? kCodecProcessed : kCodecFailed;
    v3LockRelease(&codec->lock);
    return rc;
}

CodecResult v3CodecEnd(v3Buffer* q, v3Codec* codec) {
    if (codec == nullptr) return kCodecErrState;
    Lock(codec);
    // A failed codec is cleaned up, whatever its end operation says. Only a
    // codec that still holds its private state has operations to run: a
    // record that was never started has none stored.
    if (codec->state == kCodecFailed && codec->private_state != nullptr) {
        (void)EndOp(codec)(q, codec);
        return FinishEnd(codec);
    }
    if ((codec->state != kCodecStarted && codec->state != kCodecProcessed) ||
        codec->private_state == nullptr) {
        codec->state = kCodecFailed;
        UnlockIdle(codec);
        return kCodecErrState;
    }
    const CodecResult rc = EndOp(codec)(q, codec);
    if (rc != kCodecOk) {
        codec->state = kCodecFailed;
        v3LockRelease(&codec->lock);
        return rc;
    }
    return FinishEnd(codec);
}

CodecResult v3CodecRunOnce(const v3CodecTable& t, uint32_t direction, uint32_t argument,
                           const void* data, uint64_t n, std::string* out) {
    if (out == nullptr || (data == nullptr && n != 0)) return kCodecErrArgument;
    v3Buffer q{};
    v3Codec codec{};
    CodecResult rc = v3CodecStart(&q, &codec, t.first_start, t.first_process, t.first_end,
                                  t.second_start, t.second_process, t.second_end, direction,
                                  argument, 0);
    if (rc != kCodecOk) return rc;
    rc = v3CodecProcess(&q, &codec, data, n);
    const CodecResult end_rc = v3CodecEnd(&q, &codec);
    if (rc == kCodecOk) rc = end_rc;
    // A failed end leaves the codec failed; the next end cleans it up.
    if (end_rc != kCodecOk) (void)v3CodecEnd(&q, &codec);
    if (rc == kCodecOk && v3BufferTakeAll(&q, out) != 0) rc = kCodecErrMemory;
    v3BufferFree(&q);
    return rc;
}
