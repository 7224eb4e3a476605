#include "service/number/dialing_rules.h"

#include <stdio.h>
#include <string.h>

#include "service/number/service_text.h"

namespace {
struct RuleLimits {
  const char* option;
  size_t fewest;
  size_t most;
};

// In the order of DialingRule.
const RuleLimits kRuleLimits[kRuleCount] = {
    {"--country", 1, 3}, {"--area", 1, kMaxRuleDigits}, {"--outside", 0, kMaxOutsideDigits},
    {"--national-prefix", 0, 4}, {"--international-prefix", 1, kMaxRuleDigits}, {"--extension-digits", 1, 2},
};

bool SameOption(const char16_t* option, const char* name) {
  for (; *name; name++, option++)
    if (*option != char16_t(*name)) return false;
  return *option == 0;
}

size_t Append(char* dialled, size_t at, const char* text, size_t length) {
  memcpy(dialled + at, text, length);
  return at + length;
}
}  // namespace

void InitDialingRules(DialingRules* rules) {
  memset(rules, 0, sizeof *rules);
  strcpy(rules->digits[kRuleNationalPrefix], "0");
  strcpy(rules->digits[kRuleInternationalPrefix], "00");
}

DialingRule DialingRuleOfOption(const char16_t* option) {
  for (int rule = 0; rule < kRuleCount; rule++)
    if (SameOption(option, kRuleLimits[rule].option)) return DialingRule(rule);
  return kRuleCount;
}

const char* DialingRuleOption(DialingRule rule) { return kRuleLimits[rule].option; }

bool SetDialingRule(DialingRules* rules, DialingRule rule, const char16_t* value, char* problem, size_t size) {
  const RuleLimits& limits = kRuleLimits[rule];
  unsigned bit = 1u << rule;
  if (rules->given & bit) {
    snprintf(problem, size, "%s is given twice", limits.option);
    return false;
  }
  size_t length = 0;
  while (value[length] >= u'0' && value[length] <= u'9' && length <= limits.most) length++;
  bool leadingZero = rule == kRuleCountry && value[0] == u'0';
  if (value[length] != 0 || length < limits.fewest || length > limits.most || leadingZero) {
    if (rule == kRuleCountry)
      snprintf(problem, size, "%s takes a country code: 1 to 3 digits, the first not 0", limits.option);
    else
      snprintf(problem, size, "%s takes %zu to %zu digits and nothing else", limits.option, limits.fewest,
               limits.most);
    return false;
  }
  for (size_t i = 0; i <= length; i++) rules->digits[rule][i] = char(value[i]);
  rules->given |= bit;
  return true;
}

bool CheckDialingRules(const DialingRules& rules, char* problem, size_t size) {
  if (!(rules.given & (1u << kRuleCountry))) {
    for (int rule = kRuleArea; rule < kRuleCount; rule++) {
      if (rules.given & (1u << rule)) {
        snprintf(problem, size, "%s needs --country", kRuleLimits[rule].option);
        return false;
      }
    }
  }
  const char* area = rules.digits[kRuleArea];
  const char* prefix = rules.digits[kRuleNationalPrefix];
  if (*prefix && strncmp(area, prefix, strlen(prefix)) == 0) {
    snprintf(problem, size, "--area %s starts with the national prefix %s: give the area code without it", area,
             prefix);
    return false;
  }
  return true;
}

static size_t LeadingDigits(const char* text) {
  size_t digits = 0;
  while (text[digits] >= '0' && text[digits] <= '9') digits++;
  return digits;
}

static bool StartsWith(const char* text, const char* prefix, size_t length) {
  return strncmp(text, prefix, length) == 0;
}

// A number in international form: its digits (digits of them, at least one)
// from international on, what follows them after.
static DialForm DialInternational(const DialingRules& rules, const char* international, size_t digits,
                                  char* dialled) {
  const char* rest = international + digits;
  const char* country = rules.digits[kRuleCountry];
  size_t countryLength = strlen(country);
  const char* area = rules.digits[kRuleArea];
  size_t areaLength = strlen(area);
  const char* outside = rules.digits[kRuleOutside];
  size_t at = Append(dialled, 0, outside, strlen(outside));

  DialForm form = kDialledInternational;
  const char* dialledFrom = international;
  if (digits > countryLength && StartsWith(international, country, countryLength)) {
    const char* national = international + countryLength;
    size_t nationalLength = digits - countryLength;
    if (areaLength && nationalLength > areaLength && StartsWith(national, area, areaLength)) {
      form = kDialledLocal;
      dialledFrom = national + areaLength;
    } else {
      form = kDialledNational;
      dialledFrom = national;
      at = Append(dialled, at, rules.digits[kRuleNationalPrefix], strlen(rules.digits[kRuleNationalPrefix]));
    }
  } else {
    at = Append(dialled, at, rules.digits[kRuleInternationalPrefix], strlen(rules.digits[kRuleInternationalPrefix]));
  }
  at = Append(dialled, at, dialledFrom, size_t(rest - dialledFrom));
  at = Append(dialled, at, rest, strlen(rest));
  dialled[at] = 0;
  return form;
}

static DialForm DialAsWritten(const char* number, char* dialled) {
  memcpy(dialled, number, strlen(number) + 1);
  return kDialledAsWritten;
}

// Without an outside line nothing changes, and the number is as written.
static DialForm DialBehindOutsideLine(const DialingRules& rules, const char* number, DialForm form, char* dialled) {
  const char* outside = rules.digits[kRuleOutside];
  if (!*outside) return DialAsWritten(number, dialled);
  size_t at = Append(dialled, 0, outside, strlen(outside));
  at = Append(dialled, at, number, strlen(number));
  dialled[at] = 0;
  return form;
}

// A number without "+" that starts with digits of them.
static DialForm DialWrittenHere(const DialingRules& rules, const char* number, size_t digits, char* dialled) {
  bool extensionRule = rules.given & (1u << kRuleExtensionDigits);
  size_t extensionDigits = 0;
  for (const char* c = rules.digits[kRuleExtensionDigits]; *c; c++)
    extensionDigits = extensionDigits * 10 + size_t(*c - '0');
  // An internal number, whatever it starts with: "0" or "120" may be extensions.
  if (extensionRule && digits <= extensionDigits) return DialAsWritten(number, dialled);
  const char* international = rules.digits[kRuleInternationalPrefix];
  size_t internationalLength = strlen(international);
  if (StartsWith(number, international, internationalLength)) {
    // No country code starts with 0: "000..." is no call abroad but a number
    // written with a prefix too many, which is left as it is.
    const char* abroad = number + internationalLength;
    if (digits > internationalLength && *abroad != '0')
      return DialInternational(rules, abroad, digits - internationalLength, dialled);
    return DialAsWritten(number, dialled);
  }
  const char* national = rules.digits[kRuleNationalPrefix];
  size_t nationalLength = strlen(national);
  if (nationalLength && digits > nationalLength && StartsWith(number, national, nationalLength))
    return DialBehindOutsideLine(rules, number, kDialledNational, dialled);
  if (extensionRule) return DialBehindOutsideLine(rules, number, kDialledLocal, dialled);
  return DialAsWritten(number, dialled);
}

DialForm ApplyDialingRules(const DialingRules& rules, const char* number, char* dialled) {
  if (!rules.digits[kRuleCountry][0]) return DialAsWritten(number, dialled);
  if (number[0] == '+') {
    size_t digits = LeadingDigits(number + 1);
    return digits ? DialInternational(rules, number + 1, digits, dialled) : DialAsWritten(number, dialled);
  }
  size_t digits = LeadingDigits(number);
  return digits ? DialWrittenHere(rules, number, digits, dialled) : DialAsWritten(number, dialled);
}

const char* DescribeDialForm(DialForm form) {
  switch (form) {
    case kDialledAsWritten:
      return "";
    case kDialledLocal:
      return "local";
    case kDialledNational:
      return "national";
    case kDialledInternational:
      return "international";
  }
  return "unknown";
}

NumberVerdict DialTypedNumber(const DialingRules& rules, const char16_t* typed, char* dialled) {
  // Room for separators and escapes around the longest number; more is no number.
  char raw[8 * kMaxNumberLength];
  size_t used = 0;
  for (size_t units; *typed; typed += units) {
    char bytes[4];
    size_t count = EncodeUtf8CodePoint(ReadUtf16CodePoint(typed, &units), bytes);
    if (used + count > sizeof raw) return kNumberTooLong;
    memcpy(raw + used, bytes, count);
    used += count;
  }
  NormalizedNumber number;
  NormalizePhoneNumber(raw, used, &number);
  if (number.verdict == kNumberAccepted) ApplyDialingRules(rules, number.digits, dialled);
  return number.verdict;
}
