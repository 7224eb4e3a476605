#pragma once
// Dialing rules: what the phone system behind the service dials for a
// normalised number (phone_number.h), as the operator set them with the
// options --country, --area, --outside, --national-prefix (default 0),
// --international-prefix (default 00) and --extension-digits.
//
// Without --country every number is dialled as it stands: the rules cannot
// know what "+" means here. The other options therefore need --country. With
// it, a number is read by how it starts. Its digits end at the first
// character that is not a digit; what follows (a pause and an extension, "*"
// or "#") is dialled unchanged after them.
//   "+" CC AREA REST  local:          OUTSIDE REST             (REST: at least one digit)
//   "+" CC NATIONAL   national:       OUTSIDE NATIONAL-PREFIX NATIONAL
//   "+" DIGITS        international:  OUTSIDE INTERNATIONAL-PREFIX DIGITS
// The first form needs --area, the second at least one digit after CC. A
// number written for dialling in this country is an outside number too:
//   INTERNATIONAL-PREFIX DIGITS   read as "+" DIGITS, above (DIGITS not
//                                 starting with 0: no country code does)
//   NATIONAL-PREFIX DIGITS        national: OUTSIDE and the number as written
//   DIGITS (more than N)          local:    OUTSIDE and the number as written,
//                                 only with --extension-digits N
// (without --outside these two are dialled as written).
// A number of at most N digits (--extension-digits N) is internal and dialled
// as it stands whatever it starts with, and so is every other number: one that
// starts with "*" or "#" (a feature code), without --extension-digits one
// without a prefix, and one with a prefix but no digit after it.
//
// With --country 49 --area 5555 --outside 0 --extension-digits 3:
//   +49555501230   -> 001230          (local)
//   +49666601230   -> 00666601230     (national)
//   +12015550123   -> 00012015550123  (international)
//   0301234567     -> 00301234567     (national)
//   0044207946000  -> 00044207946000  (international)
//   5550123        -> 05550123        (local)
//   201            -> 201
#include <stddef.h>

#include "service/number/phone_number.h"

enum DialingRule {
  kRuleCountry,
  kRuleArea,
  kRuleOutside,
  kRuleNationalPrefix,
  kRuleInternationalPrefix,
  kRuleExtensionDigits,
  kRuleCount,
};

const size_t kMaxRuleDigits = 8;
const size_t kMaxOutsideDigits = 4;
// The longest dialled text: the number without its "+" (or a written
// prefix) after the longest outside and international prefixes.
const size_t kMaxDialledLength = kMaxNumberLength - 1 + kMaxOutsideDigits + kMaxRuleDigits;

struct DialingRules {
  char digits[kRuleCount][kMaxRuleDigits + 1];  // each 0-terminated
  unsigned given;                               // bit 1 << rule for each option given
};

enum DialForm { kDialledAsWritten, kDialledLocal, kDialledNational, kDialledInternational };

// No country (no rewriting), national prefix "0", international prefix "00".
void InitDialingRules(DialingRules* rules);

// The rule an option names ("--country", ...), or kRuleCount for any other text.
DialingRule DialingRuleOfOption(const char16_t* option);
const char* DialingRuleOption(DialingRule rule);  // "--country", ...

// Takes an option's value. False when the rule was given before or the value
// is not what the rule takes: only digits, and of these --country 1 to 3 not
// starting with 0, --area 1 to 8, --outside and --national-prefix 0 to 4,
// --international-prefix 1 to 8, --extension-digits 1 to 2. The problem goes
// to problem (0-terminated, at most size bytes), led by the option.
bool SetDialingRule(DialingRules* rules, DialingRule rule, const char16_t* value, char* problem, size_t size);

// Once all options are taken: false, with the problem, when they do not fit
// together (a rule without --country; an area code that starts with the
// national prefix, which would never match a number).
bool CheckDialingRules(const DialingRules& rules, char* problem, size_t size);

// What is dialled for an accepted number (0-terminated, at most
// kMaxNumberLength characters): written to dialled, which holds
// kMaxDialledLength + 1 bytes.
DialForm ApplyDialingRules(const DialingRules& rules, const char* number, char* dialled);

const char* DescribeDialForm(DialForm form);  // "local", ...; "" for kDialledAsWritten

// A number typed by a person (UTF-16, a --test-call or the settings window's
// test field) as the loop would dial it: normalised, then the rules applied.
// kNumberAccepted with dialled written (kMaxDialledLength + 1 bytes), or why not.
NumberVerdict DialTypedNumber(const DialingRules& rules, const char16_t* typed, char* dialled);
