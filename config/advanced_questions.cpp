// The advanced group of the configuration questions.
#include "config/client_type.h"
#include "config/config_file.h"
#include "config/interactive_config.h"
#include "config/questions.h"
#include "config/settings.h"
#include "support/format.h"
#include "support/number_reader.h"

namespace {

constexpr uint32_t kMachineIDMax = 4;

// The current number of a setting (0 when it is no number); false when the
// setting is missing.
bool CurrentNumber(const char* section, const char* key, uint32_t* number) {
    const char* value = v3ConfigGet(ClientConfig(), section, key);
    if (value == nullptr) return false;
    if (ReadSettingNumber(value, 10, number) != 0) *number = 0;
    return true;
}

int AskClientType() {
    static const char* const kTypes[] = {"no-pref", "qrv", "tmx", nullptr};
    uint32_t type = 0;
    const bool has = CurrentNumber("clienttype", "type", &type);
    const char* keyword = ClientTypeKeyword(has ? type : 0);
    char answer[kAnswerSize];
    if (AskChoice({"Client Type [%.63s] (no-pref/qrv/tmx)? ", "Core Type [no-pref] (no-pref/qrv/tmx)? "},
                  has ? keyword : nullptr, keyword, kTypes, answer) != 0) {
        return kAnswersEnded;
    }
    char text[16];
    v3StringPrint(text, sizeof text, "%i", static_cast<int32_t>(ClientTypeFromKeyword(answer)));
    v3ConfigSet(ClientConfig(), "clienttype", "type", text);
    return 0;
}

int AskPriority() {
    static const char* const kPriorities[] = {"idle", "low", nullptr};
    uint32_t priority = 0;
    const bool has = CurrentNumber("core", "priority", &priority);
    const char* word = priority == 0 ? "idle" : "low";
    char answer[kAnswerSize];
    if (AskChoice({"Core Priority [%.63s] (idle/low)? ", "Core Priority [idle] (idle/low)? "},
                  has ? word : nullptr, word, kPriorities, answer) != 0) {
        return kAnswersEnded;
    }
    v3ConfigSet(ClientConfig(), "core", "priority", answer[0] == 'l' ? "96" : "0");
    return 0;
}

// A text question whose answer must be a number in [low, high]: the number
// is stored, anything else stores fallback; Enter keeps the setting.
void StoreRangedAnswer(const char* section, const char* key, const char* answer, uint32_t low, uint32_t high,
                       const char* fallback) {
    if (answer[0] == '\0') return;
    uint32_t number = 0;
    char text[16];
    if (ReadSettingNumber(answer, 10, &number) == 0 && number >= low && number <= high) {
        v3StringPrint(text, sizeof text, "%u", number);
    } else {
        v3StringPrint(text, sizeof text, "%s", fallback);
    }
    v3ConfigSet(ClientConfig(), section, key, text);
}

// An empty answer, the end of input's too, keeps the setting.
void AskCpuUsage() {
    char answer[kAnswerSize];
    PrintQuestion({"CPU usage requested [%.63s]? ", "CPU usage requested (5-100)? "},
                  v3ConfigGet(ClientConfig(), "core", "cpuusage"));
    ReadAnswer(answer);
    StoreRangedAnswer("core", "cpuusage", answer, 5, 100, "100");
}

void AskMachineID() {
    char answer[kAnswerSize];
    const char* current = v3ConfigGet(ClientConfig(), "settings", "machineid");
    if (current != nullptr) {
        v3Print("Machine ID (1-%u) [%.63s]? ", kMachineIDMax, current);
    } else {
        v3Print("Machine ID (1-%u) [1]? ", kMachineIDMax);
    }
    ReadAnswer(answer);
    StoreRangedAnswer("settings", "machineid", answer, 1, kMachineIDMax, "1");
}

int AskCoreSwitches() {
    char answer[kAnswerSize];
    if (AskChoiceSetting({"Disable highly optimized assembly code [%.5s] (no/yes)? ",
                          "Disable highly optimized assembly code [no] (no/yes)? "},
                         "core", "disableassembly", "no", kYesNo, answer) != 0 ||
        AskChoiceSetting({"Ignore deadline information (mainly useful if\n system clock frequently has "
                          "errors)? [%.5s] (no/yes)? ",
                          "Ignore deadline information (mainly useful if\n system clock frequently has "
                          "errors)? [no] (no/yes)? "},
                         "core", "ignoredeadlines", "no", kYesNo, answer) != 0) {
        return kAnswersEnded;
    }
    return 0;
}

}  // namespace

// The answer to the first question is not written anywhere: storing it as
// the proxy's usepasswd, as once done, would change the proxy settings
// behind the volunteer's back.
int AskAdvancedQuestions() {
    char answer[kAnswerSize];
    const Question change{"Change advanced options [no] (yes/no)? ", "Change advanced options [no] (yes/no)? "};
    if (AskChoice(change, nullptr, "no", kYesNo, answer) != 0) return kAnswersEnded;
    if (answer[0] == 'n') return 0;
    if (AskClientType() != 0 || AskPriority() != 0) return kAnswersEnded;
    AskCpuUsage();
    if (AskCoreSwitches() != 0) return kAnswersEnded;
    AskMachineID();
    return SaveClientConfig() == 0 ? 0 : kAnswersNotSaved;
}
