// Who the client is, as its request records tell the servers. The client
// builds it once at start-up from its settings and command line and hands it
// down by reference.
#pragma once

#include <cstdint>

struct v3Config;

struct ClientIdentity {
    // client.cfg, for the user name and team; none leaves those fields empty.
    v3Config* config = nullptr;
    uint64_t user_id = 0;
    uint32_t machine_id = 1;     // 1..4
    uint64_t benchmark = 0;      // the benchmark figure times 4
    uint32_t edition_code = 0;   // its low 16 bits go on the wire
    uint16_t client_type = 0;    // 0 no preference, 1 qrv, 2 tmx
    uint16_t advmethods = 0;     // -advmethods
    uint16_t betateam = 0;       // -betateam
    uint16_t internal = 0;       // -internal
};
