#include "service/number/log_text.h"

#include <stdio.h>
#include <string.h>

// The bytes of one strict UTF-8 character at text[at] (shortest form, no
// surrogate, at most U+10FFFF), with its code point; 0 when the bytes there
// are not one.
static size_t ReadCharacter(const unsigned char* text, size_t length, size_t at, unsigned* code) {
  unsigned char lead = text[at];
  if (lead < 0x80) {
    *code = lead;
    return 1;
  }
  size_t count = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (!count || lead > 0xF4 || length - at < count) return 0;
  unsigned value = lead & (0x7F >> count);
  for (size_t i = 1; i < count; i++) {
    if ((text[at + i] & 0xC0) != 0x80) return 0;
    value = value << 6 | (text[at + i] & 0x3F);
  }
  static const unsigned kLowest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kLowest[count] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *code = value;
  return count;
}

// Characters that end a line, pass for a line's end on some screens, or
// reorder the text around them.
static bool IsHiddenControl(unsigned code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x2028 || code == 0x2029 ||
         (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

namespace {
// Output that takes whole pieces only, so that an escape or a character is
// never cut by a short buffer.
struct Writer {
  char* out;
  size_t size;
  size_t used;
  bool full;

  void Put(const char* bytes, size_t count) {
    if (full || used + count > size - 1) {
      full = true;
      return;
    }
    memcpy(out + used, bytes, count);
    used += count;
  }
  void Escape(const unsigned char* bytes, size_t count) {
    static const char kHex[] = "0123456789ABCDEF";
    for (size_t i = 0; i < count; i++) {
      char escape[4] = {'\\', 'x', kHex[bytes[i] >> 4], kHex[bytes[i] & 15]};
      Put(escape, 4);
    }
  }
  size_t Finish() {
    out[used] = 0;
    return used;
  }
};
}  // namespace

// text[0, end) into writer, escaped; a backslash too when escapeBackslash.
static void WriteEscaped(const unsigned char* text, size_t end, bool escapeBackslash, Writer* writer) {
  for (size_t at = 0; at < end && !writer->full;) {
    unsigned code = 0;
    size_t count = ReadCharacter(text, end, at, &code);
    if (!count)
      writer->Escape(text + at, count = 1);
    else if (IsHiddenControl(code) || (escapeBackslash && code == '\\'))
      writer->Escape(text + at, count);
    else
      writer->Put(reinterpret_cast<const char*>(text + at), count);
    at += count;
  }
}

size_t FormatTextForLog(const char* text, size_t length, char* out, size_t size) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  Writer writer = {out, size, 0, false};
  if (length <= kLoggedTextLimit) {
    WriteEscaped(bytes, length, true, &writer);
    return writer.Finish();
  }
  // The cut goes before the character that would cross the limit; a byte
  // that starts no character counts as one.
  size_t cut = 0;
  for (unsigned code; cut < kLoggedTextLimit;) {
    size_t count = ReadCharacter(bytes, length, cut, &code);
    if (!count) count = 1;
    if (cut + count > kLoggedTextLimit) break;
    cut += count;
  }
  WriteEscaped(bytes, cut, true, &writer);
  char told[48];
  int toldLength = snprintf(told, sizeof told, "... (%llu bytes)", (unsigned long long)length);
  writer.Put(told, size_t(toldLength));
  return writer.Finish();
}

size_t EscapeLogLine(const char* line, size_t length, char* out, size_t size) {
  Writer writer = {out, size, 0, false};
  WriteEscaped(reinterpret_cast<const unsigned char*>(line), length, false, &writer);
  return writer.Finish();
}
