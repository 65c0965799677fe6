#include "support/child_process.h"

#include "support/platform/process.h"

std::vector<std::string> SplitCommandLine(const char* command_line) {
    std::vector<std::string> words;
    if (command_line == nullptr) return words;
    std::string word;
    for (const char* p = command_line;; ++p) {
        if (*p == '\0' || *p == ' ' || *p == '\n') {
            if (!word.empty()) words.push_back(word);
            word.clear();
            if (*p == '\0') break;
        } else {
            word.push_back(*p);
        }
    }
    return words;
}

std::string ProgramPathOf(const std::string& first_word) {
    if (first_word.find('/') != std::string::npos) return first_word;
    return "./" + first_word;
}

int v3ProcessCreate(const char* command_line, uint64_t* pid) {
    if (pid == nullptr) return -1;
    *pid = 0;
    std::vector<std::string> words = SplitCommandLine(command_line);
    if (words.empty()) return -1;
    // Everything the child needs is made here: after fork it may only call
    // async-signal-safe functions.
    const std::string path = ProgramPathOf(words[0]);
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    return v3PlatformProcessSpawn(path.c_str(), argv.data(), pid) == 0 ? 0 : -1;
}

int v3ProcessExitCode(uint64_t pid, uint32_t* code) {
    if (code == nullptr) return -1;
    uint32_t ended_with = 0;
    const int state = v3PlatformProcessPollExit(pid, &ended_with);
    if (state == kChildRunning) {
        *code = kProcessStillActive;
        return 0;
    }
    *code = ended_with;
    return state == kChildEnded ? 0 : -1;
}

int v3ProcessWaitExit(uint64_t pid, uint32_t* code) {
    if (code == nullptr) return -1;
    return v3PlatformProcessWaitExit(pid, code) == kChildEnded ? 0 : -1;
}
