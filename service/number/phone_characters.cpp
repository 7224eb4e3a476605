#include "service/number/phone_characters.h"

static int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One byte, an escape decoded; false for a "%" without two hex digits.
static bool ReadByte(const char* text, size_t end, size_t* at, unsigned char* byte) {
  unsigned char c = (unsigned char)text[(*at)++];
  if (c != '%') {
    *byte = c;
    return true;
  }
  int high = *at < end ? HexValue((unsigned char)text[*at]) : -1;
  int low = *at + 1 < end ? HexValue((unsigned char)text[*at + 1]) : -1;
  if (high < 0 || low < 0) return false;
  *byte = (unsigned char)(high * 16 + low);
  *at += 2;
  return true;
}

// The ASCII meaning of a code point beyond ASCII, or 0 when it has none.
static char FoldedCharacter(unsigned long code) {
  if (code >= 0xFF01 && code <= 0xFF5E) return char(code - 0xFEE0);
  if ((code >= 0x2010 && code <= 0x2015) || code == 0x2212 || code == 0xFE63) return '-';
  if ((code >= 0x2000 && code <= 0x200B) || code == 0x00A0 || code == 0x202F || code == 0x205F ||
      code == 0x3000)
    return ' ';
  // Invisible marks that pages put around numbers (bidirectional text, soft
  // line breaks); they take no place, like a blank.
  if (code == 0x00AD || code == 0x200E || code == 0x200F || code == 0x2060 || code == 0xFEFF) return ' ';
  return 0;
}

PhoneCharacter ReadPhoneCharacter(const char* text, size_t end, size_t* at) {
  PhoneCharacter character = {kCharacterWithoutMeaning, 0, *at + 1};
  unsigned char lead = 0;
  if (!ReadByte(text, end, at, &lead)) {
    character.kind = kCharacterBadEscape;
    return character;
  }
  if (lead < 0x80) {
    character.kind = kCharacterAscii;
    character.ascii = char(lead);
    return character;
  }
  // Every folded character lies in U+0080-U+FFFF: two or three bytes.
  size_t continuations = 0;
  unsigned long code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    continuations = 1;
    code = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    continuations = 2;
    code = lead & 0x0Fu;
  } else {
    return character;
  }
  for (size_t i = 0; i < continuations; i++) {
    if (*at >= end) return character;
    size_t escapeAt = *at + 1;
    unsigned char next = 0;
    if (!ReadByte(text, end, at, &next)) {
      character.kind = kCharacterBadEscape;
      character.position = escapeAt;
      return character;
    }
    if ((next & 0xC0) != 0x80) return character;
    code = (code << 6) | (next & 0x3Fu);
  }
  // An overlong three-byte form could otherwise pass for an ASCII character.
  if (continuations == 2 && code < 0x800) return character;
  char folded = FoldedCharacter(code);
  if (folded) {
    character.kind = kCharacterAscii;
    character.ascii = folded;
  }
  return character;
}
