#include "service/http/base64.h"

#include <stdint.h>

static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

size_t EncodeBase64(const unsigned char* data, size_t length, char* out, size_t size) {
  size_t needed = (length + 2) / 3 * 4;
  if (length > SIZE_MAX / 2 || needed + 1 > size) return SIZE_MAX;
  char* c = out;
  for (size_t i = 0; i < length; i += 3) {
    unsigned triple = unsigned(data[i]) << 16;
    if (i + 1 < length) triple |= unsigned(data[i + 1]) << 8;
    if (i + 2 < length) triple |= data[i + 2];
    *c++ = kAlphabet[(triple >> 18) & 63];
    *c++ = kAlphabet[(triple >> 12) & 63];
    *c++ = i + 1 < length ? kAlphabet[(triple >> 6) & 63] : '=';
    *c++ = i + 2 < length ? kAlphabet[triple & 63] : '=';
  }
  *c = 0;
  return needed;
}

static int ValueOf(char16_t c) {
  for (int i = 0; i < 64; i++)
    if (c == char16_t(kAlphabet[i])) return i;
  return -1;
}

bool DecodeBase64(const char16_t* text, unsigned char* out, size_t size, size_t* length) {
  size_t count = 0;
  while (text[count]) count++;
  if (count % 4) return false;
  size_t used = 0;
  for (size_t i = 0; i < count; i += 4) {
    bool last = i + 4 == count;
    int padding = 0;
    unsigned quad = 0;
    for (size_t j = 0; j < 4; j++) {
      int value = ValueOf(text[i + j]);
      if (text[i + j] == u'=' && last && j >= 2 && (j == 3 || text[i + 3] == u'=')) {
        padding++;
        value = 0;
      } else if (value < 0 || padding) {
        return false;
      }
      quad = quad << 6 | unsigned(value);
    }
    size_t bytes = 3 - size_t(padding);
    if (used + bytes > size) return false;
    for (size_t j = 0; j < bytes; j++) out[used++] = (unsigned char)(quad >> (16 - 8 * j));
  }
  *length = used;
  return true;
}
