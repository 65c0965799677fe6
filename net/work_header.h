// Building and reading the 512-byte work header (its layout:
// queue/work_header_layout.h). Held in memory the header is in "stored
// order": the fields the client reads are little-endian, as the Queue entry
// keeps the header in queue.dat, on every CPU. Use LoadHeaderWord and
// StoreHeaderWord for them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "queue/work_header_layout.h"

struct ClientIdentity;

// Protocol version sent in every header: client 3.24.
inline constexpr uint32_t kProtocolVersion = 324;
// Largest work data a work assignment may announce.
inline constexpr uint32_t kMaxWorkPayload = 2097152;

struct WorkHeader {
    uint8_t bytes[kWorkHeaderBytes];
};
static_assert(sizeof(WorkHeader) == kWorkHeaderBytes, "work header size");

// A 32-bit field in stored order.
uint32_t LoadHeaderWord(const uint8_t* header, size_t offset);
void StoreHeaderWord(uint8_t* header, size_t offset, uint32_t value);

// Fills an outgoing header in place from identity. Before the call
// the caller stores core_type (and, for type 100, done_from_server) in stored
// order; the builder turns them and everything else it writes into wire
// order. Written for every type: core_type, protocol_version, machine_id,
// client_id (user ID + machine ID), server_address, user_name, team
// ("0" when unset or too long), os_type, cpu_type, and zeros over 328..511.
// Type 300 then writes packet_type, payload_size and both upload flags; type
// 100 writes packet_type, payload_size 0, benchmark and done_from_server.
// Every other byte keeps what the buffer held. 0, or -1 for another type
// (after the common fields).
int BuildClientHeader(const ClientIdentity& identity, uint32_t type, uint32_t payload_size,
                      uint32_t server_address, uint8_t* header);

// Turns a received header into stored order in place: packet_type,
// core_type, protocol_version, payload_size and deadline_seconds from
// big-endian. server_address and server_port arrive little-endian, which is
// already the stored order.
void WorkHeaderFromWire(uint8_t* header);
