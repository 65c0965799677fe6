#include "config/questions.h"

#include <cstring>

#include "config/config_file.h"
#include "config/settings.h"
#include "support/console_input.h"
#include "support/format.h"
#include "support/text.h"

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool Matches(const char* answer, size_t length, const char* choice) {
    if (length == 1) return choice[0] == Lower(answer[0]);
    const size_t need = strlen(choice);
    if (length < need) return false;
    for (size_t i = 0; i < need; ++i) {
        if (Lower(answer[i]) != choice[i]) return false;
    }
    return true;
}

}  // namespace

int CheckAnswer(const char* current, char* answer, const char* const* choices) {
    if (answer == nullptr) return 0;
    const size_t length = strlen(answer);
    if (length == 0 && current != nullptr) {
        // A current value too long for the answer is not cut to fit: the
        // question is asked again instead.
        return v3StrCopy(answer, current, kAnswerSize) == 0 ? 1 : 0;
    }
    if (length == 0 || choices == nullptr) return 0;
    for (const char* const* choice = choices; *choice != nullptr; ++choice) {
        if (Matches(answer, length, *choice)) return v3StrCopy(answer, *choice, kAnswerSize) == 0 ? 1 : 0;
    }
    return 0;
}

int ReadAnswer(char* answer) {
    return v3ReadLine(answer, kAnswerSize, 0) == kV3InputEnd ? kAnswersEnded : 0;
}

void PrintQuestion(const Question& question, const char* shown) {
    if (shown != nullptr) {
        v3Print(question.with_value, shown);
    } else {
        v3Print(question.without);
    }
}

int AskTextSetting(const Question& question, const char* section, const char* key, char* answer) {
    PrintQuestion(question, v3ConfigGet(ClientConfig(), section, key));
    if (ReadAnswer(answer) != 0) return kAnswersEnded;
    if (answer[0] != '\0') v3ConfigSet(ClientConfig(), section, key, answer);
    return 0;
}

int AskChoice(const Question& question, const char* shown, const char* enter,
              const char* const* choices, char* answer) {
    for (;;) {
        PrintQuestion(question, shown);
        if (ReadAnswer(answer) != 0) return kAnswersEnded;
        if (CheckAnswer(enter, answer, choices)) return 0;
    }
}

int AskChoiceSetting(const Question& question, const char* section, const char* key,
                     const char* fallback, const char* const* choices, char* answer) {
    // The value is copied: the object may move it when the answer is stored.
    char current[kAnswerSize];
    const int rc = v3ConfigGetCopy(ClientConfig(), section, key, current, sizeof current);
    const bool has = rc == 0 || rc == -1;
    if (rc == -1) {
        // Longer than an answer: shown cut, never kept by Enter.
        v3StringPrint(current, sizeof current, "%.63s", v3ConfigGet(ClientConfig(), section, key));
    }
    const char* enter = rc == 0 ? current : (has ? nullptr : fallback);
    if (AskChoice(question, has ? current : nullptr, enter, choices, answer) != 0) return kAnswersEnded;
    v3ConfigSet(ClientConfig(), section, key, answer);
    return 0;
}
