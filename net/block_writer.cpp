#include "net/block_writer.h"

#include <new>

#include "support/file.h"

namespace {
constexpr uint32_t kBlocksPerWrite = 10;
}  // namespace

BlockWriter::BlockWriter(v3File* file, uint32_t block_size)
    : file_(file),
      block_size_(block_size),
      capacity_(block_size * kBlocksPerWrite),
      buffer_(new (std::nothrow) uint8_t[capacity_]) {}

bool BlockWriter::Commit(uint32_t n) {
    fill_ += n;
    if (capacity_ - fill_ >= block_size_) return true;
    return Flush();
}

bool BlockWriter::Flush() {
    if (fill_ == 0) return true;
    uint64_t put = 0;
    const bool ok = v3FileWrite(file_, &put, buffer_.get(), fill_) == kFileOk && put == fill_;
    fill_ = 0;
    return ok;
}
