// Figures of one whole demo run (testbed/demo/run-demo): the demo core's
// integration steps per second as it ran under the client, the time from a
// unit's issue to its accepted result, and what the client itself costs over
// the run: its own CPU seconds (not counting its cores) and its peak
// resident memory. The core's speed on its own, outside the client, is
// bench_md_core_steps.
//
//   bench_demo_run [--units N]     (default 3; needs python3 and a network
//                                   namespace, as the demo does)
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace fs = std::filesystem;

namespace {

// The demo script sits in the source tree; this file's own path names it.
fs::path DemoScript() {
    const std::string self = __FILE__;
    return fs::path(self.substr(0, self.rfind("/bench/"))) / "testbed" / "demo" / "run-demo";
}

std::map<std::string, std::string> ReadFigures(const fs::path& file) {
    std::map<std::string, std::string> figures;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        const size_t blank = line.find(' ');
        if (blank != std::string::npos) figures[line.substr(0, blank)] = line.substr(blank + 1);
    }
    return figures;
}

double Number(const std::map<std::string, std::string>& f, const char* key) {
    const auto it = f.find(key);
    return it == f.end() ? 0.0 : std::atof(it->second.c_str());
}

std::string Text(const std::map<std::string, std::string>& f, const char* key) {
    const auto it = f.find(key);
    return it == f.end() ? "-" : it->second;
}

}  // namespace

int main(int argc, char** argv) {
    int units = 3;
    if (argc == 3 && std::strcmp(argv[1], "--units") == 0) units = std::atoi(argv[2]);
    if (units < 1) {
        std::fprintf(stderr, "usage: bench_demo_run [--units N]\n");
        return 2;
    }
    const fs::path build = fs::canonical("/proc/self/exe").parent_path().parent_path();
    char tmpl[] = "/tmp/bench_demo_run.XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return 1;
    const fs::path dir = tmpl;
    const fs::path figures_file = dir / "figures.txt";
    const std::string cmd = "'" + DemoScript().string() + "' --quiet --units " + std::to_string(units) +
                            " --build '" + build.string() + "' --run-dir '" + (dir / "run").string() +
                            "' --figures '" + figures_file.string() + "' > '" + (dir / "demo.txt").string() +
                            "' 2>&1";
    const int status = std::system(cmd.c_str());
    const auto f = ReadFigures(figures_file);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || Number(f, "passed") != 1) {
        std::printf("demo_run: the demo failed; its report is in %s\n", (dir / "demo.txt").c_str());
        return 1;
    }
    const double run_s = Number(f, "run_seconds");
    const double client_cpu = Number(f, "client_cpu_seconds");
    const double accepted = Number(f, "units_accepted");
    std::printf("demo_run: %.0f units accepted of %.0f issued in %.1f s\n", accepted,
                Number(f, "units_issued"), run_s);
    std::printf("demo_run:   core: %.0f steps/s (its own count while run by the client); "
                "computing per unit %s s\n",
                Number(f, "core_steps_per_second"), Text(f, "core_seconds").c_str());
    std::printf("demo_run:   issue to accepted result per unit: %s s\n", Text(f, "unit_seconds").c_str());
    const double startup_cpu = Number(f, "client_startup_cpu_seconds");
    std::printf("demo_run:   client: %.3f s CPU over the run (%.2f%% of it), peak %.0f KiB resident\n",
                client_cpu, run_s > 0 ? 100.0 * client_cpu / run_s : 0.0, Number(f, "client_peak_rss_kb"));
    std::printf("demo_run:   client: %.3f s CPU before its first unit (start-up benchmark), then "
                "%.3f s per accepted unit\n",
                startup_cpu, accepted > 0 ? (client_cpu - startup_cpu) / accepted : 0.0);
    std::printf("demo_run:   cores: %.2f s CPU\n", Number(f, "cores_cpu_seconds"));
    fs::remove_all(dir);
    return 0;
}
