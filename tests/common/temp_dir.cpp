#include "common/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <stdlib.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace qrvtest {

void TempDirTest::SetUp() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/qrvtest.XXXXXX";
    std::string buf = pattern;
    ASSERT_NE(mkdtemp(buf.data()), nullptr) << "mkdtemp " << pattern;
    dir_ = buf;
    old_cwd_ = fs::current_path().string();
    fs::current_path(dir_);
}

void TempDirTest::TearDown() {
    std::error_code ec;
    if (!old_cwd_.empty()) fs::current_path(old_cwd_, ec);
    if (!dir_.empty()) {
        // Tests create read-only files and folders on purpose; make them
        // removable before removing the tree.
        for (auto it = fs::recursive_directory_iterator(dir_, ec);
             it != fs::recursive_directory_iterator(); it.increment(ec)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir_, ec);
    }
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFileText(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(out.good()) << "cannot write " << path;
    out << content;
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

std::string BinPath(const std::string& name) { return std::string(QRV_BIN_DIR) + "/" + name; }

}  // namespace qrvtest
