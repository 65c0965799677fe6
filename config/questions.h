// Asking one configuration question on the console. Questions and answers
// use the console only; nothing of them goes into the log.
#pragma once

#include <cstdint>

// One line of console input: at most 63 characters, the rest of the line is
// dropped.
inline constexpr uint32_t kAnswerSize = 64;

// Returned by the asking operations when console input has ended and a
// question has no value that an empty answer keeps: nobody is there to
// answer, so asking again would never end.
inline constexpr int kAnswersEnded = -1;
// Returned by a group of questions whose answers could not be saved in
// client.cfg.
inline constexpr int kAnswersNotSaved = -2;

// A question in its two forms: with the current value (a format with one
// text conversion for it) and without one.
struct Question {
    const char* with_value;
    const char* without;
};

// 1 when answer is acceptable, with answer (kAnswerSize bytes) rewritten to
// the accepted word; 0 when the question must be asked again. An empty
// answer takes current, when there is one. Otherwise one character matches
// the first choice that begins with it in lower case, and a longer answer
// matches the first choice it begins with, upper and lower case alike
// ("YES" and "Yesss" are yes, "ye" is nothing). choices ends with nullptr.
int CheckAnswer(const char* current, char* answer, const char* const* choices);

// Reads one answer line into answer (kAnswerSize bytes). 0, or kAnswersEnded
// at the end of input, with an empty answer (and a line feed on the console
// in place of the one nobody typed).
int ReadAnswer(char* answer);

// Prints question in the form that fits: with shown (not null), or without.
void PrintQuestion(const Question& question, const char* shown);

// A text question about section/key: the setting's value is shown, and a
// non-empty answer replaces it. answer receives what was typed (empty at the
// end of input, which keeps the setting).
void AskTextSetting(const Question& question, const char* section, const char* key, char* answer);

// A question with a fixed set of answers, repeated until CheckAnswer accepts
// one: shown is the value in the first form (none: the second form), enter
// the value Enter keeps (none: Enter is refused). answer receives the
// accepted word. 0, or kAnswersEnded when input ended where Enter is
// refused.
int AskChoice(const Question& question, const char* shown, const char* enter,
              const char* const* choices, char* answer);

// AskChoice about section/key, showing and keeping its value (fallback when
// it has none; nullptr: Enter is refused then), and storing the word.
int AskChoiceSetting(const Question& question, const char* section, const char* key,
                     const char* fallback, const char* const* choices, char* answer);

// The choices of every yes/no question.
inline constexpr const char* kYesNo[] = {"yes", "no", nullptr};
