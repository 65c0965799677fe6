#include "test_core_script.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace testcore {

namespace {

// 64 bits on every processor: progress counts reach 2^32 - 1, which a
// 32-bit long cannot hold.
bool Number(const std::string& s, int64_t* out) {
    if (s.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    *out = v;
    return true;
}

std::vector<std::string> Words(const std::string& s) {
    std::istringstream in(s);
    std::vector<std::string> w;
    for (std::string x; in >> x;) w.push_back(x);
    return w;
}

// "N", "N-M", "N+" or "*".
bool ParseRange(const std::string& r, Section* sec) {
    if (r == "*") {
        sec->first = 1;
        sec->last = -1;
        return true;
    }
    if (!r.empty() && r.back() == '+') {
        sec->last = -1;
        return Number(r.substr(0, r.size() - 1), &sec->first) && sec->first >= 1;
    }
    size_t dash = r.find('-');
    if (dash == std::string::npos) {
        if (!Number(r, &sec->first) || sec->first < 1) return false;
        sec->last = sec->first;
        return true;
    }
    return Number(r.substr(0, dash), &sec->first) && Number(r.substr(dash + 1), &sec->last) &&
           sec->first >= 1 && sec->last >= sec->first;
}

// Checks operands; "" when the command is well formed.
std::string ParseCommand(const std::string& line, Command* c) {
    size_t sp = line.find(' ');
    c->verb = line.substr(0, sp);
    c->text = sp == std::string::npos ? "" : line.substr(sp + 1);
    const std::vector<std::string> w = Words(c->text);
    const std::string& v = c->verb;
    if (v == "log" || v == "name" || v == "result") return "";
    if (v == "nolog" || v == "remove_files" || v == "crash")
        return w.empty() ? "" : v + " takes no operand";
    if (v == "exit" || v == "sleep_ms" || v == "result_size") {
        if (w.size() != 1 || !Number(w[0], &c->a) || c->a < 0) return v + " needs one number";
        if (v == "exit" && c->a > 255) return "exit code above 255";
        return "";
    }
    if (v == "progress") {
        c->b = 100;
        if (w.empty() || w.size() > 2 || !Number(w[0], &c->a) ||
            (w.size() == 2 && !Number(w[1], &c->b)) || c->a < 0 || c->b < 0 ||
            c->a > 0xffffffffLL || c->b > 0xffffffffLL)
            return "progress needs DONE [TOTAL]";
        return "";
    }
    if (v == "on_sigint" || v == "on_sigterm") {
        if (w.size() == 1 && (w[0] == "ignore" || w[0] == "crash")) return "";
        if (w.size() == 2 && w[0] == "exit" && Number(w[1], &c->a) && c->a >= 0 && c->a <= 255)
            return "";
        if (w.size() == 2 && w[0] == "checkpoint" && Number(w[1], &c->a) && c->a >= 0) return "";
        return v + " needs 'exit N', 'checkpoint MS', 'ignore' or 'crash'";
    }
    return "unknown command '" + v + "'";
}

}  // namespace

const Section* Script::ForRun(long n) const {
    for (const Section& s : sections)
        if (s.kind == Section::kRun && n >= s.first && (s.last < 0 || n <= s.last)) return &s;
    for (const Section& s : sections)
        if (s.kind == Section::kUnnamed) return &s;
    return nullptr;
}

const Section* Script::ForCleanup() const {
    for (const Section& s : sections)
        if (s.kind == Section::kCleanup) return &s;
    return nullptr;
}

std::string ParseScript(const std::string& text, Script* script) {
    Script out;
    out.sections.emplace_back();  // the unnamed section
    std::istringstream in(text);
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        line = line.substr(start);
        const std::vector<std::string> w = Words(line);
        if (w[0] == "run" || w[0] == "cleanup") {
            Section sec;
            sec.kind = w[0] == "run" ? Section::kRun : Section::kCleanup;
            bool ok = sec.kind == Section::kRun ? w.size() == 2 && ParseRange(w[1], &sec)
                                                : w.size() == 1;
            if (!ok) return "line " + std::to_string(n) + ": bad section header '" + line + "'";
            out.sections.push_back(sec);
            continue;
        }
        Command c;
        c.line = n;
        std::string err = ParseCommand(line, &c);
        if (!err.empty()) return "line " + std::to_string(n) + ": " + err;
        out.sections.back().commands.push_back(c);
    }
    if (out.sections[0].commands.empty()) out.sections.erase(out.sections.begin());
    *script = out;
    return "";
}

const char* DefaultScriptText() {
    return "progress 0 100\n"
           "log Test core working on the unit\n"
           "progress 100 100\n"
           "result test core result\n"
           "log Finished\n"
           "exit 100\n"
           "cleanup\n"
           "remove_files\n"
           "exit 101\n";
}

}  // namespace testcore
