#include "service/number/service_text.h"

#include <stdarg.h>
#include <stdio.h>

unsigned ReadUtf16CodePoint(const char16_t* text, size_t* units) {
  unsigned code = text[0];
  *units = 1;
  if (code >= 0xD800 && code <= 0xDBFF && text[1] >= 0xDC00 && text[1] <= 0xDFFF) {
    *units = 2;
    return 0x10000 + ((code - 0xD800) << 10) + (text[1] - 0xDC00);
  }
  return code >= 0xD800 && code <= 0xDFFF ? 0xFFFD : code;
}

size_t EncodeUtf8CodePoint(unsigned code, char bytes[4]) {
  if (code < 0x80) {
    bytes[0] = char(code);
    return 1;
  }
  if (code < 0x800) {
    bytes[0] = char(0xC0 | (code >> 6));
    bytes[1] = char(0x80 | (code & 0x3F));
    return 2;
  }
  if (code < 0x10000) {
    bytes[0] = char(0xE0 | (code >> 12));
    bytes[1] = char(0x80 | ((code >> 6) & 0x3F));
    bytes[2] = char(0x80 | (code & 0x3F));
    return 3;
  }
  bytes[0] = char(0xF0 | (code >> 18));
  bytes[1] = char(0x80 | ((code >> 12) & 0x3F));
  bytes[2] = char(0x80 | ((code >> 6) & 0x3F));
  bytes[3] = char(0x80 | (code & 0x3F));
  return 4;
}

bool RefuseWith(char* problem, size_t size, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(problem, size, format, arguments);
  va_end(arguments);
  return false;
}
