// Speed of the demo core (testbed/cores/md_core): integration steps per
// second and the time one default unit takes, run as the real program on
// units made by the work server's unit source.
//
//   bench_md_core_steps [--quick]     --quick: shorter runs
#include <sys/resource.h>
#include <sys/wait.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

double ChildCpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_CHILDREN, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

int Run(const std::string& cmd) {
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The core's own count from its "Performance: ..." log line.
std::string CoreReport(const fs::path& log) {
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("Performance: ", 0) == 0) return line.substr(13);
    return "(no performance line)";
}

bool Measure(const fs::path& bin, const fs::path& dir, const char* label, const std::string& opts,
             unsigned steps, unsigned atoms) {
    fs::remove_all(dir / "work");
    fs::create_directories(dir / "work");
    const std::string unit = (dir / "work" / "wudata_00.dat").string();
    if (Run((bin / "md_units").string() + " make-unit " + unit + " " + opts) != 0) {
        std::printf("md_core_steps: cannot make a unit (needs python3)\n");
        return false;
    }
    const double cpu0 = ChildCpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    const int code = Run("cd " + dir.string() + " && " + (bin / "md_core").string() +
                         " -dir work/ -suffix 00");
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = ChildCpuSeconds() - cpu0;
    if (code != 100) {
        std::printf("md_core_steps: %s: core exited with %d\n", label, code);
        return false;
    }
    std::printf("md_core_steps: %-22s %5u atoms %6u steps  %6.2f s wall  %6.2f s cpu  %7.0f steps/s (cpu)\n",
                label, atoms, steps, wall, cpu, cpu > 0 ? steps / cpu : 0.0);
    std::printf("md_core_steps:   core says: %s\n", CoreReport(dir / "work" / "logfile_00.txt").c_str());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const fs::path bin = fs::canonical("/proc/self/exe").parent_path().parent_path() / "bin";
    char tmpl[] = "/tmp/md_core_steps.XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return 1;
    const fs::path dir = tmpl;
    const unsigned unit_steps = quick ? 2000 : 12000;
    bool ok = Measure(bin, dir, "default unit", "--steps " + std::to_string(unit_steps) +
                      " --checkpoint-every " + std::to_string(unit_steps / 10), unit_steps, 864);
    ok = ok && Measure(bin, dir, "small (256 atoms)", "--cells 4 --steps 4000 --checkpoint-every 1000",
                       4000, 256);
    ok = ok && Measure(bin, dir, "large (2048 atoms)",
                       quick ? "--cells 8 --steps 500 --checkpoint-every 250"
                             : "--cells 8 --steps 2000 --checkpoint-every 500",
                       quick ? 500 : 2000, 2048);
    fs::remove_all(dir);
    return ok ? 0 : 1;
}
