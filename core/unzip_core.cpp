#include "core/unzip_core.h"

#include <memory>
#include <new>

#include "core/verify_core_bundle.h"
#include "log/log.h"
#include "support/byte_order.h"
#include "support/byte_queue.h"
#include "support/codec.h"
#include "support/file.h"

namespace {

// The bundle is read, and the core written, in pieces of this size.
constexpr uint64_t kUnzipPiece = 131072;

// Owns the decompression codec and its output queue for one unpacking: every
// path out of UnzipCore ends the codec and frees the queue.
class Decompression {
public:
    Decompression() = default;
    ~Decompression() {
        if (started_) v3DecompressEnd(&queue_, &codec_);
        v3BufferFree(&queue_);
    }
    Decompression(const Decompression&) = delete;
    Decompression& operator=(const Decompression&) = delete;

    int Init(uint64_t limit) {
        const int rc = v3DecompressInit(&queue_, &codec_, limit);
        started_ = rc == 0;
        return rc;
    }
    int Feed(const void* data, uint64_t n) { return v3Decompress(&queue_, &codec_, data, n); }
    // Ends the codec; *finished tells whether libbz2 saw the end of the stream.
    int End(int* finished) {
        started_ = false;
        return v3DecompressEnd(&queue_, &codec_, finished);
    }
    v3Buffer* output() { return &queue_; }

private:
    v3Buffer queue_{};
    v3Codec codec_{};
    bool started_ = false;
};

UnzipCoreVerifiedHook g_verified_hook = nullptr;

// Reads the compressed data length L from the bundle header. The bundle was
// verified just before, so L lies within the file.
int ReadDataLength(v3File* bundle, uint64_t* length) {
    uint8_t header[kBundleHeaderSize];
    uint64_t got = 0;
    if (v3FileSeek(bundle, 0) != 0 || v3FileRead(header, &got, bundle, sizeof header) != 0 ||
        got != sizeof header) {
        return -1;
    }
    ReadBE64(length, header + kBundleOffDataLength);
    return v3FileSeek(bundle, kBundleHeaderSize);
}

// Feeds the L signed bytes of compressed data to the codec, and nothing
// after them. Feeding the rest of the file too, as pieces come, would hand
// the codec a piece of signature bytes alone whenever the signature block
// starts a new piece, after the stream has ended: a genuine core refused,
// and downloaded again for ever. Nothing unsigned reaches the decompressor
// either. -1 when the codec refuses a piece or the file ends early.
int FeedBundle(v3File* bundle, uint64_t length, Decompression* dec, uint8_t* piece) {
    while (length > 0) {
        const uint64_t want = length < kUnzipPiece ? length : kUnzipPiece;
        uint64_t got = 0;
        if (v3FileRead(piece, &got, bundle, want) != 0 || got == 0) return -1;
        if (dec->Feed(piece, got) != 0) return -1;
        length -= got;
    }
    return 0;
}

// Writes the whole output queue to the core file. -1 after printing the size
// of the piece that could not be written.
int WriteCore(v3File* core, v3Buffer* output, uint8_t* piece) {
    for (;;) {
        const uint64_t n = v3BufferRead(piece, kUnzipPiece, output);
        if (n == 0) return 0;
        uint64_t put = 0;
        if (v3FileWrite(core, &put, piece, n) != 0 || put != n) {
            LogAt(kLogNormal, "Error writing %u bytes to output file\n", static_cast<unsigned>(n));
            return -1;
        }
    }
}

}  // namespace

void UnzipCoreSetVerifiedHook(UnzipCoreVerifiedHook hook) {
    g_verified_hook = hook;
}

int UnzipCore(const char* bundle_name, const char* core_file_name, uint64_t output_limit) {
    LogAt(kLogNormal, "Verifying core %s...\n", bundle_name);
    // One open file for both steps: opened again by name for unpacking, a
    // bundle renamed over the verified one in between would be unpacked and
    // run with no valid signature.
    ScopedFile bundle;
    const bool opened = v3FileOpen(bundle.get(), bundle_name, kFileModeRead) == 0;
    if (!opened) LogAt(kLogNormal, "Error opening compressed core file\n");
    if (!opened || VerifyCoreBundleFile(bundle.get()) != 0) {
        LogAt(kLogNormal, "Failed to verify core\n");
        return -1;
    }
    if (g_verified_hook != nullptr) g_verified_hook(bundle_name);
    LogAt(kLogNormal, "\n");
    LogAt(kLogNormal, "Trying to unzip core %s\n", core_file_name);

    uint64_t data_length = 0;
    if (ReadDataLength(bundle.get(), &data_length) != 0) {
        LogAt(kLogNormal, "- Couldn't open file %s \n", bundle_name);
        return -1;
    }
    // The old core goes first, so that the new one is a fresh file of this
    // client's (executable, mode 0700) and a link in its place is removed
    // rather than written through to a file elsewhere. A failure here shows
    // in the open below.
    v3FileDelete(core_file_name);
    ScopedFile core;
    if (v3FileOpen(core.get(), core_file_name,
                   kFileModeWrite | kFileModeCreate | kFileModeTruncate) != 0) {
        LogAt(kLogNormal, "- Couldn't open file %s \n", core_file_name);
        return -1;
    }

    std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[kUnzipPiece]);
    Decompression dec;
    if (!piece || dec.Init(output_limit) != 0) {
        LogAt(kLogNormal, "UnzipCore: Couldn't v3DecompressInit\n");
        return -1;
    }
    if (FeedBundle(bundle.get(), data_length, &dec, piece.get()) != 0) {
        LogAt(kLogNormal, "UnzipCore: Couldn't v3Decompress\n");
        return -1;
    }
    int finished = 0;
    if (dec.End(&finished) != 0) {
        LogAt(kLogNormal, "UnzipCore: Couldn't v3DecompressEnd\n");
        return -1;
    }
    // libbz2 reports no error for a stream that simply stops: what arrived
    // decompresses cleanly, and the rest of the core is missing. Only a
    // stream that reached its end-of-stream mark is a whole core.
    if (!finished) {
        LogAt(kLogNormal, "UnzipCore: Couldn't v3Decompress\n");
        return -1;
    }

    const uint64_t size = v3BufferSize(dec.output());
    if (WriteCore(core.get(), dec.output(), piece.get()) != 0) return -1;
    LogAt(kLogNormal, "Decompressed %s (%u bytes) successfully\n", core_file_name,
          static_cast<unsigned>(size));
    v3FileClose(core.get());
    v3FileClose(bundle.get());
    return 0;
}
