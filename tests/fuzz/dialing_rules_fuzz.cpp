// Dialing rules over any option values and any number: a value is taken only
// when it is digits of the rule's length, and what is dialled for an accepted
// number fits its buffer and gives the number back once the prefixes the
// rules added are taken off again; a number written with the national prefix
// is never left without the outside line.
#include <string.h>

#include <memory>
#include <string>

#include "fuzz_support.h"
#include "service/number/call_guard.h"
#include "service/number/dialing_rules.h"

namespace {
// The text after a 0 byte, or the rest; advances data past it.
std::u16string NextValue(const uint8_t** data, const uint8_t* end) {
  std::u16string value;
  while (*data < end && **data != 0) value += char16_t(*(*data)++);
  if (*data < end) (*data)++;
  return value;
}

bool StartsWith(const std::string& text, const std::string& start) { return text.compare(0, start.size(), start) == 0; }

void CheckDialled(const DialingRules& rules, const NormalizedNumber& number) {
  std::unique_ptr<char[]> buffer(new char[kMaxDialledLength + 1]);
  DialForm form = ApplyDialingRules(rules, number.digits, buffer.get());
  std::string dialled = buffer.get();
  std::string written = number.digits;
  std::string country = rules.digits[kRuleCountry];
  std::string outside = rules.digits[kRuleOutside];
  std::string national = rules.digits[kRuleNationalPrefix];
  std::string international = rules.digits[kRuleInternationalPrefix];
  bool extensionRule = rules.given & (1u << kRuleExtensionDigits);
  FUZZ_CHECK(dialled.size() <= kMaxDialledLength);
  size_t digits = written.find_first_not_of("0123456789", written[0] == '+');
  if (digits == std::string::npos) digits = written.size();
  if (form == kDialledAsWritten) {
    FUZZ_CHECK(dialled == written);
    FUZZ_CHECK(country.empty() || written[0] != '+' || digits == 1);
    bool nationalForm = !national.empty() && StartsWith(written, national) && digits > national.size() &&
                        !StartsWith(written, international);
    FUZZ_CHECK(country.empty() || extensionRule || outside.empty() || !nationalForm);
    return;
  }
  FUZZ_CHECK(!country.empty());
  FUZZ_CHECK(StartsWith(dialled, outside));
  std::string after = dialled.substr(outside.size());
  // Written for dialling here: behind the outside line as it stands, unless
  // the international prefix makes it a "+" number.
  std::string plus = written;
  if (written[0] != '+') {
    FUZZ_CHECK(digits > 0);
    if (!StartsWith(written, international)) {
      FUZZ_CHECK(after == written && !outside.empty());
      if (form == kDialledNational) FUZZ_CHECK(!national.empty() && StartsWith(written, national));
      if (form == kDialledLocal) FUZZ_CHECK(extensionRule);
      FUZZ_CHECK(form != kDialledInternational);
      return;
    }
    plus = "+" + written.substr(international.size());
    digits -= international.size() - 1;
    FUZZ_CHECK(plus[1] != '0');
  }
  std::string prefix;  // the national or international prefix
  std::string restored;
  if (form == kDialledInternational) {
    prefix = international;
    FUZZ_CHECK(StartsWith(after, prefix));
    restored = "+" + after.substr(prefix.size());
    FUZZ_CHECK(!StartsWith(plus, "+" + country) || digits - 1 <= country.size());
  } else if (form == kDialledNational) {
    prefix = national;
    FUZZ_CHECK(StartsWith(after, prefix));
    restored = "+" + country + after.substr(prefix.size());
  } else {
    restored = "+" + country + rules.digits[kRuleArea] + after;
    FUZZ_CHECK(rules.digits[kRuleArea][0] && after[0] >= '0' && after[0] <= '9');
  }
  FUZZ_CHECK(restored == plus);
}
void CheckBlockBehindOutsidePrefix(const DialingRules& rules, const NormalizedNumber& number) {
  std::string written;
  for (const char* at = number.digits; *at; at++)
    if (*at != ',' && *at != 'p' && *at != 'w') written += *at;
  std::string outside = rules.digits[kRuleOutside];
  if (written[0] == '+' || outside.size() + strlen(number.digits) > kMaxNumberLength) return;
  std::unique_ptr<BlockList> list(new BlockList());
  list->count = 1;
  size_t length = written.size() < kMaxBlockPrefixLength ? written.size() : kMaxBlockPrefixLength;
  memcpy(list->prefixes[0], written.data(), length);
  FUZZ_CHECK(FindBlockingPrefix(*list, rules, number.digits) == list->prefixes[0]);
  FUZZ_CHECK(FindBlockingPrefix(*list, rules, (outside + number.digits).c_str()) == list->prefixes[0]);
}
}  // namespace

// Input: six option values, each ended by a 0 byte, then the number text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* end = data + size;
  DialingRules rules;
  InitDialingRules(&rules);
  char problem[160];
  for (int rule = 0; rule < kRuleCount; rule++) {
    std::u16string value = NextValue(&data, end);
    if (value.size() > 3 * kMaxRuleDigits) value.resize(3 * kMaxRuleDigits);
    bool taken = SetDialingRule(&rules, DialingRule(rule), value.c_str(), problem, sizeof problem);
    FUZZ_CHECK(taken == ((rules.given >> rule) & 1));
    bool digits = value.find_first_not_of(u"0123456789") == std::u16string::npos;
    FUZZ_CHECK(!taken || (digits && value.size() <= kMaxRuleDigits));
    if (taken) FUZZ_CHECK(value == std::u16string(rules.digits[rule], rules.digits[rule] + value.size()));
    if (!taken) FUZZ_CHECK(strncmp(problem, DialingRuleOption(DialingRule(rule)), 2) == 0);
  }
  if (!CheckDialingRules(rules, problem, sizeof problem)) return 0;
  NormalizedNumber number;
  NormalizePhoneNumber(reinterpret_cast<const char*>(data), size_t(end - data), &number);
  if (number.verdict == kNumberAccepted) {
    CheckDialled(rules, number);
    CheckBlockBehindOutsidePrefix(rules, number);
  }
  return 0;
}
