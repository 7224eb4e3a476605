// Dialing rules: the three forms a number in international form takes, what
// is left as it stands, and which option values and combinations are refused.
#include <gtest/gtest.h>

#include <string.h>

#include <memory>
#include <string>

#include "service/number/dialing_rules.h"
#include "test_strings.h"

namespace {
struct RuleValue {
  DialingRule rule;
  const char16_t* value;
};

// Rules made the way the service makes them from its options.
DialingRules Rules(std::initializer_list<RuleValue> values) {
  DialingRules rules;
  InitDialingRules(&rules);
  char problem[160];
  for (const RuleValue& value : values)
    EXPECT_TRUE(SetDialingRule(&rules, value.rule, value.value, problem, sizeof problem)) << problem;
  EXPECT_TRUE(CheckDialingRules(rules, problem, sizeof problem)) << problem;
  return rules;
}

struct DialCase {
  const char* number;
  DialForm form;
  const char* dialled;
};

void ExpectDialled(const DialingRules& rules, std::initializer_list<DialCase> cases) {
  for (const DialCase& c : cases) {
    SCOPED_TRACE(c.number);
    // Exactly as large as the contract says, so a longer write is caught.
    std::unique_ptr<char[]> dialled(new char[kMaxDialledLength + 1]);
    EXPECT_EQ(c.form, ApplyDialingRules(rules, c.number, dialled.get()));
    EXPECT_STREQ(c.dialled, dialled.get());
  }
}

std::string Problem(std::initializer_list<RuleValue> values) {
  DialingRules rules;
  InitDialingRules(&rules);
  char problem[160] = "";
  for (const RuleValue& value : values)
    if (!SetDialingRule(&rules, value.rule, value.value, problem, sizeof problem)) return problem;
  if (!CheckDialingRules(rules, problem, sizeof problem)) return problem;
  return "";
}
}  // namespace

TEST(DialingRules, TheExamplesBehindAPbx) {
  DialingRules rules = Rules({{kRuleCountry, u"49"}, {kRuleArea, u"5555"}, {kRuleOutside, u"0"}});
  ExpectDialled(rules, {
                           {"+49555501230", kDialledLocal, "001230"},
                           {"+49666601230", kDialledNational, "00666601230"},
                           {"+12015550123", kDialledInternational, "00012015550123"},
                           {"+49555501230,1234", kDialledLocal, "001230,1234"},
                           {"+12015550123,1234", kDialledInternational, "00012015550123,1234"},
                           {"+4955550123p1w2#", kDialledLocal, "00123p1w2#"},
                           {"+495555", kDialledNational, "005555"},  // nothing after the area code
                           {"+4955", kDialledNational, "0055"},
                           {"+49", kDialledInternational, "00049"},
                           {"+4", kDialledInternational, "0004"},
                           {"0555501230", kDialledNational, "00555501230"},  // written for dialling here
                           {"01230,12", kDialledNational, "001230,12"},
                           {"0049555501230", kDialledLocal, "001230"},
                           {"0", kDialledAsWritten, "0"},
                           {"00", kDialledAsWritten, "00"},
                           {"00049555501230", kDialledAsWritten, "00049555501230"},  // a prefix too many
                           {"201", kDialledAsWritten, "201"},
                           {"*31#0555", kDialledAsWritten, "*31#0555"},
                           {"+*31#", kDialledAsWritten, "+*31#"},
                       });
}

TEST(DialingRules, OtherCountriesAndNoRules) {
  ExpectDialled(Rules({{kRuleCountry, u"1"},
                       {kRuleArea, u"201"},
                       {kRuleNationalPrefix, u"1"},
                       {kRuleInternationalPrefix, u"011"}}),
                {
                    {"+12015550123", kDialledLocal, "5550123"},
                    {"+12125550123", kDialledNational, "12125550123"},
                    {"+4955501230", kDialledInternational, "0114955501230"},
                });
  ExpectDialled(Rules({{kRuleCountry, u"39"}, {kRuleNationalPrefix, u""}, {kRuleOutside, u"9"}}),
                {
                    {"+390612345678", kDialledNational, "90612345678"},
                    {"+3906", kDialledNational, "906"},
                    {"+3512345", kDialledInternational, "9003512345"},
                });
  ExpectDialled(Rules({{kRuleCountry, u"49"}}), {
                                                 {"0301234567", kDialledAsWritten, "0301234567"},  // no outside line
                                                 {"0044207946000", kDialledInternational, "0044207946000"},
                                             });
  ExpectDialled(Rules({}), {
                               {"+49555501230", kDialledAsWritten, "+49555501230"},
                               {"0555501230", kDialledAsWritten, "0555501230"},
                           });
}

// Numbers as pages write them in six countries, normalised and dialled
// without rules and with the rules of a phone in that country (DE, AT, CH, UK
// with an outside line 0 or 9, IT without a national prefix, US with its own
// prefixes) and, for the numbers abroad, of a phone in Germany.
TEST(DialingRules, WrittenFormsOfSixCountries) {
  const DialingRules none = Rules({});
  const DialingRules de = Rules({{kRuleCountry, u"49"}, {kRuleArea, u"5555"}, {kRuleOutside, u"0"}});
  const DialingRules deExtensions =
      Rules({{kRuleCountry, u"49"}, {kRuleArea, u"5555"}, {kRuleOutside, u"0"}, {kRuleExtensionDigits, u"3"}});
  const DialingRules at = Rules({{kRuleCountry, u"43"}, {kRuleArea, u"1"}, {kRuleOutside, u"0"}});
  const DialingRules ch = Rules({{kRuleCountry, u"41"}, {kRuleArea, u"44"}, {kRuleOutside, u"0"}});
  const DialingRules uk = Rules({{kRuleCountry, u"44"}, {kRuleArea, u"20"}, {kRuleOutside, u"9"}});
  const DialingRules it =
      Rules({{kRuleCountry, u"39"}, {kRuleNationalPrefix, u""}, {kRuleOutside, u"0"}, {kRuleExtensionDigits, u"4"}});
  const DialingRules us = Rules({{kRuleCountry, u"1"},
                                 {kRuleArea, u"201"},
                                 {kRuleNationalPrefix, u"1"},
                                 {kRuleInternationalPrefix, u"011"},
                                 {kRuleOutside, u"9"},
                                 {kRuleExtensionDigits, u"4"}});
  struct Case {
    const DialingRules& rules;
    const char* written;
    NumberVerdict verdict;
    const char* withoutRules;
    const char* withRules;
  };
  const Case cases[] = {
      {de, "+49 (0)5555 0123-0", kNumberAccepted, "+49555501230", "001230"},
      {de, "+49 (0)30 1234567", kNumberAccepted, "+49301234567", "00301234567"},
      {de, "+49%20%280%2930%201234567", kNumberAccepted, "+49301234567", "00301234567"},
      {de, "+44 (0)20 7946 0000", kNumberAccepted, "+442079460000", "000442079460000"},
      {de, "030 1234567", kNumberAccepted, "0301234567", "00301234567"},
      {de, "(030) 123 4567", kNumberAccepted, "0301234567", "00301234567"},
      {de, "0044 20 7946 0000", kNumberAccepted, "00442079460000", "000442079460000"},
      {de, "0049 (0)30 1234567", kNumberAccepted, "0049301234567", "00301234567"},
      {de, "201", kNumberAccepted, "201", "201"},
      {de, "5550123", kNumberAccepted, "5550123", "5550123"},
      {deExtensions, "5550123", kNumberAccepted, "5550123", "05550123"},
      {deExtensions, "201", kNumberAccepted, "201", "201"},
      {de, "+4955501230123456789012", kNumberTooManyDigits, "", ""},
      {at, "+43 (0)1 123 4567", kNumberAccepted, "+4311234567", "01234567"},
      {at, "+43 (0)316 123456", kNumberAccepted, "+43316123456", "00316123456"},
      {at, "01 123 4567", kNumberAccepted, "011234567", "0011234567"},
      {ch, "+41 (0)44 668 18 00", kNumberAccepted, "+41446681800", "06681800"},
      {ch, "+41 (0)31 123 45 67", kNumberAccepted, "+41311234567", "00311234567"},
      {ch, "0049 30 1234567", kNumberAccepted, "0049301234567", "00049301234567"},
      {uk, "+44 (0)20 7946 0000", kNumberAccepted, "+442079460000", "979460000"},
      {uk, "020 7946 0000", kNumberAccepted, "02079460000", "902079460000"},
      {uk, "+44 (0)161 496 0000", kNumberAccepted, "+441614960000", "901614960000"},
      {it, "+39 06 1234 5678", kNumberAccepted, "+390612345678", "00612345678"},
      {it, "06 1234 5678", kNumberAccepted, "0612345678", "00612345678"},
      {it, "0049 30 1234567", kNumberAccepted, "0049301234567", "00049301234567"},
      {it, "1234", kNumberAccepted, "1234", "1234"},
      {us, "+1 (201) 555-0123", kNumberAccepted, "+12015550123", "95550123"},
      {us, "1-212-555-0123", kNumberAccepted, "12125550123", "912125550123"},
      {us, "(212) 555-0123", kNumberAccepted, "2125550123", "92125550123"},
      {us, "011 44 20 7946 0000", kNumberAccepted, "011442079460000", "9011442079460000"},
      {us, "1234", kNumberAccepted, "1234", "1234"},  // an extension, though it starts with the national prefix
      {us, "+1 201 555 0123 4567 8901", kNumberTooManyDigits, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.written);
    NormalizedNumber number;
    NormalizePhoneNumber(c.written, strlen(c.written), &number);
    EXPECT_EQ(c.verdict, number.verdict) << DescribeNumberVerdict(number.verdict);
    EXPECT_STREQ(c.withoutRules, number.digits);
    if (number.verdict != kNumberAccepted) continue;
    std::unique_ptr<char[]> dialled(new char[kMaxDialledLength + 1]);
    ApplyDialingRules(none, number.digits, dialled.get());
    EXPECT_STREQ(c.withoutRules, dialled.get());
    ApplyDialingRules(c.rules, number.digits, dialled.get());
    EXPECT_STREQ(c.withRules, dialled.get());
  }
}

TEST(DialingRules, TheLongestNumberFitsWithTheLongestPrefixes) {
  std::string number = "+" + std::string(kMaxInternationalDigits, '7') + "," +
                       std::string(kMaxNumberLength - kMaxInternationalDigits - 2, '7');
  std::string expected = "1234" + std::string("12345678") + number.substr(1);
  ASSERT_EQ(kMaxDialledLength, expected.size());
  DialingRules rules = Rules({{kRuleCountry, u"49"}, {kRuleOutside, u"1234"}, {kRuleInternationalPrefix, u"12345678"}});
  ExpectDialled(rules, {{number.c_str(), kDialledInternational, expected.c_str()}});
}

TEST(DialingRules, RefusesValuesThatAreNotDigitsOfTheRightLength) {
  struct Case {
    RuleValue value;
    bool taken;
  };
  const Case cases[] = {
      {{kRuleCountry, u"49"}, true},          {{kRuleCountry, u"358"}, true},
      {{kRuleCountry, u"049"}, false},        {{kRuleCountry, u"1234"}, false},
      {{kRuleCountry, u""}, false},           {{kRuleCountry, u"4a"}, false},
      {{kRuleCountry, u"+49"}, false},        {{kRuleCountry, u"\xFF14\xFF19"}, false},
      {{kRuleArea, u"12345678"}, true},       {{kRuleArea, u"123456789"}, false},
      {{kRuleArea, u""}, false},              {{kRuleArea, u"55 55"}, false},
      {{kRuleOutside, u""}, true},            {{kRuleOutside, u"0000"}, true},
      {{kRuleOutside, u"00000"}, false},      {{kRuleOutside, u"9,"}, false},
      {{kRuleNationalPrefix, u""}, true},     {{kRuleNationalPrefix, u"-1"}, false},
      {{kRuleInternationalPrefix, u""}, false}, {{kRuleInternationalPrefix, u"12345678"}, true},
      {{kRuleInternationalPrefix, u"123456789012"}, false},
      {{kRuleExtensionDigits, u"0"}, true},   {{kRuleExtensionDigits, u"15"}, true},
      {{kRuleExtensionDigits, u"100"}, false}, {{kRuleExtensionDigits, u""}, false},
  };
  for (const Case& c : cases) {
    DialingRules rules;
    InitDialingRules(&rules);
    char problem[160] = "";
    SCOPED_TRACE(Narrow(c.value.value));
    EXPECT_EQ(c.taken, SetDialingRule(&rules, c.value.rule, c.value.value, problem, sizeof problem)) << problem;
    std::string option = DialingRuleOption(c.value.rule);
    if (!c.taken) EXPECT_EQ(option, std::string(problem).substr(0, option.size())) << problem;
    EXPECT_EQ(c.taken, (rules.given & (1u << c.value.rule)) != 0);
  }
}

TEST(DialingRules, RefusesOptionsThatDoNotFitTogether) {
  EXPECT_EQ("--area needs --country", Problem({{kRuleArea, u"5555"}}));
  EXPECT_EQ("--outside needs --country", Problem({{kRuleOutside, u"0"}}));
  EXPECT_EQ("--international-prefix needs --country", Problem({{kRuleInternationalPrefix, u"011"}}));
  EXPECT_EQ("--extension-digits needs --country", Problem({{kRuleExtensionDigits, u"3"}}));
  EXPECT_EQ("--country is given twice", Problem({{kRuleCountry, u"49"}, {kRuleCountry, u"49"}}));
  EXPECT_EQ("--area 05555 starts with the national prefix 0: give the area code without it",
            Problem({{kRuleCountry, u"49"}, {kRuleArea, u"05555"}}));
  EXPECT_EQ("", Problem({{kRuleCountry, u"39"}, {kRuleNationalPrefix, u""}, {kRuleArea, u"06"}}));
  EXPECT_EQ("", Problem({{kRuleCountry, u"49"}}));
  EXPECT_EQ("", Problem({}));

  char small[8];
  DialingRules rules;
  InitDialingRules(&rules);
  EXPECT_FALSE(SetDialingRule(&rules, kRuleCountry, u"x", small, sizeof small));
  EXPECT_EQ(sizeof small - 1, strlen(small)) << "cut to the buffer";
}

TEST(DialingRules, KnowsItsOptionsByTheirExactNames) {
  EXPECT_EQ(kRuleCountry, DialingRuleOfOption(u"--country"));
  EXPECT_EQ(kRuleArea, DialingRuleOfOption(u"--area"));
  EXPECT_EQ(kRuleOutside, DialingRuleOfOption(u"--outside"));
  EXPECT_EQ(kRuleNationalPrefix, DialingRuleOfOption(u"--national-prefix"));
  EXPECT_EQ(kRuleInternationalPrefix, DialingRuleOfOption(u"--international-prefix"));
  EXPECT_EQ(kRuleExtensionDigits, DialingRuleOfOption(u"--extension-digits"));
  for (const char16_t* other : {u"--Country", u"--countryx", u"--count", u"-country", u"", u"--"})
    EXPECT_EQ(kRuleCount, DialingRuleOfOption(other)) << Narrow(other);
}
