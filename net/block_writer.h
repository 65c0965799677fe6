// Gathers download blocks and writes them to the file ten at a time: the
// blocks are received 10,240 bytes at a time, and a disk write for each one
// would cost more than the network does.
#pragma once

#include <cstdint>
#include <memory>

struct v3File;

class BlockWriter {
public:
    BlockWriter(v3File* file, uint32_t block_size);
    // False when no memory could be had; nothing else works then.
    bool ok() const { return buffer_ != nullptr; }
    // Room for the next block.
    uint8_t* Block() { return buffer_.get() + fill_; }
    // Takes the n bytes just placed in Block(). False when a write failed.
    bool Commit(uint32_t n);
    // Writes what is gathered. False when the write failed or fell short.
    bool Flush();

private:
    v3File* file_;
    uint32_t block_size_;
    uint32_t capacity_;
    uint32_t fill_ = 0;
    std::unique_ptr<uint8_t[]> buffer_;
};
