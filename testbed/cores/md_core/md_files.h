// The demo core's own files besides the unit: its checkpoint
// "wucheckpoint_NN.dat" and its result "wuresults_NN.dat". Both are
// little-endian with fixed offsets and carry a SHA-256 so that a damaged
// file is recognised, never used.
//
// Checkpoint:
//   0   char[8] "QRVMDCKP"        8  u32 version (1)     12 u32 N
//  16   u8[32]  SHA-256 of the unit file this run belongs to
//  48   u32     step reached      52 u32 energy samples taken S
//  56   u32     flags: 1 early snapshot taken, 2 late snapshot taken
//  60   u32     reserved, 0
//  64   u8[32]  SHA-256 over bytes 0..63 and 96..end
//  96   current state N x 48, early snapshot N x 48, late snapshot N x 48
//       (zeros until taken), then S samples of 24 bytes (below)
//
// Result:
//   0   char[8] "QRVMDRES"        8  u32 version (1)     12 u32 header size (128)
//  16   u8[32]  SHA-256 of the unit file (names the unit)
//  48   u64     unit id           56 u32 N               60 u32 steps done
//  64   u32     energy sample interval                   68 u32 sample count S
//  72   u32     probe steps k     76 u32 reserved, 0     80 f64 box edge
//  88   u8[32]  SHA-256 over bytes 0..87 and 120..end (the result's digest)
// 120   u8[8]   reserved, 0
// 128   S samples: u32 step, u32 0, f64 kinetic energy, f64 potential energy
//       then the state at step k, at step steps-k and at the last step,
//       N x 48 each (x y z vx vy vz, f64)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "md_core/md_unit.h"

namespace md {

struct Sample {
    uint32_t step = 0;
    double kinetic = 0, potential = 0;
};

// Everything a run needs to go on from where it stopped.
struct RunState {
    uint32_t step = 0;
    std::vector<double> state;         // 6 per particle
    std::vector<double> early, late;   // empty until the run gets there
    std::vector<Sample> samples;
};

std::vector<uint8_t> EncodeCheckpoint(const Unit& unit, const RunState& run);
// False (with the reason) when the file is damaged or belongs to another
// unit; the run then starts over.
bool DecodeCheckpoint(const std::vector<uint8_t>& file, const Unit& unit, RunState* run,
                      std::string* why);

// The finished run's result; run.step must equal unit.steps.
std::vector<uint8_t> EncodeResult(const Unit& unit, const RunState& run);

}  // namespace md
