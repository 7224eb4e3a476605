#pragma once
// The runtime's own command-line splitting, as a pure function over a text.
//
// Only the space separates; there is no backslash escaping. A token that begins
// with a double quote ends at the next double quote (or the end), and the next
// token may start right after it. In a plain token each double quote opens a
// quoted stretch in which spaces do not separate; the quotes stay in the raw
// token. Token 0 is the program's name; argument i is token i + 1.
#include <stdint.h>

struct RawToken {
  const char16_t* start;
  int32_t length;  // in code units, quotes included
};

// Number of arguments after the program's name; -1 for a text with no token.
int32_t CountCommandLineArguments(const char16_t* commandLine);

// Finds argument *cursor. On success fills token and raises *cursor by one; with
// no such argument gives a 0-length token, leaves *cursor alone and returns false.
bool FetchCommandLineArgument(const char16_t* commandLine, int32_t* cursor, RawToken* token);
