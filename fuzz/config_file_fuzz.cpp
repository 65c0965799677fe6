// v3ConfigLoad on an arbitrary client.cfg, then the round trip: the text
// the object saves, loaded into a fresh object and saved again, is the same
// text, and the reloaded object answers every key of the first one with the
// same value.
//
// Input: the file.
//
// Checks besides: the load gives 0 or a documented refusal; a refused load
// leaves the object empty; nothing but the two files appears in the
// directory.
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/fuzz_check.h"
#include "common/scratch_dir.h"
#include "config/config_file.h"
#include "log/log.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

struct Entry {
    std::string section, key, value;
};

// The entries of a saved text, read as its documented layout: "[name]"
// lines open sections, "key=value" lines are entries, empty lines separate.
std::vector<Entry> Parse(const std::string& text) {
    std::vector<Entry> out;
    std::string section;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        FUZZ_CHECK(end != std::string::npos);  // every saved line ends with a line feed
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (line.empty()) continue;
        if (line[0] == '[') {
            FUZZ_CHECK(line.back() == ']');
            section = line.substr(1, line.size() - 2);
            continue;
        }
        const size_t eq = line.find('=');
        FUZZ_CHECK(eq != std::string::npos);
        out.push_back({section, line.substr(0, eq), line.substr(eq + 1)});
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetLogVerbosity(3);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qrvfuzz::ClearScratch();
    const std::string in = qrvfuzz::WriteScratchFile("client.cfg", data, size);
    const std::string out = qrvfuzz::ScratchDir() + "/saved.cfg";

    v3Config first{};
    const int loaded = v3ConfigLoad(&first, in.c_str());
    FUZZ_CHECK(loaded == 0 || loaded == -1);
    FUZZ_CHECK(v3ConfigSave(&first, out.c_str()) == 0);
    const std::string text = ReadAll(out);
    if (loaded != 0) FUZZ_CHECK(text.empty());

    v3Config second{};
    FUZZ_CHECK(v3ConfigLoad(&second, out.c_str()) == 0);
    FUZZ_CHECK(v3ConfigSave(&second, out.c_str()) == 0);
    FUZZ_CHECK(ReadAll(out) == text);

    // The first section of a name that holds a key answers for it.
    const std::vector<Entry> entries = Parse(text);
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        bool shadowed = false;
        for (size_t j = 0; j < i && !shadowed; ++j) {
            shadowed = entries[j].section == e.section && entries[j].key == e.key;
        }
        // Names with a zero byte cannot be asked for through the C
        // interface; a value with one reads up to it.
        if (shadowed || e.section.find('\0') != std::string::npos ||
            e.key.find('\0') != std::string::npos) {
            continue;
        }
        for (v3Config* c : {&first, &second}) {
            FUZZ_CHECK(v3ConfigHasSection(c, e.section.c_str()) == 1);
            const char* got = v3ConfigGet(c, e.section.c_str(), e.key.c_str());
            FUZZ_CHECK(got != nullptr && e.value.c_str() == std::string(got));
        }
    }
    v3ConfigDestroy(&first);
    v3ConfigDestroy(&second);
    FUZZ_CHECK(qrvfuzz::ScratchEntries() == (std::vector<std::string>{"client.cfg", "saved.cfg"}));
    return 0;
}
