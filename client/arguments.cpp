#include "client/arguments.h"

#include <cstring>

#include "version.h"
#include "log/banner.h"
#include "log/log.h"
#include "queue/work_queue.h"
#include "support/exit.h"
#include "support/format.h"
#include "support/number_reader.h"

namespace {

// Reads a whole argument as an unsigned decimal number. The number reader
// stops at the first character that is not a digit; an index that names a
// unit to delete must not be guessed from "3abc", so the whole text has to
// be digits.
int ReadWholeDecimal(const char* text, uint32_t* value) {
    if (!text || !*text || strspn(text, "0123456789") != strlen(text)) return -1;
    return v3ReadNumber(value, 4, 0, text, 10, 1);
}

// The number reader's own leniency: digits up to the first other character;
// a text without digits leaves *value as it was.
void ReadLeadingDecimal(const char* text, uint32_t* value) {
    uint32_t read = 0;
    if (v3ReadNumber(&read, 4, 0, text, 10, 1) == 0) *value = read;
}

bool Is(const char* argument, const char* option) { return strcmp(argument, option) == 0; }

}  // namespace

const char* ProgramNameFromArgument(const char* first_argument) {
    if (!first_argument) return "qrv3";
    const char* name = first_argument;
    for (const char* p = first_argument; *p; ++p) {
        if (*p == '/' || *p == '\\') name = p + 1;
    }
    return name;
}

int ParseArguments(int argument_count, char** argument_list, ClientState* state) {
    for (int i = 1; i < argument_count; ++i) {
        const char* argument = argument_list[i];
        const bool has_value = i + 1 < argument_count;
        if (Is(argument, "-config")) {
            v3Print("Quorvel User Configuration\n\n");
            state->run_mode = MODE_CONFIG;
        } else if (Is(argument, "-local")) {
            v3Print("Using local directory for work files\n");
            state->local = 1;
        } else if (Is(argument, "-delete")) {
            if (!has_value) {
                v3Print("Error: -delete must be followed by an argument\n");
                return -1;
            }
            uint32_t index = 0;
            if (ReadWholeDecimal(argument_list[++i], &index) != 0 || index >= kQueueSlots) {
                v3Print("Error: Argument to -delete out of range. Must be <%i", 10);
                return -1;
            }
            state->run_mode = MODE_DELETE;
            state->mode_argument = index;
        } else if (Is(argument, "-verbosity")) {
            if (!has_value) {
                v3Print("Error: -verbosity must be followed by an argument\n");
                return -1;
            }
            uint32_t level = LogVerbosity();
            ReadLeadingDecimal(argument_list[++i], &level);
            // A refused level is never stored: the shutdown that follows
            // still prints by the level in force.
            if (level < 1 || level > 9) {
                v3Print("Error: Verbosity must be between 1 (min) and 9 (max)");
                return -1;
            }
            SetLogVerbosity(level);
        } else if (Is(argument, "-queueinfo")) {
            state->run_mode = MODE_QUEUEINFO;
        } else if (Is(argument, "-send")) {
            if (!has_value) {
                v3Print("Error: -send must be followed by an argument\n");
                return -1;
            }
            state->run_mode = MODE_SEND;
            const char* value = argument_list[++i];
            if (Is(value, "all")) {
                state->mode_argument = 1;
            } else {
                state->mode_argument = 0;
                ReadLeadingDecimal(value, &state->send_index);
            }
        } else if (Is(argument, "-pause")) {
            state->pause = 1;
        } else if (Is(argument, "-forceasm")) {
            state->forceasm = 1;
        } else if (Is(argument, "-advmethods")) {
            state->advmethods = 1;
        } else if (Is(argument, "-betateam")) {
            state->betateam = 1;
        } else if (Is(argument, "-internal")) {
            state->internal = 1;
        } else if (Is(argument, "-license")) {
            PrintLicence();
            v3Exit(0);
        } else if (Is(argument, "-service")) {
            state->service.store(1);
        } else {
            v3Print("Bad argument: %s\n", argument);
            return -1;
        }
    }
    return 0;
}

void PrintUsage(const char* program_name) {
    v3Print("Quorvel Version ");
    v3Print("%s", kClientVersion);
    v3Print("\nUsage:   %.30s [-mode]\n\n", program_name);
    v3Print("modes:\n"
            "  -config      Configure user information\n"
            "  -queueinfo   Get information on queued work units\n"
            "  -delete x    Delete item #x from work queue\n"
            "  -send x      Send result #x to server. Use x=all to send all results\n"
            "  -verbosity x Sets the output level, from 1 to 9 (max). The default is 3\n"
            "  -pause       Pause after finishing & trying to send current unit\n"
            "  -forceasm    Force core assembly optimizations to be used if available\n"
            "  -advmethods  Use new advanced scientific menthods (beta)\n");
    v3Print("  -service     Run in service mode (for programs such as firedaemon)\n"
            "  -local       Use configuration files from local directory\n"
            "  default:     Use configuration from Windows registry\n");
    v3Print("\n");
}
