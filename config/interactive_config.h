// The interactive configuration: a fixed series of questions on the console
// whose answers go into client.cfg.
#pragma once

struct Settings;

// Loads client.cfg (keeping what the object holds when it cannot), asks the
// three groups of questions, seeds the C library's random numbers with the
// user ID of settings and loads client.cfg again; the caller then writes the
// local status page with the new name and team. 0, or
// kAnswersNotSaved (config/questions.h) when client.cfg could not be saved.
// At the end of console input every question keeps its value, as Enter
// would; only when a question has no value to keep does it say so on one
// line, naming program_name, and end the process with -1: without answers it
// would ask for ever.
int RunConfiguration(const Settings& settings, const char* program_name);

// Start-up asks again while the settings do not load; when the answers could
// not be saved either, asking again would only lose them again, for ever.
// Says so on one line, naming program_name, and ends the process with -1.
[[noreturn]] void StopForUnsavedConfiguration(const char* program_name);

// The groups, in the order asked. Each saves client.cfg when it has finished
// (the advanced group only when its questions were asked). 0, kAnswersNotSaved
// when that save failed, or kAnswersEnded (config/questions.h) when console
// input ended at a question without a value to keep; the group's answers
// given so far are then not saved.
int AskUserQuestions();
int AskNetworkQuestions();
int AskAdvancedQuestions();
