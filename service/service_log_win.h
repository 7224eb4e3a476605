#pragma once
// The dial service's log on standard output: one line per event, led by the
// local time "2024-05-01 12:34:56.789 ", ended by "\n" alone and flushed at
// once, because scripts read it through a pipe while the service runs. What a
// client sent goes through FormatNumberForLog first, so that it cannot start
// a line of its own.
#include <stddef.h>

void LogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The operator's own UTF-16 text (a command line) as log text in UTF-8, each
// control character shown as "?"; a 0-terminated buffer made with malloc that
// the caller frees, null when memory runs out.
char* LogTextFromUtf16(const char16_t* text, size_t length);

// "dial-service: " + before + the operator's text + after, as one line of
// UTF-8 on standard error.
void PrintProblemAbout(const char* before, const wchar_t* text, const char* after);
