#pragma once
// The dial service's log: one line per event, led by the local time
// "2024-05-01 12:34:56.789 ", ended by "\n" alone and flushed at once, because
// scripts read it through a pipe while the service runs. It goes to standard
// output, or (for the background program) to a file that is renamed to
// "<name>.old" before it would grow beyond a limit, so it never takes more than
// twice the limit. Every line is escaped as EscapeLogLine says (log_text.h), and
// what a client or a server sent goes through FormatTextForLog first, so that
// it is cut short too. Every thread may log.
#include <stddef.h>
#include <wchar.h>

void LogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// path gets %LOCALAPPDATA%\teldial\<name>, where the background program keeps
// its log and the service what it remembers for the user; the folder is made
// when missing if makeFolder. False when the path does not fit MAX_PATH.
bool UserDataPath(const wchar_t* name, bool makeFolder, wchar_t* path);

// From now on the log goes to the file at path (appended to), kept below
// limitBytes as said above; false when it cannot be opened.
bool LogToFile(const wchar_t* path, size_t limitBytes);

// Why the service cannot start, as one line "dial-service: ...": on standard
// error, or with a log file, into that file and kept for ReportedProblem.
void ReportProblem(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same with the operator's own text (a path, a name) between two parts.
void ReportProblemAbout(const char* before, const wchar_t* text, const char* after);
// The last problem reported, without "dial-service: "; "" when none.
const char* ReportedProblem();

// The operator's own UTF-16 text (a command line) as log text in UTF-8, each
// control character shown as "?"; a 0-terminated buffer made with malloc that
// the caller frees, null when memory runs out.
char* LogTextFromUtf16(const char16_t* text, size_t length);
