// A private directory for targets whose readers take file names: each
// process makes one under $TMPDIR and removes it when it ends.
#pragma once

#include <string>
#include <vector>

namespace qrvfuzz {

// Absolute path of the process's scratch directory, without a trailing "/".
// Made on first use; a failure to make it aborts (nothing could be tested).
const std::string& ScratchDir();

// Writes bytes to a file in the scratch directory, replacing it; gives its
// absolute path.
std::string WriteScratchFile(const std::string& name, const void* data, size_t n);

// Names of the entries now in the scratch directory, sorted.
std::vector<std::string> ScratchEntries();

// Removes every entry of the scratch directory (the directory stays).
void ClearScratch();

// For readers that work in the current directory: each input runs in the
// scratch directory, and libFuzzer's own paths, which may be relative, are
// used between inputs, back in the directory it started in.
class InScratch {
public:
    InScratch();
    ~InScratch();
    InScratch(const InScratch&) = delete;
    InScratch& operator=(const InScratch&) = delete;

private:
    char home_[4096];
};

}  // namespace qrvfuzz
