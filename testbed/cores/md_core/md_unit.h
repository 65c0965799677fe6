// The demo core's work unit, "wudata_NN.dat". Little-endian, fixed offsets:
//
//   0   char[8]  magic "QRVMDUNT"
//   8   u32      format version (1)
//  12   u32      header size (256)
//  16   u64      unit id (the issuing server's own number)
//  24   char[80] unit name, zero-terminated
// 104   u32      particle count N
// 108   u32      total steps
// 112   u32      checkpoint interval, steps
// 116   u32      energy sample interval, steps
// 120   u32      probe steps: the result carries the state this many steps
//                after the start and this many steps before the end
// 124   u32      reserved, 0
// 128   f64      box edge L (cubic, periodic)
// 136   f64      time step dt
// 144   f64      Lennard-Jones cutoff rc (potential shifted to 0 there)
// 152   f64      neighbour-list skin
// 160   f64      density (informational)
// 168   f64      initial temperature (informational)
// 176   f64      energy tolerance per particle (the server's acceptance bound)
// 184   72 bytes reserved, 0
// 256   N x 48   per particle x, y, z, vx, vy, vz (f64), reduced LJ units
// 256+48N u8[32] SHA-256 of every byte before it
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace md {

constexpr size_t kUnitHeaderSize = 256;
constexpr size_t kParticleBytes = 48;
constexpr size_t kDigestSize = 32;
constexpr uint32_t kUnitVersion = 1;
// The client carries at most this many bytes of work data or results.
constexpr size_t kMaxTransfer = 2097152;

struct Unit {
    uint64_t id = 0;
    std::string name;
    uint32_t n = 0;
    uint32_t steps = 0;
    uint32_t checkpoint_every = 0;
    uint32_t sample_every = 0;
    uint32_t probe_steps = 0;
    double box = 0, dt = 0, cutoff = 0, skin = 0;
    double density = 0, temperature = 0, energy_tolerance = 0;
    std::vector<double> state;  // 6 per particle: x y z vx vy vz
    uint8_t digest[kDigestSize] = {};  // SHA-256 of the whole unit file
};

// Decodes and validates a unit file. Returns 0, or the core exit code that
// says what is wrong (kExitBadFormat, kExitOutOfDate, kExitCorrupt,
// kExitBadUnit), with a reason in *why.
int DecodeUnit(const std::vector<uint8_t>& file, Unit* unit, std::string* why);

// Energy samples of a run: step 0, every sample interval, and the last step.
uint32_t SampleCount(const Unit& unit);
// Bytes of the result this unit produces (see md_files.h).
size_t ResultSize(const Unit& unit);

void Sha256(const uint8_t* data, size_t size, uint8_t out[kDigestSize]);

}  // namespace md
