// The interactive configuration as start-up runs it.
#include <cstdlib>

#include "config/config_file.h"
#include "config/interactive_config.h"
#include "config/questions.h"
#include "config/settings.h"
#include "log/log.h"
#include "support/exit.h"
#include "support/format.h"

namespace {

// Without a console to answer (a service, a closed pipe) a question that
// has no value to keep would be asked for ever; the volunteer is told what
// the client needs.
[[noreturn]] void StopForLackOfAnswers(const char* program_name) {
    LogPrint("Configuration needs answers on the console, but console input has ended; "
             "run %.30s -config with a console to configure.\n",
             program_name);
    CloseLog();
    v3Exit(-1);
}

}  // namespace

void StopForUnsavedConfiguration(const char* program_name) {
    LogPrint("The configuration could not be saved in %s; run %.30s -config once it can be written.\n",
             kClientConfigFile, program_name);
    CloseLog();
    v3Exit(-1);
}

int RunConfiguration(const Settings& settings, const char* program_name) {
    // A file that cannot be read leaves the defaults already in the object.
    v3ConfigLoad(ClientConfig(), kClientConfigFile);
    int saved = 0;
    for (int (*group)() : {AskUserQuestions, AskNetworkQuestions, AskAdvancedQuestions}) {
        const int rc = group();
        if (rc == kAnswersEnded) StopForLackOfAnswers(program_name);
        if (rc != 0) saved = kAnswersNotSaved;
    }
    srand(static_cast<uint32_t>(settings.user_id));
    v3ConfigLoad(ClientConfig(), kClientConfigFile);
    return saved;
}
