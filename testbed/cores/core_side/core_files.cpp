#include "core_side/core_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace qrvcore {

CoreLog::~CoreLog() {
    if (file_ != nullptr) std::fclose(file_);
}

void CoreLog::Line(const std::string& text) {
    if (disabled_) return;
    if (file_ == nullptr) {
        file_ = std::fopen(path_.c_str(), "a");
        if (file_ == nullptr) return;  // a core without a log still works
    }
    std::string line = text + "\n";
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
}

void CoreLog::Linef(const char* fmt, ...) {
    char buf[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    Line(buf);
}

std::vector<uint8_t> EncodeProgressRecord(const std::string& name, uint32_t total, uint32_t done) {
    std::vector<uint8_t> rec(kProgressRecordSize, 0);
    const size_t n = std::min(name.size(), kProgressNameSize - 1);
    std::memcpy(&rec[kProgressNameOffset], name.data(), n);
    PutU32(&rec[kProgressTotalOffset], total);
    PutU32(&rec[kProgressDoneOffset], done);
    return rec;
}

bool WriteProgressRecord(const std::string& path, const std::string& name, uint32_t total,
                         uint32_t done) {
    std::vector<uint8_t> rec = EncodeProgressRecord(name, total, done);
    return WriteFileAtomic(path, rec.data(), rec.size());
}

bool WriteFileAtomic(const std::string& path, const void* data, size_t size) {
    const std::string tmp = path + ".tmp";
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    size_t left = size;
    bool ok = true;
    while (left > 0) {
        ssize_t w = write(fd, p, left);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            ok = false;
            break;
        }
        p += w;
        left -= static_cast<size_t>(w);
    }
    if (ok && fsync(fd) != 0) ok = false;
    if (close(fd) != 0) ok = false;
    if (ok && rename(tmp.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) unlink(tmp.c_str());
    return ok;
}

ReadStatus ReadWholeFile(const std::string& path, std::vector<uint8_t>* out, size_t max_size) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return errno == ENOENT ? ReadStatus::kMissing : ReadStatus::kError;
    out->clear();
    uint8_t buf[65536];
    size_t got;
    bool too_big = false;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) {
        if (out->size() + got > max_size) {
            too_big = true;
            break;
        }
        out->insert(out->end(), buf, buf + got);
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (too_big) {
        // Keep one byte more than allowed so the caller can tell "too long"
        // from "exactly at the limit".
        out->resize(max_size + 1);
        return ReadStatus::kOk;
    }
    return failed ? ReadStatus::kError : ReadStatus::kOk;
}

bool RemoveFile(const std::string& path) {
    return unlink(path.c_str()) == 0 || errno == ENOENT;
}

void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutU64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutF64(uint8_t* p, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    PutU64(p, bits);
}

uint32_t GetU32(const uint8_t* p) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

uint64_t GetU64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

double GetF64(const uint8_t* p) {
    uint64_t bits = GetU64(p);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

}  // namespace qrvcore
