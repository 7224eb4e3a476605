#pragma once
// Text from outside (a datagram, a server's answer) on its way into the log or
// onto the screen: it must not start a line of its own, pass for another entry,
// reorder what follows it on the screen or fill the log.
#include <stddef.h>

// At most this many bytes of an outside text are shown; the rest is told by its length.
const size_t kLoggedTextLimit = 200;
// A buffer this large always holds FormatTextForLog's result.
const size_t kMaxFormattedTextSize = 4 * kLoggedTextLimit + 32;

// text as one line: printable ASCII and valid UTF-8 as they are; each byte of
// a C0 control, DEL, backslash, C1 control (U+0080-U+009F), line or paragraph
// separator (U+2028, U+2029), bidirectional control (U+202A-U+202E,
// U+2066-U+2069) or invalid UTF-8 as \xNN. A text longer than
// kLoggedTextLimit bytes is cut there (never inside a character) and followed
// by "... (N bytes)". Writes at most size - 1 bytes and a 0; returns the bytes
// written. size must be at least 1.
size_t FormatTextForLog(const char* text, size_t length, char* out, size_t size);

// The same escapes for a whole line made by the service itself, in place of
// the characters above, backslashes kept (paths hold them) and nothing cut.
// Writes at most size - 1 bytes and a 0; returns the bytes written.
size_t EscapeLogLine(const char* line, size_t length, char* out, size_t size);
