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
                           {"0555501230", kDialledAsWritten, "0555501230"},  // written for dialling here
                           {"01230,12", kDialledAsWritten, "01230,12"},
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
  ExpectDialled(Rules({}), {
                               {"+49555501230", kDialledAsWritten, "+49555501230"},
                               {"0555501230", kDialledAsWritten, "0555501230"},
                           });
}

TEST(DialingRules, TheLongestNumberFitsWithTheLongestPrefixes) {
  std::string number = "+" + std::string(kMaxNumberLength - 1, '7');
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
  for (const char16_t* other : {u"--Country", u"--countryx", u"--count", u"-country", u"", u"--"})
    EXPECT_EQ(kRuleCount, DialingRuleOfOption(other)) << Narrow(other);
}
