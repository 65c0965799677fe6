// Reading and writing the text form of the configuration object.
#include "config/config_data.h"

namespace {

// One line without its line feed, and without the carriage returns right
// before it: files edited on other systems end their lines with CR LF. All
// of them go, not just one: a value ending in "\r" cannot be written back
// (the next reading would drop it), so keeping one would make every save and
// load change the setting.
std::string_view NextLine(std::string_view text, size_t* pos) {
    size_t end = text.find('\n', *pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(*pos, end - *pos);
    *pos = end + 1;
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

// The name between "[" and the first "]"; the rest of a header line means
// nothing. A header without "]" names everything after its "[".
std::string_view HeaderName(std::string_view line) {
    const size_t close = line.find(']');
    return line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
}

}  // namespace

bool ConfigSection::HasLiveEntry() const {
    for (const auto& entry : entries) {
        if (entry->live) return true;
    }
    return false;
}

void ParseConfigText(std::string_view text, v3ConfigData* data) {
    // Everything before the first "[" is ignored, so the first line read is
    // always a header.
    size_t pos = text.find('[');
    ConfigSection* section = nullptr;
    while (pos < text.size()) {
        const std::string_view line = NextLine(text, &pos);
        // Empty lines are only separators, wherever a hand edit put them.
        if (line.empty()) continue;
        if (line.front() == '[') {
            auto added = std::make_unique<ConfigSection>();
            added->name = HeaderName(line);
            section = added.get();
            data->sections.push_back(std::move(added));
            continue;
        }
        // A line without "=" carries no setting; it is skipped rather than
        // ending the reading, so one stray line cannot hide the rest.
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        auto entry = std::make_unique<ConfigEntry>();
        entry->key = line.substr(0, equals);
        entry->value = line.substr(equals + 1);
        section->entries.push_back(std::move(entry));
    }
}

std::string ConfigText(const v3ConfigData& data) {
    std::string text;
    for (const auto& section : data.sections) {
        if (!section->HasLiveEntry()) continue;
        text += '[';
        text += section->name;
        text += "]\n";
        for (const auto& entry : section->entries) {
            if (!entry->live) continue;
            text += entry->key;
            text += '=';
            text += entry->value;
            text += '\n';
        }
        text += '\n';
    }
    return text;
}
