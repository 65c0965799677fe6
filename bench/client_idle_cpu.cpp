// What the client itself costs while a core computes: the real qrv3 runs
// the scriptable test core on one unit, and over the core's run the client's
// own CPU time (all its threads) and its resident memory are read from
// /proc. The target is below 0.1% of one core.
//
//   bench_client_idle_cpu [SECONDS]     default 60
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "queue/work_queue.h"
#include "support/time_value.h"

namespace fs = std::filesystem;

namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// CPU time of every thread of pid, in nanoseconds (first field of each
// task's schedstat: time spent on a processor).
uint64_t CpuNanoseconds(pid_t pid) {
    uint64_t total = 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    if (DIR* d = opendir(tasks.c_str())) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            std::istringstream in(Slurp(tasks + "/" + e->d_name + "/schedstat"));
            uint64_t ns = 0;
            in >> ns;
            total += ns;
        }
        closedir(d);
    }
    return total;
}

// A "Name:  value kB" line of /proc/PID/status, as text.
std::string StatusField(pid_t pid, const std::string& name) {
    std::istringstream in(Slurp("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(name + ":", 0) == 0) {
            const size_t v = line.find_first_not_of(" \t", name.size() + 1);
            return v == std::string::npos ? "" : line.substr(v);
        }
    }
    return "?";
}

bool SetUpDirectory(const fs::path& dir, const fs::path& bin) {
    fs::create_directories(dir / "work");
    fs::create_directories(dir / "registry");
    std::ofstream(dir / "client.cfg")
        << "[settings]\nusername=Bench\nteam=0\nasknet=no\nmachineid=1\nuserid=1A2B3C4D5E6F7081\n\n"
           "[http]\nactive=no\nhost=localhost\nport=8080\nusereg=no\nusepasswd=no\n\n";
    std::ofstream(dir / "work" / "wudata_03.dat") << "unit data";
    fs::create_symlink(bin / "test_core", dir / "QrvCore_78.exe");
    fs::current_path(dir);
    std::unique_ptr<WorkQueue> queue = NewWorkQueue();
    if (queue == nullptr) return false;
    QueueEntry& e = queue->entries[3];
    e.status = kSlotReady;
    v3TimeNow(&e.received);
    e.set_packet_type(kStoredHeaderType);
    e.set_core_type(0x78);
    e.set_core_name("BenchCore");
    queue->current = 3;
    const bool saved = SaveQueue(queue.get()) == 0;
    return saved;
}

pid_t StartClient(const fs::path& qrv3, const fs::path& dir) {
    const std::string registry = "QRV_REGISTRY_DIR=" + (dir / "registry").string();
    const std::string script = "QRV_TEST_CORE_SCRIPT=" + (dir / "core.script").string();
    std::vector<std::string> env_text = {registry, script};
    for (char** e = environ; *e != nullptr; ++e) env_text.push_back(*e);
    std::vector<char*> envp;
    for (std::string& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = qrv3.string();
    char* argv[] = {program.data(), nullptr};
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        execve(argv[0], argv, envp.data());
        _exit(127);
    }
    return pid;
}

bool WaitForCoreStart(const fs::path& journal, int timeout_s) {
    for (int i = 0; i < timeout_s * 10; ++i) {
        if (Slurp(journal.string()).find("start 1 ") != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    if (seconds < 1) {
        std::fprintf(stderr, "usage: %s [SECONDS]\n", argv[0]);
        return 2;
    }
    const fs::path bin = fs::canonical("/proc/self/exe").parent_path().parent_path() / "bin";
    char tmpl[] = "/tmp/client_idle_cpu.XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return 1;
    const fs::path dir = tmpl;
    if (!SetUpDirectory(dir, bin)) {
        std::fprintf(stderr, "could not set up %s\n", tmpl);
        return 1;
    }
    // The core outlives the window; the client is stopped before it ends.
    std::ofstream(dir / "core.script") << "log Bench core working\nprogress 1 100\nsleep_ms "
                                       << (seconds + 30) * 1000 << "\nexit 100\n";

    const pid_t client = StartClient(bin / "qrv3", dir);
    if (client <= 0 || !WaitForCoreStart(dir / "core.script.journal", 120)) {
        std::fprintf(stderr, "the client did not start its core\n");
        if (client > 0) kill(client, SIGKILL);
        return 1;
    }
    // Past the first exit poll and the output thread's first reads.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const uint64_t cpu0 = CpuNanoseconds(client);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const uint64_t cpu1 = CpuNanoseconds(client);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const std::string rss = StatusField(client, "VmRSS");
    const std::string peak = StatusField(client, "VmHWM");
    const std::string threads = StatusField(client, "Threads");

    kill(client, SIGINT);
    int status = 0;
    waitpid(client, &status, 0);
    const double cpu_ms = static_cast<double>(cpu1 - cpu0) / 1e6;
    std::printf("client CPU while its core ran: %.3f ms in %.1f s = %.4f%% of one core "
                "(target below 0.1%%)\n",
                cpu_ms, wall, cpu_ms / (wall * 1000.0) * 100.0);
    std::printf("client resident memory: %s (peak %s), %s threads\n", rss.c_str(), peak.c_str(),
                threads.c_str());
    std::printf("client exit code after Ctrl-C: %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    fs::current_path("/");
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
