#include "command_line.h"

// One walk serves counting and fetching. With wanted < 0 it counts every token;
// otherwise it stops at the token that is argument `wanted`.
static int32_t Walk(const char16_t* text, int32_t wanted, RawToken* found) {
  int32_t count = -1;  // the program's name is token 0 and does not count
  int32_t pos = 0;
  while (text[pos] != 0) {
    while (text[pos] == u' ') pos++;

    int32_t start;
    int32_t end;
    if (text[pos] == u'"') {
      start = ++pos;
      while (text[pos] != 0 && text[pos] != u'"') pos++;
      end = pos;
      if (text[pos] == u'"') pos++;
    } else if (text[pos] != 0) {
      start = pos;
      bool quoted = false;
      while (text[pos] != 0 && (quoted || text[pos] != u' ')) {
        if (text[pos] == u'"') quoted = !quoted;
        pos++;
      }
      end = pos;
      if (text[pos] == u' ') pos++;
    } else {
      break;
    }

    count++;
    if (wanted >= 0 && count - 1 == wanted) {
      found->start = text + start;
      found->length = end - start;
      return count;
    }
  }
  return count;
}

int32_t CountCommandLineArguments(const char16_t* commandLine) {
  if (!commandLine) return -1;
  return Walk(commandLine, -1, nullptr);
}

bool FetchCommandLineArgument(const char16_t* commandLine, int32_t* cursor, RawToken* token) {
  token->start = commandLine;
  token->length = 0;
  if (!commandLine || *cursor < 0) return false;
  RawToken found;
  if (Walk(commandLine, *cursor, &found) - 1 != *cursor) return false;
  *token = found;
  ++*cursor;
  return true;
}
