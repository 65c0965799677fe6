#include "client/core_output.h"

#include <cstring>
#include <string>

#include "client/core_launch.h"
#include "log/log.h"
#include "queue/unit_progress.h"

namespace {

constexpr uint32_t kOpenRetryMs = 100;
constexpr uint32_t kReadEveryMs = 500;
constexpr uint64_t kReadChunk = 4096;

// Reads the core log as it grows and prints it line by line.
class CoreLogCopier {
public:
    CoreLogCopier(const char* path, const UnitProgressInputs& progress) : path_(path), progress_(progress) {}

    bool TryOpen() {
        if (!open_) open_ = v3FileOpen(file_.get(), path_, kFileModeRead) == kFileOk;
        return open_;
    }
    bool is_open() const { return open_; }

    // Prints every line that is complete now. The last call (after the core
    // has exited) also prints an unfinished last line, without the check.
    void Copy(bool last) {
        ReadAvailable();
        size_t at = 0;
        for (;;) {
            const size_t left = pending_.size() - at;
            const size_t scan = left < kCoreLogLineMax ? left : kCoreLogLineMax;
            const size_t newline = pending_.find('\n', at);
            size_t length;
            if (newline != std::string::npos && newline - at < scan) {
                length = newline - at + 1;
            } else if (left >= kCoreLogLineMax) {
                length = kCoreLogLineMax;  // an overlong line goes out in pieces
            } else {
                break;
            }
            Emit(pending_.substr(at, length), !last);
            at += length;
        }
        pending_.erase(0, at);
        if (last && !pending_.empty()) {
            Emit(pending_ + "\n", false);
            pending_.clear();
        }
    }

private:
    void ReadAvailable() {
        char chunk[kReadChunk];
        uint64_t got = 0;
        do {
            if (v3FileRead(chunk, &got, file_.get(), sizeof chunk) != kFileOk) return;
            pending_.append(chunk, static_cast<size_t>(got));
        } while (got == sizeof chunk);
    }

    void Emit(std::string line, bool check) {
        const bool starts_line = at_line_start_;
        at_line_start_ = !line.empty() && line.back() == '\n';
        // A core that writes CR LF line ends gives plain lines all the same.
        if (line.size() >= 2 && line[line.size() - 2] == '\r' && line.back() == '\n') {
            line.erase(line.size() - 2, 1);
        }
        if (gCoreRecord.output_quiet.load() != 0) return;
        LogAt(kLogNormal, "%s", line.c_str());
        if (check && starts_line && IsProgressLine(line.c_str())) {
            UnitProgressInputs inputs = progress_;
            inputs.core_running = gCoreRecord.running.load() != 0;
            CheckUnitProgressWith(inputs);
        }
    }

    const char* path_;
    const UnitProgressInputs& progress_;
    ScopedFile file_;
    bool open_ = false;
    bool at_line_start_ = true;
    std::string pending_;
};

}  // namespace

bool IsProgressLine(const char* line) {
    return std::strncmp(line, "Finished", 8) == 0 ||
           std::strncmp(line, "Writing local files", 19) == 0;
}

void CoreOutputThread(void* arg) {
    auto* handshake = static_cast<CoreOutputHandshake*>(arg);
    {
        CoreLogCopier copier(handshake->log_path, handshake->progress);
        // Both waits are cut short by the core's exit, so they never hold
        // up the launcher; they only pace the look at a file that gives no
        // notice of its own growth.
        while (handshake->done.load() == 0) {
            handshake->exited.Sleep(kOpenRetryMs);
            if (copier.TryOpen()) break;
        }
        if (copier.is_open()) {
            while (handshake->done.load() == 0) {
                copier.Copy(false);
                handshake->exited.Sleep(kReadEveryMs);
            }
        }
        // A core that ended before the log could be opened still has its
        // lines shown: one more try once it is gone.
        if (copier.TryOpen()) copier.Copy(true);
    }
    handshake->finished.store(1);
    // The launcher may release the handshake as soon as this wake is seen.
    handshake->stopped.Wake();
}
