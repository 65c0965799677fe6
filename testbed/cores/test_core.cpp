// The scriptable test core: a real core process whose behaviour a test
// chooses. It honours the core side of the client's contract (command line,
// -cleanup answered with 101, its two signal semaphores, the lifeline, the
// core log and the 512-byte progress record) and does whatever the script
// named by QRV_TEST_CORE_SCRIPT says (see test_core_script.h and README.md).
//
// Beside the script it keeps two files a test can read:
//   SCRIPT.runs     the number of normal starts so far
//   SCRIPT.journal  one line per event: "start N pid=P args=...",
//                   "cleanup pid=P args=...", "signal S", "lifeline gone",
//                   "crash", "exit N", "error: ..."
// Without QRV_TEST_CORE_SCRIPT it finishes every unit with 100 and keeps
// no journal.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include "contract/core_contract.h"
#include "core_side/core_args.h"
#include "core_side/core_exit_codes.h"
#include "core_side/core_files.h"
#include "core_side/core_process.h"
#include "test_core_script.h"

namespace cc = core_contract;

namespace {

constexpr int kScriptError = 125;  // the script itself is wrong: a test bug
constexpr unsigned kPollMs = 10;
constexpr unsigned kLifelineEveryMs = 100;

struct Answer {
    enum Kind { kExit, kIgnore, kCrash } kind = kExit;
    int code = qrvcore::kExitInterrupted;
    bool note = true;  // the default answer logs a checkpoint note
    long checkpoint_ms = 0;  // how long writing the checkpoint takes
};

class TestCore {
public:
    TestCore(const qrvcore::CoreArgs& args, std::string script_path)
        : args_(args),
          journal_path_(script_path.empty() ? "" : script_path + ".journal"),
          log_(args.UnitFile(cc::kCoreLogStem, cc::kLogExtension)),
          name_("Test unit " + args.suffix) {}

    void Journal(const std::string& line);
    int Run(const testcore::Section& section);
    qrvcore::CoreSignals& signals() { return signals_; }

private:
    int Do(const testcore::Command& c, bool* done);
    bool SleepWatching(long ms, int* code);
    bool Answered(int sig, int* code);
    void RemoveUnitFiles();
    [[noreturn]] void Crash();

    qrvcore::CoreArgs args_;
    std::string journal_path_;
    qrvcore::CoreLog log_;
    qrvcore::CoreSignals signals_;
    std::string name_;
    Answer on_sig2_, on_sig15_;
};

void TestCore::Journal(const std::string& line) {
    if (journal_path_.empty()) return;
    std::ofstream out(journal_path_, std::ios::app);
    out << line << '\n';
}

[[noreturn]] void TestCore::Crash() {
    Journal("crash");
    // A real crash would leave the semaphores behind; the test core removes
    // them so that crash tests do not litter /dev/shm. No core dump either.
    signals_.Remove();
    rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
    std::signal(SIGSEGV, SIG_DFL);
    std::raise(SIGSEGV);
    std::abort();
}

// Applies the scripted answer to signal sig. True when the core stops, with
// its exit code in *code.
bool TestCore::Answered(int sig, int* code) {
    Journal("signal " + std::to_string(sig));
    const Answer& a = sig == 2 ? on_sig2_ : on_sig15_;
    if (a.kind == Answer::kIgnore) return false;
    if (a.kind == Answer::kCrash) Crash();
    if (a.checkpoint_ms > 0) qrvcore::SleepMs(static_cast<unsigned>(a.checkpoint_ms));
    if (a.note) log_.Line("Checkpoint written, stopping on signal " + std::to_string(sig));
    *code = a.code;
    return true;
}

// Waits ms milliseconds while answering signals and watching the lifeline.
bool TestCore::SleepWatching(long ms, int* code) {
    const uint64_t end = qrvcore::MonotonicMs() + static_cast<uint64_t>(ms);
    uint64_t next_lifeline = 0;
    for (;;) {
        const uint64_t now = qrvcore::MonotonicMs();
        if (int sig = signals_.Take(); sig != 0 && Answered(sig, code)) return true;
        if (args_.lifeline != 0 && now >= next_lifeline) {
            if (!qrvcore::ProcessAlive(args_.lifeline)) {
                Journal("lifeline gone");
                log_.Line("Client process is gone; stopping");
                *code = qrvcore::kExitInterrupted;
                return true;
            }
            next_lifeline = now + kLifelineEveryMs;
        }
        if (now >= end) return false;
        qrvcore::SleepMs(static_cast<unsigned>(std::min<uint64_t>(kPollMs, end - now)));
    }
}

void TestCore::RemoveUnitFiles() {
    for (const char* stem : {cc::kWorkDataStem, cc::kResultsStem, cc::kProgressStem})
        qrvcore::RemoveFile(args_.UnitFile(stem, ".dat"));
}

Answer ParseAnswer(const testcore::Command& c) {
    Answer a;
    if (c.text.rfind("checkpoint ", 0) == 0) {
        a.checkpoint_ms = static_cast<long>(c.a);
        return a;
    }
    a.note = false;
    if (c.text == "ignore") a.kind = Answer::kIgnore;
    else if (c.text == "crash") a.kind = Answer::kCrash;
    else a.code = static_cast<int>(c.a);
    return a;
}

// One command; returns the exit code when the core stops, else -1.
int TestCore::Do(const testcore::Command& c, bool* stop) {
    int code = 0;
    *stop = false;
    if (c.verb == "log") {
        log_.Line(c.text);
    } else if (c.verb == "nolog") {
        log_.Disable();
    } else if (c.verb == "name") {
        name_ = c.text;
    } else if (c.verb == "progress") {
        qrvcore::WriteProgressRecord(args_.UnitFile(cc::kProgressStem, cc::kDataExtension), name_,
                                     static_cast<uint32_t>(c.b), static_cast<uint32_t>(c.a));
    } else if (c.verb == "result" || c.verb == "result_size") {
        std::string data = c.text + "\n";
        if (c.verb == "result_size") {
            data.resize(static_cast<size_t>(c.a));
            for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('A' + i % 26);
        }
        qrvcore::WriteFileAtomic(args_.UnitFile(cc::kResultsStem, cc::kDataExtension), data.data(), data.size());
    } else if (c.verb == "sleep_ms") {
        *stop = SleepWatching(c.a, &code);
    } else if (c.verb == "on_sigint") {
        on_sig2_ = ParseAnswer(c);
    } else if (c.verb == "on_sigterm") {
        on_sig15_ = ParseAnswer(c);
    } else if (c.verb == "remove_files") {
        RemoveUnitFiles();
    } else if (c.verb == "crash") {
        Crash();
    } else if (c.verb == "exit") {
        *stop = true;
        code = static_cast<int>(c.a);
    }
    return code;
}

int TestCore::Run(const testcore::Section& section) {
    for (const testcore::Command& c : section.commands) {
        // A signal that arrived while no sleep was watching is answered
        // before the next command, as a core checks between steps.
        int code = 0;
        if (int sig = signals_.Take(); sig != 0 && Answered(sig, &code)) return code;
        bool stop = false;
        code = Do(c, &stop);
        if (stop) return code;
    }
    return 0;  // a core that ends without a code; the client reads 99
}

// Reads the script and counts this start; "" or an error text.
std::string LoadScript(const std::string& path, testcore::Script* script, long* run_number,
                       bool count) {
    std::string text = testcore::DefaultScriptText();
    if (!path.empty()) {
        std::ifstream in(path, std::ios::binary);
        if (!in) return "cannot read script " + path;
        std::ostringstream s;
        s << in.rdbuf();
        text = s.str();
    }
    std::string err = testcore::ParseScript(text, script);
    if (!err.empty() || path.empty() || !count) return err;
    // Starts of the same script may overlap when a test runs several
    // clients; the lock keeps every start's number distinct.
    int fd = open((path + ".runs").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || flock(fd, LOCK_EX) != 0) return "cannot count starts in " + path + ".runs";
    char buf[32] = {};
    ssize_t got = pread(fd, buf, sizeof buf - 1, 0);
    long n = (got > 0 ? std::atol(buf) : 0) + 1;
    std::string out = std::to_string(n) + "\n";
    bool ok = ftruncate(fd, 0) == 0 && pwrite(fd, out.data(), out.size(), 0) ==
                                           static_cast<ssize_t>(out.size());
    close(fd);
    *run_number = n;
    return ok ? "" : "cannot count starts in " + path + ".runs";
}

}  // namespace

int main(int argc, char** argv) {
    const char* env = std::getenv("QRV_TEST_CORE_SCRIPT");
    const std::string script_path = env != nullptr ? env : "";
    qrvcore::CoreArgs args;
    const std::string arg_error = qrvcore::ParseCoreArgs(argc, argv, &args);
    TestCore core(args, script_path);
    const std::string joined = qrvcore::JoinArgs(argc, argv);
    if (!arg_error.empty()) {
        core.Journal("error: " + arg_error + " in '" + joined + "'");
        core.Journal("exit 115");
        return qrvcore::kExitBadArguments;
    }

    testcore::Script script;
    long run = 0;
    const std::string err = LoadScript(script_path, &script, &run, !args.cleanup);
    const std::string pid = std::to_string(getpid());
    core.Journal(args.cleanup ? "cleanup pid=" + pid + " args=" + joined
                              : "start " + std::to_string(run) + " pid=" + pid + " args=" + joined);
    if (!err.empty()) {
        core.Journal("error: " + err);
        core.Journal("exit " + std::to_string(kScriptError));
        return kScriptError;
    }
    const std::string sem_error = core.signals().Open();
    if (!sem_error.empty()) core.Journal("error: " + sem_error);

    const testcore::Section* section = args.cleanup ? script.ForCleanup() : script.ForRun(run);
    int code;
    if (section == nullptr && args.cleanup) {
        testcore::Script fallback;
        testcore::ParseScript("cleanup\nremove_files\nexit 101\n", &fallback);
        code = core.Run(*fallback.ForCleanup());
    } else if (section == nullptr) {
        core.Journal("error: no section for run " + std::to_string(run));
        code = kScriptError;
    } else {
        code = core.Run(*section);
    }
    core.Journal("exit " + std::to_string(code));
    return code;
}
