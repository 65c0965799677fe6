// Shared by the fault-injection tests: a disk of the test's own (a small
// tmpfs in a private copy of the mount table, so the machine's real mounts
// are never touched) that can be filled to the last page or made read-only,
// snapshots of the files that must survive a fault, and the marker for
// tests of faults the client still has.
#pragma once

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "common/temp_dir.h"

namespace qrvfault {

// Tests of a fault the client is known to have are skipped, naming it,
// unless QRV_RUN_KNOWN_FAULTS=1 asks for them (to check a fix).
inline bool RunKnownFaults() {
    const char* v = std::getenv("QRV_RUN_KNOWN_FAULTS");
    return v != nullptr && std::strcmp(v, "1") == 0;
}
#define QRV_KNOWN_FAULT(what)                                                          \
    do {                                                                               \
        if (!qrvfault::RunKnownFaults()) {                                             \
            GTEST_SKIP() << "known client fault: " << (what)                           \
                         << " (QRV_RUN_KNOWN_FAULTS=1 runs this test)";                \
        }                                                                              \
    } while (0)

// Gives this process, and every process it starts from now on, a private
// copy of the mount table whose changes never reach the machine's. "" on
// success, else why it could not be had (the test is then skipped).
inline std::string PrivateMountTable() {
    if (unshare(CLONE_NEWNS) != 0) {
        return std::string("no private mount table (") + std::strerror(errno) +
               "): run as root or through testbed/netns-run";
    }
    // Without this a mount could still propagate to a shared parent.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return std::string("mounts cannot be made private: ") + std::strerror(errno);
    }
    return "";
}

// A tmpfs of a few pages at a folder of the test, with a filler file that
// takes up whatever space a test wants gone.
class SmallDisk {
public:
    SmallDisk() = default;
    ~SmallDisk() { Unmount(); }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    static size_t PageSize() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }

    // Mounts a tmpfs of `pages` pages at path (made if missing). "" or why not.
    std::string Mount(const std::string& path, size_t pages) {
        mkdir(path.c_str(), 0700);
        const std::string options = "size=" + std::to_string(pages * PageSize()) + ",mode=0700";
        if (mount("qrvfault", path.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            return "cannot mount a tmpfs at " + path + ": " + std::strerror(errno);
        }
        path_ = path;
        filler_ = path + "/.filler";
        return "";
    }

    // Unmounts; the folder stays (empty). Safe to call twice.
    void Unmount() {
        if (path_.empty()) return;
        umount2(path_.c_str(), MNT_DETACH);
        path_.clear();
    }

    // Takes up every free page but `keep` of them.
    bool Fill(size_t keep = 0) {
        const int fd = open(filler_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0) return false;
        // Large pieces first, then single bytes for the last partial page.
        static const std::string block(65536, 'f');
        for (size_t piece : {block.size(), size_t{1}}) {
            while (write(fd, block.data(), piece) > 0) {
            }
        }
        struct stat st {};
        const bool ok = fstat(fd, &st) == 0 &&
                        ftruncate(fd, std::max<off_t>(0, st.st_size - static_cast<off_t>(keep * PageSize()))) == 0;
        close(fd);
        return ok && FreePages() == keep;
    }

    // Removes the filler: the disk has its room back.
    void Free() { unlink(filler_.c_str()); }

    size_t FreePages() const {
        struct statvfs vfs {};
        if (statvfs(path_.c_str(), &vfs) != 0) return 0;
        return static_cast<size_t>(vfs.f_bavail * vfs.f_frsize / PageSize());
    }

    // Makes the whole file system read-only, or writable again.
    bool SetReadOnly(bool read_only) {
        const unsigned long flags = MS_REMOUNT | (read_only ? MS_RDONLY : 0);
        return mount(nullptr, path_.c_str(), nullptr, flags, nullptr) == 0;
    }

    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::string filler_;
};

// Every file under folder (recursively, names relative to it) with its
// bytes, leaving out the filler: two snapshots that compare equal mean
// nothing was changed, added or left behind.
inline void SnapshotInto(const std::string& folder, const std::string& prefix,
                         std::map<std::string, std::string>* out) {
    DIR* d = opendir(folder.c_str());
    if (d == nullptr) return;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == ".." || name == ".filler") continue;
        const std::string path = folder + "/" + name;
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            (*out)[prefix + name + "/"] = "";
            SnapshotInto(path, prefix + name + "/", out);
        } else if (S_ISREG(st.st_mode)) {
            (*out)[prefix + name] = qrvtest::ReadFileText(path);
        } else {
            (*out)[prefix + name] = "(not a regular file)";
        }
    }
    closedir(d);
}

inline std::map<std::string, std::string> Snapshot(const std::string& folder) {
    std::map<std::string, std::string> out;
    SnapshotInto(folder, "", &out);
    return out;
}

// The names whose content differs between two snapshots, or that only one
// holds, for a readable failure message.
inline std::string Differences(const std::map<std::string, std::string>& before,
                               const std::map<std::string, std::string>& after) {
    std::string out;
    for (const auto& [name, bytes] : before) {
        auto it = after.find(name);
        if (it == after.end()) {
            out += "  removed: " + name + "\n";
        } else if (it->second != bytes) {
            out += "  changed: " + name + "\n";
        }
    }
    for (const auto& [name, bytes] : after) {
        if (before.count(name) == 0) out += "  added: " + name + "\n";
    }
    return out;
}

}  // namespace qrvfault
