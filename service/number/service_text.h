#pragma once
// Small text steps that the service's portable code shares: UTF-16 read one
// code point at a time, a code point written as UTF-8, and a refusal as one
// formatted line.
#include <stddef.h>

// The code point that text starts with: a surrogate pair as one, a surrogate
// without its partner as U+FFFD. *units: the UTF-16 units it took, 1 or 2.
unsigned ReadUtf16CodePoint(const char16_t* text, size_t* units);

// code as UTF-8 into bytes; the number of bytes, 1 to 4.
size_t EncodeUtf8CodePoint(unsigned code, char bytes[4]);

// The problem, formatted into problem (at most size bytes), and false, so that
// a refusal is one statement.
bool RefuseWith(char* problem, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
