// Big-endian (network order) conversions for wire and bundle fields. Each
// takes a destination and a source, does nothing when either is null, and may
// be used in place (dst == src): the source is read whole before the
// destination is written. Packet code converts records field by field in
// place this way.
#pragma once

#include <cstdint>

// 2 bytes, most significant first -> native uint16_t, and back.
void ReadBE16(void* dst, const void* src);
void WriteBE16(void* dst, const void* src);
// 4 bytes, most significant first -> native uint32_t, and back.
void ReadBE32(void* dst, const void* src);
void WriteBE32(void* dst, const void* src);
// 8 bytes, most significant first -> native uint64_t, and back.
void ReadBE64(void* dst, const void* src);
void WriteBE64(void* dst, const void* src);

// Little-endian fields, least significant byte first on every CPU: queue.dat,
// the work header as a Queue entry keeps it, the core's progress record and
// the few little-endian fields of the wire records.
uint32_t LoadLE32(const void* p);
void StoreLE32(void* p, uint32_t v);
uint64_t LoadLE64(const void* p);
void StoreLE64(void* p, uint64_t v);
