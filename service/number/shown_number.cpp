#include "service/number/shown_number.h"

#include <stdio.h>
#include <string.h>

#include "service/number/call_guard.h"
#include "service/number/log_text.h"
#include "service/number/phone_characters.h"

static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

static bool StartsWithScheme(const char* text, size_t length, const char* scheme) {
  size_t schemeLength = strlen(scheme);
  if (length < schemeLength) return false;
  for (size_t i = 0; i < schemeLength; i++) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c != scheme[i]) return false;
  }
  return true;
}

static int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The bytes of text[from, to) with each %XX decoded; a "%" without two hex
// digits stays as it is.
static size_t DecodeSpan(const char* text, size_t from, size_t to, char* out) {
  size_t used = 0;
  for (size_t at = from; at < to;) {
    int high = text[at] == '%' && at + 2 < to ? HexValue(text[at + 1]) : -1;
    int low = high >= 0 ? HexValue(text[at + 2]) : -1;
    if (high >= 0 && low >= 0) {
      out[used++] = char(high * 16 + low);
      at += 3;
    } else {
      out[used++] = text[at++];
    }
  }
  return used;
}

size_t FormatWrittenNumber(const char* raw, size_t length, char* out, size_t size) {
  static const char* const kSchemes[] = {"tel:", "callto:", "sips:", "sip:"};
  size_t start = 0, end = length;
  while (start < end && IsBlank(raw[start])) start++;
  while (end > start && IsBlank(raw[end - 1])) end--;
  for (const char* scheme : kSchemes)
    if (StartsWithScheme(raw + start, end - start, scheme)) {
      start += strlen(scheme);
      break;
    }
  while (start < end && raw[start] == '/') start++;
  // Whole characters up to the log's limit; a longer text is cut and says so.
  char decoded[kLoggedTextLimit];
  size_t used = 0;
  size_t at = start;
  while (at < end) {
    size_t from = at;
    PhoneCharacter character = ReadPhoneCharacter(raw, end, &at);
    char bytes[16];
    size_t count = 0;
    if (character.kind == kCharacterAscii) {
      bytes[count++] = character.ascii;
    } else {
      // At most a three-byte character and its escapes; anything longer was
      // cut off by a fault, and its bytes are shown as they came.
      if (at - from > sizeof bytes) at = from + 1;
      count = DecodeSpan(raw, from, at, bytes);
    }
    if (used + count > sizeof decoded) {
      at = from;
      break;
    }
    memcpy(decoded + used, bytes, count);
    used += count;
  }
  while (used > 0 && IsBlank(decoded[used - 1])) used--;
  size_t written = FormatTextForLog(decoded, used, out, size);
  if (at < end && written + 4 <= size) {
    memcpy(out + written, "...", 4);
    written += 3;
  }
  return written;
}

namespace {
// One supplementary-service procedure: the code as dialled, then what follows it.
enum CodeTail {
  kNothing,       // the code alone: "#21#"
  kTargetThenEnd, // a number, optionally "*" and a basic-service group, then "#": "*21*0301234#"
  kCalledNumber,  // the number to call right after: "#31#0301234"
};
struct FeatureCodeMeaning {
  const char* code;
  CodeTail tail;
  const char* meaning;  // before the number that follows, where there is one
  const char* after;    // after that number
};
// 3GPP TS 22.030 (the MMI procedures) with the service codes of TS 22.004:
// "*" activates or registers, "#" deactivates, "##" erases; 21 unconditional
// forwarding, 61 on no reply, 62 when not reachable, 67 on busy, 31 calling
// line identification restriction, 43 call waiting.
const FeatureCodeMeaning kFeatureCodeMeanings[] = {
    {"*21*", kTargetThenEnd, "turns on call forwarding of every call, to ", ""},
    {"*61*", kTargetThenEnd, "turns on call forwarding of calls not answered, to ", ""},
    {"*62*", kTargetThenEnd, "turns on call forwarding while the phone cannot be reached, to ", ""},
    {"*67*", kTargetThenEnd, "turns on call forwarding while the line is busy, to ", ""},
    {"#21#", kNothing, "turns off call forwarding of every call", ""},
    {"##21#", kNothing, "turns off call forwarding of every call and forgets its number", ""},
    {"*31#", kCalledNumber, "calls ", " showing your number"},
    {"#31#", kCalledNumber, "calls ", " hiding your number"},
    {"*43#", kNothing, "turns on call waiting", ""},
    {"#43#", kNothing, "turns off call waiting", ""},
};

bool IsNumberCharacter(char c) { return (c >= '0' && c <= '9') || c == '+'; }

// The number that follows the code, into target; false when the rest is not
// what the procedure takes.
bool ReadTail(const char* rest, CodeTail tail, char* target, size_t size) {
  size_t digits = 0;
  while (IsNumberCharacter(rest[digits])) digits++;
  if (tail == kNothing) return !*rest;
  if (!digits || digits >= size) return false;
  memcpy(target, rest, digits);
  target[digits] = 0;
  rest += digits;
  if (tail == kCalledNumber) return !*rest;
  if (*rest == '*')
    for (rest++; *rest >= '0' && *rest <= '9';) rest++;
  return rest[0] == '#' && !rest[1];
}
}  // namespace

bool DescribeFeatureCode(const char* normalised, char* out, size_t size) {
  if (size) out[0] = 0;
  if (!IsFeatureCode(normalised)) return false;
  for (const FeatureCodeMeaning& known : kFeatureCodeMeanings) {
    size_t codeLength = strlen(known.code);
    char target[64] = "";
    if (strncmp(normalised, known.code, codeLength) != 0 ||
        !ReadTail(normalised + codeLength, known.tail, target, sizeof target))
      continue;
    snprintf(out, size, "%s%s%s", known.meaning, target, known.after);
    break;
  }
  return true;
}
