#include "core/verify_core_bundle.h"

#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "core/bundle_digest.h"
#include "core/public_key_record.h"
#include "core/signature.h"
#include "log/log.h"
#include "support/byte_order.h"
#include "support/file.h"
#include "support/time_value.h"

namespace {

// The compressed core is streamed through both digests in pieces of this
// size; only the signature block is ever held in memory.
constexpr uint64_t kHashPiece = 4096;
// Slack allocated behind the signature block.
constexpr uint64_t kSignatureSlack = 1024;

// Adds up to `length` bytes from the file's position to the digest, stopping
// early at the end of the file. -1 when the digest refuses the data.
int HashCompressedCore(v3File* file, uint64_t length, uint8_t digest[kBundleDigestSize]) {
    BundleDigest hash;
    if (hash.Start() != 0) return -1;
    uint8_t piece[kHashPiece];
    uint64_t left = length;
    while (left > 0) {
        uint64_t got = 0;
        const uint64_t want = left < kHashPiece ? left : kHashPiece;
        if (v3FileRead(piece, &got, file, want) != 0 || got == 0) break;
        if (hash.Add(piece, static_cast<size_t>(got)) != 0) return -1;
        left -= got;
    }
    return hash.Finish(digest);
}

// The fields of the "Created:" and "Signed:" lines, in UTC.
struct BundleDate {
    const char* weekday;
    const char* month;
    unsigned day;
    long year;
    unsigned hour, minute, second;
};

BundleDate MakeBundleDate(int64_t seconds) {
    CalendarTime cal{};
    v3TimeToCalendar(&cal, MakeTimeValue(seconds, 0));
    return BundleDate{kWeekdayNames[cal.weekday % 7], kMonthNames[cal.month % 12], cal.day + 1,
                      static_cast<long>(cal.year), cal.hour, cal.minute, cal.second};
}

// Reads the header from the start of the open bundle, hashes the compressed
// core and reads the signature block into *block_out (S bytes of it used).
// Prints its own refusals.
int ReadBundle(v3File* file, uint8_t digest[kBundleDigestSize],
               std::unique_ptr<uint8_t[]>* block_out, uint64_t* block_length) {
    uint8_t header[kBundleHeaderSize];
    uint64_t got = 0;
    if (v3FileSeek(file, 0) != 0 || v3FileRead(header, &got, file, kBundleHeaderSize) != 0 ||
        got != kBundleHeaderSize) {
        LogAt(kLogNormal, "Could not read compressed core for verification.\n");
        return -1;
    }
    uint32_t magic = 0;
    uint64_t data_length = 0;
    uint64_t sig_length = 0;
    ReadBE32(&magic, header + kBundleOffMagic);
    ReadBE64(&data_length, header + kBundleOffDataLength);
    ReadBE64(&sig_length, header + kBundleOffSigLength);
    if (magic != kBundleMagic) {
        LogAt(kLogNormal, "Bad file format for downloaded core bundle.\n");
        return -1;
    }
    if (HashCompressedCore(file, data_length, digest) != 0) {
        LogAt(kLogNormal, "Hash error whilst verifying compressed core.\n");
        return -1;
    }
    // A length beyond what the file still holds cannot be read; refusing it
    // before allocating keeps a hostile header from asking for gigabytes.
    const uint64_t position = file->position;
    const uint64_t remaining = file->size > position ? file->size - position : 0;
    if (sig_length > remaining) {
        LogAt(kLogNormal, "Error reading signature from downloaded core file.\n");
        return -1;
    }
    // The block and its slack must fit the address space: on a 32-bit
    // processor a length near 2^32 would wrap the size of the allocation to
    // a few bytes, and the read below would run far past them.
    std::unique_ptr<uint8_t[]> block;
    if (sig_length <= std::numeric_limits<size_t>::max() - kSignatureSlack) {
        block.reset(new (std::nothrow) uint8_t[static_cast<size_t>(sig_length + kSignatureSlack)]());
    }
    if (!block) {
        LogAt(kLogNormal, "Memory problems.\n");
        return -1;
    }
    got = 0;
    if (v3FileRead(block.get(), &got, file, sig_length) != 0 || got != sig_length) {
        LogAt(kLogNormal, "Error reading signature from downloaded core file.\n");
        return -1;
    }
    *block_out = std::move(block);
    *block_length = sig_length;
    return 0;
}

}  // namespace

int VerifyCoreBundle(const char* bundle_name) {
    ScopedFile file;
    if (v3FileOpen(file.get(), bundle_name, kFileModeRead) != 0) {
        LogAt(kLogNormal, "Error opening compressed core file\n");
        return -1;
    }
    return VerifyCoreBundleFile(file.get());
}

int VerifyCoreBundleFile(v3File* bundle) {
    uint8_t digest[kBundleDigestSize];
    std::unique_ptr<uint8_t[]> block_bytes;
    uint64_t block_length = 0;
    if (ReadBundle(bundle, digest, &block_bytes, &block_length) != 0) return -1;

    SignatureBlock block;
    if (DecodeSignatureBlock(&block, block_bytes.get(), block_length) != 0) {
        LogAt(kLogNormal, "Invalid signature in downloaded core file.\n");
        return -1;
    }
    PublicKey key;
    if (LoadPublicKey(&key, kQrvPublicKeyRecord, kQrvPublicKeyRecordSize) != 0) {
        LogAt(kLogNormal, "Fatal: Could not load public key.\n");
        return -1;
    }
    SignedMessage message;
    if (OpenSignedMessage(&message, block, key) != 0) {
        LogAt(kLogNormal, "Unable to decode signature from downloaded core file.\n");
        return -1;
    }
    if (std::memcmp(message.digest, digest, kBundleDigestSize) != 0 ||
        message.signature_scheme != 5 || message.digest_scheme != 204) {
        LogAt(kLogNormal, "Signature is _NOT_ valid on given file.\n");
        return -1;
    }
    if (LogLevelOn(kLogNormal)) {
        LogPrint("Signature is VALID\n");
        const BundleDate c = MakeBundleDate(key.created);
        LogPrint("Created: %.9s %.9s %u, %ld %02u:%02u:%02u UTC\n", c.weekday, c.month, c.day,
                 c.year, c.hour, c.minute, c.second);
        const BundleDate s = MakeBundleDate(message.signing_time);
        LogPrint("Signed: %.9s %.9s %u, %ld %02u:%02u:%02u UTC\n", s.weekday, s.month, s.day,
                 s.year, s.hour, s.minute, s.second);
    }
    return 0;
}
