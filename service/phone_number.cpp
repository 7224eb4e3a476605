#include "phone_number.h"

static bool IsEdgeBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

static bool IsSeparator(unsigned char c) {
  return c == ' ' || c == '-' || c == '.' || c == '(' || c == ')' || c == '/';
}

static int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Whether text starts with the lower-case scheme, compared without case.
static bool StartsWithScheme(const char* text, size_t length, const char* scheme) {
  size_t i = 0;
  for (; scheme[i]; i++) {
    if (i == length) return false;
    unsigned char c = (unsigned char)text[i];
    if (c >= 'A' && c <= 'Z') c = (unsigned char)(c - 'A' + 'a');
    if (c != (unsigned char)scheme[i]) return false;
  }
  return true;
}

// The character a dialer keeps for c, or 0 when c has no place in a number.
static char KeptCharacter(unsigned char c) {
  if ((c >= '0' && c <= '9') || c == '*' || c == '#' || c == ',' || c == '+') return char(c);
  if (c == 'p' || c == 'P') return 'p';
  if (c == 'w' || c == 'W') return 'w';
  return 0;
}

static void Reject(NormalizedNumber* number, NumberVerdict verdict, size_t position) {
  number->verdict = verdict;
  number->length = 0;
  number->position = position;
  number->digits[0] = 0;
}

void NormalizePhoneNumber(const char* raw, size_t length, NormalizedNumber* number) {
  size_t begin = 0;
  size_t end = length;
  while (begin < end && IsEdgeBlank((unsigned char)raw[begin])) begin++;
  while (end > begin && IsEdgeBlank((unsigned char)raw[end - 1])) end--;
  static const char* const kSchemes[] = {"tel:", "callto:"};
  for (const char* scheme : kSchemes) {
    if (StartsWithScheme(raw + begin, end - begin, scheme)) {
      while (*scheme++) begin++;
      break;
    }
  }

  size_t kept = 0;
  bool hasDigit = false;
  for (size_t i = begin; i < end;) {
    size_t position = i + 1;
    unsigned char c = (unsigned char)raw[i++];
    if (c == '%') {
      int high = i < end ? HexValue((unsigned char)raw[i]) : -1;
      int low = i + 1 < end ? HexValue((unsigned char)raw[i + 1]) : -1;
      if (high < 0 || low < 0) return Reject(number, kNumberBadEscape, position);
      c = (unsigned char)(high * 16 + low);
      i += 2;
    }
    if (IsSeparator(c)) continue;
    char keep = KeptCharacter(c);
    if (!keep) return Reject(number, kNumberBadCharacter, position);
    if (keep == '+' && kept > 0) return Reject(number, kNumberLatePlus, position);
    if (keep >= '0' && keep <= '9') hasDigit = true;
    // Past the limit the rest is still read, so that a bad byte further on
    // is reported as what it is.
    if (kept < kMaxNumberLength) number->digits[kept] = keep;
    kept++;
  }
  if (kept == 0) return Reject(number, kNumberEmpty, 0);
  if (!hasDigit) return Reject(number, kNumberWithoutDigit, 0);
  if (kept > kMaxNumberLength) return Reject(number, kNumberTooLong, 0);
  number->verdict = kNumberAccepted;
  number->length = kept;
  number->position = 0;
  number->digits[kept] = 0;
}

const char* DescribeNumberVerdict(NumberVerdict verdict) {
  static_assert(kMaxNumberLength == 128, "the phrase for kNumberTooLong names the limit");
  switch (verdict) {
    case kNumberAccepted:
      return "";
    case kNumberEmpty:
      return "no number";
    case kNumberWithoutDigit:
      return "no digit";
    case kNumberBadEscape:
      return "a percent sign without two hex digits";
    case kNumberBadCharacter:
      return "a character that has no place in a phone number";
    case kNumberLatePlus:
      return "a plus sign after the start";
    case kNumberTooLong:
      return "more than 128 characters";
  }
  return "unknown";
}
