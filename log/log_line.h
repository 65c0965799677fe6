// The byte form of one write to the log file, kept apart from the writing so
// that its cutting rules can be checked on their own.
#pragma once

#include <cstddef>

// Copies at most the first kLogWriteMax characters of text into out
// (kLogWriteMax bytes), storing every line feed as carriage return and line
// feed (a carriage return already in front of a line feed is not doubled).
// A line end is never split: when a pair does not fit, neither byte is
// written. When the text had to be cut and ends with a line feed, the bytes
// still end with carriage return and line feed, so the next line of the log
// starts on a line of its own. Returns the number of bytes in out.
size_t ComposeLogBytes(const char* text, size_t length, char* out);

// Cuts a formatted message to at most kLogMessageMax characters in place
// (buffer of kLogMessageMax + 1 bytes). full_length is what the formatting
// produced before the cut, ends_with_newline whether that full text ended
// with a line feed: a cut message keeps its line end. Returns the new length.
size_t CutLogMessage(char* message, size_t full_length, bool ends_with_newline);
