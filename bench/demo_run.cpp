// Figures of one whole demo run (testbed/demo/run-demo): the demo core's
// integration steps per second as it ran under the client, the time from a
// unit's issue to its accepted result, and what the client itself costs over
// the run: its own CPU seconds (not counting its cores) and its peak
// resident memory. The core's speed on its own, outside the client, is
// bench_md_core_steps.
//
// Per unit it prints the client's turnaround: the time from issue to
// accepted result less the core's own computing time, that is what the
// client spends around the computation (fetching, starting the core,
// noticing its end, returning the result). The last line is the mean, as
// "turnaround: X.XX s per unit (core Y.YY s, issue to accepted Z.ZZ s)".
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
#include <vector>

namespace fs = std::filesystem;

namespace {

// The demo script sits in the source tree, which the build names.
fs::path DemoScript() {
    return fs::path(QRV_SOURCE_DIR) / "testbed" / "demo" / "run-demo";
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

// A comma-separated list of numbers ("-" for none).
std::vector<double> Numbers(const std::map<std::string, std::string>& f, const char* key) {
    std::vector<double> values;
    const auto it = f.find(key);
    if (it == f.end() || it->second == "-") return values;
    const std::string& text = it->second;
    for (size_t at = 0; at <= text.size();) {
        size_t comma = text.find(',', at);
        if (comma == std::string::npos) comma = text.size();
        values.push_back(std::atof(text.substr(at, comma - at).c_str()));
        at = comma + 1;
    }
    return values;
}

double Mean(const std::vector<double>& values, size_t count) {
    double sum = 0.0;
    for (size_t i = 0; i < count; ++i) sum += values[i];
    return count > 0 ? sum / static_cast<double>(count) : 0.0;
}

// Per unit and on average: issue to accepted, the core's computing, and the
// difference. The core's figures are its "Performance:" lines in log order,
// one per unit in the demo, whose units each run once.
void PrintTurnaround(const std::map<std::string, std::string>& f) {
    const std::vector<double> unit = Numbers(f, "unit_seconds");
    const std::vector<double> core = Numbers(f, "core_seconds");
    const std::vector<double> next = Numbers(f, "next_issue_seconds");
    const size_t n = unit.size() < core.size() ? unit.size() : core.size();
    for (size_t i = 0; i < n; ++i) {
        std::printf("demo_run:   unit %zu: issue to accepted %.2f s, core %.2f s, turnaround %.2f s", i,
                    unit[i], core[i], unit[i] - core[i]);
        if (i < next.size()) std::printf("; %.2f s from acceptance to the next issue", next[i]);
        std::printf("\n");
    }
    if (n == 0) {
        std::printf("turnaround: unknown (no unit with both figures)\n");
        return;
    }
    const double unit_mean = Mean(unit, n);
    const double core_mean = Mean(core, n);
    std::printf("turnaround: %.2f s per unit (core %.2f s, issue to accepted %.2f s)\n",
                unit_mean - core_mean, core_mean, unit_mean);
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
    PrintTurnaround(f);
    fs::remove_all(dir);
    return 0;
}
