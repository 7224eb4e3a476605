#pragma once
// The characters of a phone link, read one at a time the way a dialer sees
// them. Each %XX escape is decoded once (a decoded byte is never decoded
// again), UTF-8 sequences are put together from the decoded bytes, so that
// "%C2%A0" and the raw bytes C2 A0 are the same character, and a character
// beyond ASCII is folded to the ASCII character it stands for in a number:
//   - the spaces U+00A0, U+2000-U+200A, U+202F, U+205F, U+3000 and the
//     invisible U+00AD, U+200B, U+200E, U+200F, U+2060, U+FEFF: a blank;
//   - the hyphens and dashes U+2010-U+2015, U+2212, U+FE63: "-";
//   - the full-width forms U+FF01-U+FF5E: their ASCII character (digits,
//     "+", "*", "#", letters, brackets, ...).
// Every other character beyond ASCII has no meaning in a number, and neither
// has a byte sequence that is not well-formed UTF-8 (a stray or missing
// continuation byte, an overlong form, a surrogate, a cut-off sequence).
#include <stddef.h>

enum CharacterKind {
  kCharacterAscii,           // ascii holds it; 0 for a NUL byte
  kCharacterBadEscape,       // a "%" without two hex digits after it
  kCharacterWithoutMeaning,  // beyond ASCII and not folded, or bad UTF-8
};

struct PhoneCharacter {
  CharacterKind kind;
  char ascii;
  size_t position;  // counted from 1: the character's first byte, or the escape at fault
};

// Reads the character that starts at text[*at] (*at < end) and moves *at past
// it; never reads text[end] or beyond.
PhoneCharacter ReadPhoneCharacter(const char* text, size_t end, size_t* at);
