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
    if (v3ReadLine(answer, kAnswerSize, 0) != kV3InputEnd) return 0;
    // Nobody is there to answer (a service, input from /dev/null): the answer
    // is empty, as if Enter had been pressed, and the line ends as it would
    // have then, so what is printed next starts a line of its own.
    answer[0] = '\0';
    v3Print("\n");
    return kAnswersEnded;
}

void PrintQuestion(const Question& question, const char* shown) {
    if (shown != nullptr) {
        v3Print(question.with_value, shown);
    } else {
        v3Print(question.without);
    }
}

void AskTextSetting(const Question& question, const char* section, const char* key, char* answer) {
    PrintQuestion(question, v3ConfigGet(ClientConfig(), section, key));
    ReadAnswer(answer);  // at the end of input the answer is empty: the setting is kept
    if (answer[0] != '\0') v3ConfigSet(ClientConfig(), section, key, answer);
}

int AskChoice(const Question& question, const char* shown, const char* enter,
              const char* const* choices, char* answer) {
    for (;;) {
        PrintQuestion(question, shown);
        const bool ended = ReadAnswer(answer) != 0;
        if (CheckAnswer(enter, answer, choices)) return 0;
        // Without a value that Enter keeps, the question would be asked for
        // ever once input has ended.
        if (ended) return kAnswersEnded;
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
