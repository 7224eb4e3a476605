#include "service/sinks/command_template.h"

#include <stdlib.h>
#include <string.h>

static const char16_t kNumberField[] = u"{number}";
static const size_t kNumberFieldLength = sizeof kNumberField / sizeof kNumberField[0] - 1;

static size_t TextLength(const char16_t* text) {
  size_t length = 0;
  while (text[length]) length++;
  return length;
}

// Compared unit by unit, so that the 0 at the end of a short word stops it.
static bool StartsWithNumberField(const char16_t* text) {
  for (size_t i = 0; i < kNumberFieldLength; i++)
    if (text[i] != kNumberField[i]) return false;
  return true;
}

static bool HasNumberField(const char16_t* word) {
  for (; *word; word++)
    if (StartsWithNumberField(word)) return true;
  return false;
}

TemplateError ParseCommandTemplate(const char16_t* text, CommandTemplate* command) {
  command->words = nullptr;
  command->count = 0;
  // Each word takes at least one character of the text or a blank after it,
  // so the words and their zeros never need more than the text and one 0.
  size_t length = TextLength(text);
  char16_t* words = static_cast<char16_t*>(malloc((length + 1) * sizeof(char16_t)));
  if (!words) return kTemplateOutOfMemory;
  size_t written = 0;
  size_t count = 0;
  bool inWord = false;
  bool quoted = false;
  for (size_t i = 0; i < length; i++) {
    char16_t c = text[i];
    if (quoted) {
      if (c != u'"') {
        words[written++] = c;
      } else if (text[i + 1] == u'"') {
        words[written++] = u'"';
        i++;
      } else {
        quoted = false;
      }
    } else if (c == u' ' || c == u'\t') {
      if (inWord) {
        words[written++] = 0;
        count++;
        inWord = false;
      }
    } else {
      inWord = true;
      if (c == u'"')
        quoted = true;
      else
        words[written++] = c;
    }
  }
  if (inWord) {
    words[written++] = 0;
    count++;
  }

  TemplateError error = kTemplateParsed;
  if (quoted)
    error = kTemplateOpenQuote;
  else if (count == 0 || words[0] == 0)
    error = kTemplateWithoutProgram;
  if (error == kTemplateParsed) {
    for (const char16_t* c = words; *c; c++)
      if (*c == u'"') error = kTemplateQuoteInProgram;
  }
  if (error == kTemplateParsed) {
    command->words = words;
    command->count = count;
    bool numbered = false;
    for (size_t i = 1; i < count; i++) numbered = numbered || HasNumberField(CommandWord(*command, i));
    if (!numbered) error = kTemplateWithoutNumber;
  }
  if (error != kTemplateParsed) {
    free(words);
    command->words = nullptr;
    command->count = 0;
  }
  return error;
}

void FreeCommandTemplate(CommandTemplate* command) {
  free(command->words);
  command->words = nullptr;
  command->count = 0;
}

const char16_t* CommandWord(const CommandTemplate& command, size_t index) {
  const char16_t* word = command.words;
  for (; index > 0; index--) word += TextLength(word) + 1;
  return word;
}

const char* DescribeTemplateError(TemplateError error) {
  switch (error) {
    case kTemplateParsed:
      return "";
    case kTemplateWithoutProgram:
      return "names no program";
    case kTemplateOpenQuote:
      return "leaves a double quote open";
    case kTemplateQuoteInProgram:
      return "has a double quote in the program name";
    case kTemplateWithoutNumber:
      return "has no {number} in any argument";
    case kTemplateOutOfMemory:
      return "cannot be held in memory";
  }
  return "is not understood";
}

static bool NeedsQuotes(const char16_t* argument, size_t length) {
  if (length == 0) return true;
  for (size_t i = 0; i < length; i++) {
    char16_t c = argument[i];
    if (c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'"') return true;
  }
  return false;
}

// Writes the argument as the started program's C runtime will read it back,
// to out unless out is null; returns the code units it takes either way.
static size_t QuoteArgument(const char16_t* argument, size_t length, char16_t* out) {
  size_t written = 0;
  auto put = [&](char16_t c, size_t times) {
    for (size_t i = 0; i < times; i++) {
      if (out) out[written] = c;
      written++;
    }
  };
  if (!NeedsQuotes(argument, length)) {
    for (size_t i = 0; i < length; i++) put(argument[i], 1);
    return written;
  }
  put(u'"', 1);
  // Backslashes mean something only in a run that ends at a double quote, so
  // each run is held back until the character after it is known.
  size_t backslashes = 0;
  for (size_t i = 0; i < length; i++) {
    char16_t c = argument[i];
    if (c == u'\\') {
      backslashes++;
      continue;
    }
    if (c == u'"') {
      put(u'\\', 2 * backslashes + 1);
    } else {
      put(u'\\', backslashes);
    }
    put(c, 1);
    backslashes = 0;
  }
  put(u'\\', 2 * backslashes);
  put(u'"', 1);
  return written;
}

bool AppendArgument(char16_t* line, size_t size, size_t* used, const char16_t* argument, size_t length) {
  size_t blank = *used ? 1 : 0;
  size_t needed = blank + QuoteArgument(argument, length, nullptr);
  if (*used + needed + 1 > size) return false;
  if (blank) line[(*used)++] = u' ';
  *used += QuoteArgument(argument, length, line + *used);
  line[*used] = 0;
  return true;
}

// The argument with each {number} replaced, into expanded of size code units;
// its length, or size when it does not fit.
static size_t ExpandArgument(const char16_t* word, const char* number, char16_t* expanded, size_t size) {
  size_t numberLength = strlen(number);
  size_t written = 0;
  while (*word) {
    if (StartsWithNumberField(word)) {
      if (written + numberLength > size) return size;
      for (size_t i = 0; i < numberLength; i++) expanded[written++] = char16_t((unsigned char)number[i]);
      word += kNumberFieldLength;
    } else {
      if (written + 1 > size) return size;
      expanded[written++] = *word++;
    }
  }
  return written;
}

size_t BuildCommandLine(const CommandTemplate& command, const char* number, char16_t* line, size_t size) {
  if (size == 0) return 0;
  line[0] = 0;
  const char16_t* program = CommandWord(command, 0);
  size_t used = TextLength(program) + 2;
  // The program is read up to the next double quote, with no escapes, so it is
  // quoted plainly; the template holds no quote in it.
  if (used + 1 > size) return 0;
  line[0] = u'"';
  memcpy(line + 1, program, (used - 2) * sizeof(char16_t));
  line[used - 1] = u'"';
  line[used] = 0;

  char16_t* expanded = static_cast<char16_t*>(malloc(size * sizeof(char16_t)));
  if (!expanded) return 0;
  bool fits = true;
  for (size_t i = 1; i < command.count && fits; i++) {
    size_t length = ExpandArgument(CommandWord(command, i), number, expanded, size);
    fits = length < size && AppendArgument(line, size, &used, expanded, length);
  }
  free(expanded);
  if (!fits) {
    line[0] = 0;
    return 0;
  }
  return used;
}
