// The packet records a server sends: the assignment reply, the user-ID
// reply and the 512-byte work header, read from arbitrary bytes. (The reply
// framing's leading CR LF rule is driven over a real connection by the
// http_response target.)
//
// Input: the bytes of the records, reused cyclically when short.
//
// Checks against a plain re-reading done here: the assignment reply's
// address and option byte, and its texts equal to the field's bytes up to
// the first zero, cut at the field's width, terminated inside their arrays
// (the record sits in an exactly sized heap block, so a read past it is a
// report); the user ID is the big-endian word; the work header's
// conversion turns exactly its five big-endian words into stored order and
// leaves every other byte alone; the core name read from a stored header
// never runs past its 64 bytes.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "common/fuzz_check.h"
#include "net/packet.h"
#include "net/work_header.h"
#include "queue/work_queue.h"

namespace {

uint32_t BE32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

uint32_t LE32(const uint8_t* p) {
    return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

std::string FieldText(const uint8_t* p, size_t width, size_t keep) {
    size_t n = 0;
    while (n < width && n < keep && p[n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

// A server's text as the client shows it: every control character (below
// 0x20, and 0x7F) replaced by "?", so that none acts on a console.
std::string Shown(std::string text) {
    for (char& c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) c = '?';
    }
    return text;
}

template <size_t N>
void CheckTerminated(const char (&text)[N]) {
    FUZZ_CHECK(std::memchr(text, 0, N) != nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    auto byte = [&](size_t i) { return data[i % size]; };

    // Assignment reply.
    std::unique_ptr<AssignmentReplyRecord> record(new AssignmentReplyRecord);
    for (size_t i = 0; i < kAssignmentReplySize; ++i) record->bytes[i] = byte(i);
    AssignmentReply reply;
    std::memset(&reply, 0x5A, sizeof reply);
    ReadAssignmentReply(&reply, *record);
    CheckTerminated(reply.core_location);
    CheckTerminated(reply.news);
    FUZZ_CHECK(reply.server_address == BE32(record->bytes + kAsrServerAddress));
    FUZZ_CHECK(reply.download_options == record->bytes[kAsrDownloadOptions]);
    FUZZ_CHECK(std::string(reply.core_location) ==
               FieldText(record->bytes + kAsrCoreLocation, 127, 127));
    FUZZ_CHECK(std::string(reply.news) == FieldText(record->bytes + kAsrNews, 128, 128));

    // User-ID reply, from an exactly sized block.
    std::unique_ptr<uint8_t[]> id(new uint8_t[kUserIdReplySize]);
    uint64_t want = 0;
    for (size_t i = 0; i < kUserIdReplySize; ++i) {
        id[i] = byte(i + 7);
        want = want << 8 | id[i];
    }
    FUZZ_CHECK(ReadUserIdReply(id.get()) == want);

    // Work header.
    std::unique_ptr<uint8_t[]> header(new uint8_t[kWorkHeaderBytes]);
    for (size_t i = 0; i < kWorkHeaderBytes; ++i) header[i] = byte(i + 13);
    std::unique_ptr<uint8_t[]> wire(new uint8_t[kWorkHeaderBytes]);
    std::memcpy(wire.get(), header.get(), kWorkHeaderBytes);
    WorkHeaderFromWire(header.get());
    static constexpr size_t kSwapped[] = {kWhPacketType, kWhCoreType, kWhProtocolVersion,
                                          kWhPayloadSize, kWhDeadlineSeconds};
    for (size_t i = 0; i < kWorkHeaderBytes; ++i) {
        bool in_swapped = false;
        for (size_t off : kSwapped) in_swapped = in_swapped || (i >= off && i < off + 4);
        if (!in_swapped) FUZZ_CHECK(header[i] == wire[i]);
    }
    for (size_t off : kSwapped) {
        FUZZ_CHECK(LE32(header.get() + off) == BE32(wire.get() + off));
        FUZZ_CHECK(LoadHeaderWord(header.get(), off) == BE32(wire.get() + off));
    }
    FUZZ_CHECK(LoadHeaderWord(header.get(), kWhServerAddress) == LE32(wire.get() + kWhServerAddress));

    // The core name of the header as a Queue entry keeps it.
    std::unique_ptr<QueueEntry> entry(new QueueEntry);
    std::memcpy(entry->work_header, header.get(), kWorkHeaderBytes);
    const std::string name = entry->core_name();
    FUZZ_CHECK(name.size() <= 63);
    FUZZ_CHECK(name == Shown(FieldText(entry->work_header + kWhCoreName, 64, 63)));
    return 0;
}
