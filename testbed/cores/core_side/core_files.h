// The files a core shares with its client: the core log the client copies
// line by line, the 512-byte progress record it reads on certain log lines,
// and whole-file helpers that never leave a half-written file behind.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "contract/core_contract.h"

namespace qrvcore {

// The core's log, "<dir>logfile_NN.txt". Opened for appending on the first
// line, so a core that never writes a line never creates it. Each line goes
// out whole and flushed: the client reads only complete lines, as they come.
class CoreLog {
public:
    explicit CoreLog(std::string path) : path_(std::move(path)) {}
    CoreLog(const CoreLog&) = delete;
    CoreLog& operator=(const CoreLog&) = delete;
    ~CoreLog();

    void Line(const std::string& text);
    // printf-style convenience for numeric lines.
    void Linef(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    void Disable() { disabled_ = true; }

private:
    std::string path_;
    std::FILE* file_ = nullptr;
    bool disabled_ = false;
};

// The progress record (layout: contract/core_contract.h).
constexpr size_t kProgressRecordSize = core_contract::kProgressRecordSize;
constexpr size_t kProgressNameOffset = core_contract::kProgressName;
constexpr size_t kProgressNameSize = core_contract::kProgressNameSize;
constexpr size_t kProgressTotalOffset = core_contract::kProgressTotal;
constexpr size_t kProgressDoneOffset = core_contract::kProgressDone;

std::vector<uint8_t> EncodeProgressRecord(const std::string& name, uint32_t total, uint32_t done);
// Replaces the record atomically: the client may read it at any moment.
bool WriteProgressRecord(const std::string& path, const std::string& name, uint32_t total,
                         uint32_t done);

// Writes path.tmp, flushes it to disk and renames it over path.
bool WriteFileAtomic(const std::string& path, const void* data, size_t size);

enum class ReadStatus { kOk, kMissing, kError };
ReadStatus ReadWholeFile(const std::string& path, std::vector<uint8_t>* out, size_t max_size);

// Removes path; true when it is gone afterwards (also when it never existed).
bool RemoveFile(const std::string& path);

// Little-endian field access at explicit offsets.
void PutU32(uint8_t* p, uint32_t v);
void PutU64(uint8_t* p, uint64_t v);
void PutF64(uint8_t* p, double v);
uint32_t GetU32(const uint8_t* p);
uint64_t GetU64(const uint8_t* p);
double GetF64(const uint8_t* p);

}  // namespace qrvcore
