// The public key record the client verifies core bundles with. It is made at
// configure time from the record file the build names (the testbed's demo key
// unless a deployment names its own), checked there for type, size and the
// 4096-bit ceiling.
#pragma once

#include <cstddef>
#include <cstdint>

extern const uint8_t kQrvPublicKeyRecord[];
extern const size_t kQrvPublicKeyRecordSize;
