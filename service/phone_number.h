#pragma once
// What the dial service makes of the text after "dial ": the number reduced to
// the characters a dialer acts on, or the reason it cannot be dialled. The text
// is whatever a phone link held after its scheme, so it may still carry
// percent escapes, the slashes of "tel://" and the spacing people write.
//
// The steps, in order:
//   1. blanks, tabs, CR and LF at either end are dropped;
//   2. one leading "tel:" or "callto:" (in any case) is dropped;
//   3. each %XX (two hex digits, either case) is decoded; a "%" without two hex
//      digits after it rejects the number. A decoded byte is judged like a
//      typed one and never decoded again ("%2525" holds "%", and is rejected);
//   4. the separators blank, "-", ".", "(", ")" and "/" are dropped, which also
//      takes the "//" that "tel://" and "callto://" leave behind;
//   5. kept are the digits, "*", "#", the pauses "," "p" "w" ("P" and "W" are
//      kept in lower case), and "+" only before every other kept character;
//   6. anything else rejects the number: letters, other punctuation, control
//      and NUL bytes, every byte above 0x7F (so all UTF-8 beyond ASCII), and a
//      "+" after another kept character, because such a number would reach
//      someone else than meant.
// An accepted number holds at least one digit and at most kMaxNumberLength
// characters. Trunk prefixes are not rewritten: "+49 (0)5555" is "+4905555".
// Reads exactly length bytes, never more.
#include <stddef.h>

const size_t kMaxNumberLength = 128;

enum NumberVerdict {
  kNumberAccepted,
  kNumberEmpty,         // nothing left once the separators are gone
  kNumberWithoutDigit,  // only "+", "*", "#" or pauses
  kNumberBadEscape,
  kNumberBadCharacter,
  kNumberLatePlus,
  kNumberTooLong,
};

struct NormalizedNumber {
  NumberVerdict verdict;
  size_t length;    // characters in digits; 0 unless accepted
  size_t position;  // for an escape, a character or a "+" at fault: its byte in
                    // the raw text, counted from 1; otherwise 0
  char digits[kMaxNumberLength + 1];  // the number, 0-terminated; empty unless accepted
};

void NormalizePhoneNumber(const char* raw, size_t length, NormalizedNumber* number);

// The reason as a short phrase for the log, "" for kNumberAccepted.
const char* DescribeNumberVerdict(NumberVerdict verdict);
