#pragma once
// The command that --exec starts for each accepted number: a template split
// into words once, at start-up, and for each number the Windows command line
// that hands the started program exactly those words. Pure text work in
// UTF-16; starting the program is the caller's business.
//
// Template rules:
//   - blanks and tabs outside double quotes separate words; the first word is
//     the program, the others are its arguments;
//   - a double quote opens or closes a quoted part, in which blanks and tabs
//     belong to the word; parts that touch make one word ("a b"c is `a bc`,
//     and "" alone is an empty argument);
//   - inside a quoted part two double quotes stand for one ("say ""hi""" is
//     `say "hi"`); nothing else is special, a backslash is a backslash;
//   - every "{number}" in an argument is replaced by the number; the program
//     is used as written.
// A template needs a non-empty program without double quotes, closed quotes,
// and "{number}" in at least one argument.
//
// Command-line rules (those of CommandLineToArgvW and the C runtime's argv):
// the program always stands in double quotes; an argument stands as it is when
// it is not empty and holds no blank, tab, newline, vertical tab or double
// quote; otherwise it stands in double quotes, each double quote in it written
// \" with the backslashes before it doubled, and the backslashes before the
// closing quote doubled. Other backslashes stay single.
#include <stddef.h>

// CreateProcessW takes at most this many code units, the closing 0 included.
const size_t kMaxCommandLine = 32767;

struct CommandTemplate {
  char16_t* words;  // count words one after the other, each 0-terminated; malloc'd
  size_t count;     // the program and its arguments
};

enum TemplateError {
  kTemplateParsed,
  kTemplateWithoutProgram,
  kTemplateOpenQuote,
  kTemplateQuoteInProgram,
  kTemplateWithoutNumber,
  kTemplateOutOfMemory,
};

// On kTemplateParsed, command owns its words until FreeCommandTemplate;
// otherwise command is empty and needs no freeing.
TemplateError ParseCommandTemplate(const char16_t* text, CommandTemplate* command);
void FreeCommandTemplate(CommandTemplate* command);
const char16_t* CommandWord(const CommandTemplate& command, size_t index);  // index < count
const char* DescribeTemplateError(TemplateError error);

// Appends one argument of length code units to the 0-terminated line of used
// code units, after a blank unless the line is empty. False, with the line
// unchanged, when the result and its 0 would not fit size code units.
bool AppendArgument(char16_t* line, size_t size, size_t* used, const char16_t* argument, size_t length);

// The command line for number (ASCII), 0-terminated in line; returns its length,
// or 0 when it would not fit size code units with its 0 (or memory ran out).
size_t BuildCommandLine(const CommandTemplate& command, const char* number, char16_t* line, size_t size);
