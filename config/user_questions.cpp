// The user and network groups of the configuration questions.
#include "config/config_file.h"
#include "config/interactive_config.h"
#include "config/questions.h"
#include "config/settings.h"
#include "support/format.h"

namespace {

int AskProxyCredentials() {
    char answer[kAnswerSize];
    if (AskChoiceSetting({"Use username & password with proxy [%.63s]? ",
                          "Use username & password with proxy (yes/no)? "},
                         "http", "usepasswd", nullptr, kYesNo, answer) != 0) {
        return kAnswersEnded;
    }
    if (answer[0] != 'y') return 0;
    const char* before = v3ConfigGet(ClientConfig(), "http", "proxy_name");
    const bool had_name = before != nullptr && before[0] != '\0';
    AskTextSetting({"Proxy Username [%.63s]? ", "Proxy Username? "}, "http", "proxy_name", answer);
    if (answer[0] == '\0' && !had_name) {
        v3ConfigSet(ClientConfig(), "http", "proxy_passwd", "");
        return 0;
    }
    // The password is stored even when empty, and shown while typed. At the
    // end of input nobody answered: the password there is kept.
    v3Print("Proxy Password? ");
    if (ReadAnswer(answer) == 0) v3ConfigSet(ClientConfig(), "http", "proxy_passwd", answer);
    return 0;
}

int AskProxy() {
    char answer[kAnswerSize];
    if (AskChoiceSetting({"Use proxy [%.63s] (yes/no)? ", "Use proxy (yes/no)? "}, "http", "active", nullptr,
                         kYesNo, answer) != 0) {
        return kAnswersEnded;
    }
    if (!SettingIsYes(answer)) return 0;
    AskTextSetting({"Proxy Name [%.63s]? ", "Proxy Name? "}, "http", "host", answer);
    AskTextSetting({"Proxy Port [%.63s]? ", "Proxy Port? "}, "http", "port", answer);
    return AskProxyCredentials();
}

}  // namespace

int AskUserQuestions() {
    char answer[kAnswerSize];
    AskTextSetting({"User name [%.63s]? ", "User Name? "}, "settings", "username", answer);
    AskTextSetting({"Team Number[%.63s]? ", "Team Number? "}, "settings", "team", answer);
    return SaveClientConfig() == 0 ? 0 : kAnswersNotSaved;
}

int AskNetworkQuestions() {
    char answer[kAnswerSize];
    if (AskChoiceSetting({"Ask before fetching/sending work [%.5s] (yes/no)? ",
                          "Ask before fetching/sending work (yes/no)? "},
                         "settings", "asknet", nullptr, kYesNo, answer) != 0 ||
        AskChoiceSetting({"Use Internet Explorer Settings [%.63s] (yes/no)? ",
                          "Use Internet Explorer Settings (yes/no)? "},
                         "http", "usereg", nullptr, kYesNo, answer) != 0) {
        return kAnswersEnded;
    }
    // The system's settings include its proxy: only without them is one asked
    // about. What the client goes by is loaded from the saved file afterwards.
    if (!SettingIsYes(answer) && AskProxy() != 0) return kAnswersEnded;
    return SaveClientConfig() == 0 ? 0 : kAnswersNotSaved;
}
