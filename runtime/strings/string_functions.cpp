#include "string_functions.h"

#include <string.h>

// Every walk in this file ends at the first 0 unit or byte, never at a length
// from a header: text handed in from outside may be shorter than its header says,
// and nothing may be read beyond the terminator.

// A new temporary holding `length` units from `text`, or null when length is 0.
static String TemporaryCopy(const char16_t* text, int32_t length) {
  if (length == 0) return nullptr;
  String copy = AllocateTempString(length);
  memcpy(copy, text, 2 * size_t(length));
  copy[length] = 0;
  return copy;
}

int32_t FirstCharCode(String s) { return s ? int32_t(uint16_t(s[0])) : 0; }

int32_t FindSubstring(String text, String pattern) {
  if (!text || !pattern || !text[0] || !pattern[0]) return 0;
  for (int32_t start = 0; text[start]; start++) {
    int32_t i = 0;
    while (pattern[i] && text[start + i] == pattern[i]) i++;
    if (!pattern[i]) return start + 1;
  }
  return 0;
}

// Whether the k units of the separator start at s[at]. A 0 unit of s never
// matches, so a separator that holds a 0 cannot lead the walk past s's end.
static bool SeparatorAt(const char16_t* s, int32_t at, String separator, int32_t k) {
  for (int32_t j = 0; j < k; j++) {
    if (!s[at + j] || s[at + j] != separator[j]) return false;
  }
  return true;
}

String ExtractField(String s, int32_t index, String separator) {
  if (index < 1 || IsEmptyString(s)) return nullptr;
  if (index == 1 && IsEmptyString(separator)) return DuplicateTemporary(s);

  int32_t k = StringLength(separator);
  char16_t single = k > 0 ? separator[0] : 0;
  int32_t fieldStart = 0;
  int32_t fieldsEnded = 0;
  for (int32_t at = 0;;) {
    bool atEnd = s[at] == 0;
    bool atSeparator = !atEnd && (k >= 2 ? SeparatorAt(s, at, separator, k) : s[at] == single);
    if (!atEnd && !atSeparator) {
      at++;
      continue;
    }
    if (++fieldsEnded == index) return TemporaryCopy(s + fieldStart, at - fieldStart);
    if (atEnd) return nullptr;
    at += k > 1 ? k : 1;
    fieldStart = at;
  }
}

String FilePart(String path, uint32_t flags) {
  if (IsEmptyString(path)) return nullptr;

  int32_t start = path[0] == u'"' ? 1 : 0;
  for (int32_t i = 0; path[i]; i++) {
    if (path[i] == u'/' || path[i] == u'\\') start = i + 1;
  }
  int32_t end = start;
  while (path[end] && path[end] != u'"') end++;

  if (flags & kFilePartWithoutExtension) {
    // The first unit of the name is never an extension's dot: ".profile" stays.
    for (int32_t i = end - 1; i > start; i--) {
      if (path[i] == u' ') break;
      if (path[i] == u'.') {
        if (i < end - 1) end = i;
        break;
      }
    }
  }

  String name = AllocateTempString(end - start);
  memcpy(name, path + start, 2 * size_t(end - start));
  name[end - start] = 0;
  return name;
}

static bool IsContinuation(uint8_t b) { return (b & 0xC0) == 0x80; }

// Reads byte p+1 only after byte p was non-zero, and p+2 only after p+1 was,
// so a sequence cut short by a 0 byte is never read beyond that byte.
int32_t Utf8ByteSpan(const uint8_t* bytes, int32_t count) {
  if (count <= 0) return 0;
  int32_t p = 0;
  for (int32_t m = 0; m < count;) {
    uint8_t x = bytes[p];
    if (x == 0) break;
    if (x < 0x80) {
      p += 1;
      m++;
    } else if ((x & 0xE0) == 0xC0) {
      if (IsContinuation(bytes[p + 1])) {
        p += 2;
        m++;
      } else {
        p += 1;
      }
    } else if ((x & 0xF0) == 0xE0 && bytes[p + 1] != 0) {
      if (!IsContinuation(bytes[p + 1])) {
        p += 1;
      } else if (!IsContinuation(bytes[p + 2])) {
        p += 2;
      } else {
        p += 3;
        m++;
      }
    } else if ((x & 0xF8) == 0xF0 && bytes[p + 1] != 0 && bytes[p + 2] != 0) {
      if (!IsContinuation(bytes[p + 1])) {
        p += 1;
      } else if (!IsContinuation(bytes[p + 2])) {
        p += 2;
      } else if (!IsContinuation(bytes[p + 3])) {
        p += 3;
      } else {
        p += 4;
        m++;
      }
    } else {
      p += 1;
    }
  }
  return p;
}
