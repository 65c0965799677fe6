// Part files of core bundle downloads that a client killed in the middle of
// one left behind: nothing else ever names them again, so without a sweep
// every such end would leave megabytes in the working folder for good.
#pragma once

#include <cstdint>

// True for exactly the names a core bundle download writes into:
// "Core_" with one to eight lower-case hexadecimal digits, ".qrv.part-" and
// six letters or digits, and nothing before or after.
bool IsCoreBundlePartName(const char* name);

// Removes every entry of the working folder whose name IsCoreBundlePartName
// takes (a folder of such a name stays: only files and links go); no other
// name is touched, nor anything in a subfolder. Only for a client holding
// the folder's lock: a download of another client in the folder would lose
// its file. Returns how many were removed.
uint32_t RemoveCoreBundleParts();
