// The three outputs of the formatting engine: console, open file, buffer.
#include "support/format.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "support/file.h"
#include "support/format_engine.h"

namespace {

int ClampCount(uint64_t n) { return n > INT_MAX ? INT_MAX : static_cast<int>(n); }

// Collects output in a small block so that one conversion with a wide field
// does not turn into thousands of single-character writes.
class ChunkedSink : public FormatSink {
public:
    void Write(const char* p, size_t n) override {
        while (n > 0) {
            size_t room = sizeof chunk_ - used_;
            size_t k = n < room ? n : room;
            std::memcpy(chunk_ + used_, p, k);
            used_ += k;
            p += k;
            n -= k;
            if (used_ == sizeof chunk_) Flush();
        }
    }
    // Passes on what is held; gives false once any write has failed.
    bool Flush() {
        if (used_ > 0 && !failed_ && !Emit(chunk_, used_)) failed_ = true;
        used_ = 0;
        return !failed_;
    }

protected:
    virtual bool Emit(const char* p, size_t n) = 0;

private:
    char chunk_[512];
    size_t used_ = 0;
    bool failed_ = false;
};

class ConsoleSink : public ChunkedSink {
protected:
    bool Emit(const char* p, size_t n) override {
        return std::fwrite(p, 1, n, stdout) == n;
    }
};

class FileSink : public ChunkedSink {
public:
    explicit FileSink(v3File* file) : file_(file) {}

protected:
    bool Emit(const char* p, size_t n) override {
        uint64_t put = 0;
        return v3FileWrite(file_, &put, p, n) == kFileOk && put == n;
    }

private:
    v3File* file_;
};

// Stores at most size - 1 characters; the rest is counted by the engine but
// dropped here, so nothing can ever land past the buffer.
class BufferSink : public FormatSink {
public:
    BufferSink(char* buf, uint64_t size) : buf_(buf), limit_(size - 1) {}
    void Write(const char* p, size_t n) override {
        uint64_t room = limit_ - used_;
        uint64_t k = n < room ? n : room;
        std::memcpy(buf_ + used_, p, k);
        used_ += k;
    }
    uint64_t Terminate() {
        buf_[used_] = '\0';
        return used_;
    }

private:
    char* buf_;
    uint64_t limit_;
    uint64_t used_ = 0;
};

}  // namespace

int v3VPrint(const char* fmt, va_list ap) {
    if (fmt == nullptr) return 0;
    ConsoleSink sink;
    uint64_t n = v3Format(sink, fmt, ap);
    bool ok = sink.Flush();
    ok = std::fflush(stdout) == 0 && ok;
    return ok ? ClampCount(n) : -1;
}

int v3Print(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = v3VPrint(fmt, ap);
    va_end(ap);
    return n;
}

int v3VStringPrint(char* buf, uint64_t size, const char* fmt, va_list ap) {
    if (buf == nullptr || size == 0) return 0;
    BufferSink sink(buf, size);
    if (fmt != nullptr) v3Format(sink, fmt, ap);
    return ClampCount(sink.Terminate());
}

int v3StringPrint(char* buf, uint64_t size, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = v3VStringPrint(buf, size, fmt, ap);
    va_end(ap);
    return n;
}

int v3VFilePrint(v3File* f, const char* fmt, va_list ap) {
    if (f == nullptr) return -1;
    if (fmt == nullptr) return 0;
    FileSink sink(f);
    uint64_t n = v3Format(sink, fmt, ap);
    // A short file would silently lose a setting: report any failed write.
    return sink.Flush() ? ClampCount(n) : -1;
}

int v3FilePrint(v3File* f, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = v3VFilePrint(f, fmt, ap);
    va_end(ap);
    return n;
}
