#pragma once
// What the dial service makes of the text after "dial ": the number reduced to
// the characters a dialer acts on, or the reason it cannot be dialled. The text
// is whatever a phone link held, with or without its scheme, so it may still
// carry percent escapes, the slashes of "tel://", URI parameters and the
// spacing people and web pages write.
//
// The steps, in order:
//   1. blanks, tabs, CR and LF at either end are dropped;
//   2. one leading "tel:", "callto:", "sip:" or "sips:" (in any case) is
//      dropped. Of a SIP address only the user part counts: the text before
//      the first "@" and before a ":" (which starts a password); an address
//      without "@" holds no number. A text without a scheme that holds an
//      "@" as typed (not escaped) is a SIP address too, "USER@HOST...", as
//      teldial hands over a sip: link;
//   3. the first ";" (as typed, not escaped) ends the number and starts its
//      parameters (RFC 3966), each ";name" or ";name=value", names in any case:
//        ext=DIGITS          a "," pause and the digits follow the number;
//        isub=VALUE          an ISDN subaddress: no phone dials it, dropped;
//        phone-context=CTX   the scope of a local number (a domain name or
//                            "+" and digits); it adds no digits, as the RFC
//                            says: a local number is dialled as it stands;
//        any other NAME      dropped.
//      A name must be letters, digits and "-", and a value of ext, isub or
//      phone-context is required and well formed; ext at most once. Empty
//      parameters (";;") are skipped;
//   4. the number is read by ReadPhoneCharacter (phone_characters.h): each %XX
//      is decoded once, UTF-8 is decoded, and the Unicode spaces, dashes and
//      full-width forms count as their ASCII character;
//   5. the separators blank, "-", ".", "(", ")" and "/" are dropped, which also
//      takes the "//" that "tel://" and "callto://" leave behind;
//   6. kept are the digits, "*", "#", the pauses "," "p" "w" ("P" and "W" are
//      kept in lower case), and "+" only before every other kept character;
//   7. letters other than the pauses are read by the telephone keypad (ABC 2,
//      DEF 3, GHI 4, JKL 5, MNO 6, PQRS 7, TUV 8, WXYZ 9; "P" and "W" too) only
//      in a vanity number: an optional "+" and at least kMinVanityLeadDigits
//      digits, then only letters (and separators) to the end of the number,
//      kMinVanityDigits to kMaxVanityDigits digits once the letters are read.
//      So "1-800-FLOWERS" is "18003569377", while "hello", "0555 abc" and
//      "0555 ext 12" are rejected;
//   8. anything else rejects the number: other letters, other punctuation,
//      control and NUL bytes, characters beyond ASCII that are not folded,
//      bad UTF-8, and a "+" after another kept character, because such a
//      number would reach someone else than meant.
// An accepted number holds at least one digit before any parameter, at most
// kMaxNumberLength characters, the extension included, and after a "+" at most
// kMaxInternationalDigits digits (E.164) before the first other character (a
// pause, an extension, "*" or "#").
//
// The trunk prefix written in parentheses right after the country code, as in
// "+49 (0)5555 0123-0" (E.123), is for callers within that country only and is
// left out: "+49555501230". The "+" and the country code are the first things
// in the number, the code a group of one to three digits as written (no
// country code is longer, and E.123 sets it apart with a blank), then "(0)",
// possibly after separators; escaped ("%280%29") or full-width it is the same.
// "00" in the group before the code stands for the "+": "0049 (0)30 1234567"
// is "0049301234567".
// A 0 anywhere else, or not in parentheses, is a digit of the number:
// "+39 06 1234 5678" is "+390612345678". Reads exactly length bytes, never more.
#include <stddef.h>

const size_t kMaxNumberLength = 128;
const size_t kMinVanityLeadDigits = 3;
const size_t kMinVanityDigits = 10;
const size_t kMaxVanityDigits = 15;
const size_t kMaxInternationalDigits = 15;

enum NumberVerdict {
  kNumberAccepted,
  kNumberEmpty,         // nothing left once the separators are gone
  kNumberWithoutDigit,  // only "+", "*", "#" or pauses
  kNumberBadEscape,
  kNumberBadCharacter,
  kNumberLatePlus,
  kNumberTooLong,
  kNumberBadParameter,  // position: the ";" that starts it
  kNumberWithoutUser,   // a SIP address without "@"
  kNumberTooManyDigits, // more than kMaxInternationalDigits after "+"
};
const int kNumberVerdicts = kNumberTooManyDigits + 1;

struct NormalizedNumber {
  NumberVerdict verdict;
  size_t length;    // characters in digits; 0 unless accepted
  size_t position;  // for an escape, a character, a "+" or a parameter at
                    // fault: its byte in the raw text, counted from 1; else 0
  char digits[kMaxNumberLength + 1];  // the number, 0-terminated; empty unless accepted
};

void NormalizePhoneNumber(const char* raw, size_t length, NormalizedNumber* number);

// The reason as a short phrase for the log, "" for kNumberAccepted.
const char* DescribeNumberVerdict(NumberVerdict verdict);
