#include "service/number/number_in_text.h"

#include "service/number/phone_characters.h"
#include "service/number/phone_number.h"

static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
static bool IsKey(char c) { return IsDigit(c) || c == '*' || c == '#'; }
static bool IsSeparator(char c) { return c == '-' || c == '.' || c == '/' || c == '(' || c == ')'; }
static bool IsLetterOrDigit(const PhoneCharacter& c) {
  if (c.kind == kCharacterWithoutMeaning) return true;  // a letter of another script, say
  char a = c.ascii;
  return IsDigit(a) || (a >= 'a' && a <= 'z') || (a >= 'A' && a <= 'Z');
}

// The number that may start at from: its end after the last key, and its digits.
static size_t ReadCandidate(const char* text, size_t length, size_t from, size_t* digits) {
  size_t at = from, end = from, blanks = 0;
  *digits = 0;
  bool first = true;
  while (at < length) {
    PhoneCharacter c = ReadPhoneCharacter(text, length, &at);
    if (c.kind == kCharacterAscii && IsKey(c.ascii)) {
      if (IsDigit(c.ascii)) ++*digits;
      end = at;
      blanks = 0;
    } else if (c.kind == kCharacterAscii && c.ascii == '+' && first) {
    } else if (c.kind == kCharacterAscii && IsSeparator(c.ascii)) {
      blanks = 0;
    } else if (c.kind == kCharacterAscii && c.ascii == ' ' && ++blanks < 2) {
    } else {
      break;
    }
    first = false;
  }
  return end;
}

bool FindPhoneNumberInText(const char* text, size_t length, size_t* start, size_t* size) {
  size_t at = 0;
  bool afterWord = false;
  while (at < length) {
    size_t here = at;
    PhoneCharacter c = ReadPhoneCharacter(text, length, &at);
    bool opens = c.kind == kCharacterAscii && (IsKey(c.ascii) || c.ascii == '+' || c.ascii == '(');
    if (opens && !afterWord) {
      size_t digits;
      size_t end = ReadCandidate(text, length, here, &digits);
      if (digits >= kMinDigitsInText) {
        NormalizedNumber number;
        NormalizePhoneNumber(text + here, end - here, &number);
        if (number.verdict == kNumberAccepted) {
          *start = here;
          *size = end - here;
          return true;
        }
      }
      if (end > at) {
        // Not a number: nothing inside it starts one either.
        at = end;
        afterWord = true;
        continue;
      }
    }
    // "ab+49..." is one word: what follows a skipped start is skipped too.
    afterWord = IsLetterOrDigit(c) || (opens && afterWord);
  }
  return false;
}
