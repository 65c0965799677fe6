// The unit status files that people and other programs read while a core
// works: unitinfo.txt and, in the partner edition, two registry values.
//
// The core's progress record ("wuinfo_NN.dat", 512 bytes, little-endian):
//   4 char[80] unit name   84 u32 total steps   88 u32 steps done
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/int128.h"

inline constexpr size_t kProgressRecordSize = 512;
inline constexpr size_t kProgressName = 4;
inline constexpr size_t kProgressNameSize = 80;
inline constexpr size_t kProgressTotal = 84;
inline constexpr size_t kProgressDone = 88;

inline constexpr const char* kUnitInfoFile = "unitinfo.txt";

// Replaces unitinfo.txt: unit name, download time (when received is given),
// due time (when deadline is given) and a progress bar. Failures are silent.
void WriteUnitInfo(const uint8_t* record, const Int128* received, const Int128* deadline);

// Stores the unit name and the rounded percentage of record as ProteinName
// and PercentComplete under the partner's key. 0, or -1 when the key is
// missing or a value cannot be stored.
int WritePartnerRegistry(const uint8_t* record);

// Deletes the structure snapshot the core writes for viewers
// (work/current.xyz), once a unit's results have been taken. The deletion's
// status.
int RemoveSnapshot();
