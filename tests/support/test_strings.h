#pragma once
// Managed strings made from plain text for tests, and the checks on them.
// Portable: used by the native sanitizer build too.
#include <stdio.h>
#include <string.h>

#include <string>

#include "allocation_counter.h"
#include "runtime/strings/managed_strings.h"

inline int32_t UnitCount(const char16_t* text) {
  int32_t length = 0;
  while (text[length]) length++;
  return length;
}

// A new temporary holding text.
inline String Temp(const char16_t* text) {
  int32_t length = UnitCount(text);
  String s = AllocateTempString(length);
  memcpy(s, text, 2 * size_t(length) + 2);
  return s;
}

// A permanent string owned by the caller (release it with FreeString).
inline String Owned(const char16_t* text) {
  String variable = nullptr;
  AssignString(&variable, Temp(text));
  return variable;
}

// Whether s holds exactly text, header length included; a null text stands for
// a null result.
inline bool Holds(String s, const char16_t* text) {
  if (!text) return s == nullptr;
  int32_t length = UnitCount(text);
  return s && StringLength(s) == length && memcmp(s, text, 2 * size_t(length) + 2) == 0;
}

// For test traces: ASCII as it is, everything else as '?'.
inline std::string Narrow(const char16_t* text) {
  if (!text) return "(null)";
  std::string narrow;
  for (; *text; text++) narrow += *text < 0x80 ? char(*text) : '?';
  return narrow;
}

// For failure messages: bytes as printable ASCII, every other byte and the
// backslash as \xNN.
inline std::string Printable(const std::string& bytes) {
  std::string text;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      text += char(c);
    } else {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\x%02X", c);
      text += escaped;
    }
  }
  return text;
}

// Live string allocations since construction.
class LiveCount {
 public:
  LiveCount() : start_(StringAllocations().Live()) {}
  long operator()() const { return StringAllocations().Live() - start_; }

 private:
  long start_;
};
