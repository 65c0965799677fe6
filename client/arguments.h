// The command line: options into the Client state, and the usage text.
#pragma once

#include "client/client_state.h"

// The program name shown in the usage text: the first argument's text after
// its last "/" or "\"; "qrv3" when there is no first argument.
const char* ProgramNameFromArgument(const char* first_argument);

// Takes the options after the program name from left to right into state
// (a later option overrides an earlier one). 0, or -1 after printing on the
// console why the command line was refused; the fields set before the fault
// are kept. "-license" prints the licence and ends the process with 0.
int ParseArguments(int argument_count, char** argument_list, ClientState* state);

// Prints the usage text on the console.
void PrintUsage(const char* program_name);
