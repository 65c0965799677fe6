// The unit status files that people and other programs read while a core
// works: unitinfo.txt and, in the partner edition, two registry values. They
// are made from the core's progress record ("wuinfo_NN.dat"; its layout is
// part of the contract with the cores).
#pragma once

#include <cstddef>
#include <cstdint>

#include "contract/core_contract.h"
#include "support/int128.h"

using core_contract::kProgressDone;
using core_contract::kProgressName;
using core_contract::kProgressNameSize;
using core_contract::kProgressRecordSize;
using core_contract::kProgressTotal;

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
