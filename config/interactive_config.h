// The interactive configuration: a fixed series of questions on the console
// whose answers go into client.cfg.
#pragma once

// Loads client.cfg (keeping what the object holds when it cannot), asks the
// three groups of questions, seeds the C library's random numbers with the
// user ID, loads client.cfg again and writes the local status page. 0.
// When console input ends before every question is answered, says so on one
// line and ends the process with -1: without answers it would ask for ever.
int RunConfiguration();

// The groups, in the order asked. Each saves client.cfg when it has finished
// (the advanced group only when its questions were asked). 0, or
// kAnswersEnded (config/questions.h) when console input ended; the group's
// answers given so far are then not saved.
int AskUserQuestions();
int AskNetworkQuestions();
int AskAdvancedQuestions();
