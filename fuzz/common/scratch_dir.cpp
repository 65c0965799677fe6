#include "common/scratch_dir.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <stdlib.h>
#include <unistd.h>

#include "common/fuzz_check.h"

namespace fs = std::filesystem;

namespace qrvfuzz {

namespace {

std::string MakeScratch() {
    const char* base = std::getenv("TMPDIR");
    std::string path = std::string(base && *base ? base : "/tmp") + "/qrvfuzz.XXXXXX";
    FUZZ_CHECK(mkdtemp(path.data()) != nullptr);
    return path;
}

// Static storage outlives the fuzzing loop; the tree goes when the process
// ends normally (a crash leaves it for the post-mortem).
struct Scratch {
    std::string path = MakeScratch();
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

}  // namespace

const std::string& ScratchDir() {
    static Scratch scratch;
    return scratch.path;
}

std::string WriteScratchFile(const std::string& name, const void* data, size_t n) {
    const std::string path = ScratchDir() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    FUZZ_CHECK(out.good());
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(n));
    out.close();
    FUZZ_CHECK(out.good());
    return path;
}

std::vector<std::string> ScratchEntries() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(ScratchDir())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void ClearScratch() {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(ScratchDir(), ec)) {
        fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(entry.path(), ec);
    }
}

InScratch::InScratch() {
    FUZZ_CHECK(getcwd(home_, sizeof home_) != nullptr);
    FUZZ_CHECK(chdir(ScratchDir().c_str()) == 0);
}

InScratch::~InScratch() { FUZZ_CHECK(chdir(home_) == 0); }

}  // namespace qrvfuzz
