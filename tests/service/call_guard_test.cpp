// What the service refuses before the phone dials: blocked prefixes in every
// way a number can be written, feature codes, the brake on a run of numbers,
// and the summary of repeated refusals.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "service/number/call_guard.h"
#include "service/number/dialing_rules.h"
#include "service/number/phone_number.h"
#include "service/settings/service_options.h"

// Each number goes the way the service takes it: the options parsed, the
// text normalised, the dialing rules applied.
TEST(CallGuard, BlockedPrefixesCatchEveryWayOfWritingANumber) {
  struct Case {
    std::vector<const char16_t*> options;
    const char* text;
    const char* blockedBy;  // "" when the number goes on
  };
  const Case cases[] = {
      {{u"--country", u"49", u"--block", u"+49900"}, "0900 123 4567", "+49900"},
      {{u"--country", u"49", u"--block", u"0900"}, "+49 900 1234567", "0900"},
      {{u"--country", u"49", u"--outside", u"0", u"--block", u"0900"}, "tel:+49-900-1234567", "0900"},
      {{u"--country", u"49", u"--block", u"0900"}, "+49 (0) 900 1234567", "0900"},
      {{u"--country", u"49", u"--block", u"+49900"}, "0049 900 1234567", "+49900"},
      {{u"--country", u"49", u"--block", u"0900"}, "09,00p1234567", "0900"},
      {{u"--country", u"49", u"--block", u"0900"}, "*31#0900 1234567", "0900"},
      {{u"--country", u"49", u"--block", u"*21", u"--block", u"0900"}, "*21*0049900123#", "*21"},
      {{u"--country", u"49", u"--block", u"0900"}, "00900 1234567", ""},
      {{u"--block", u"+49900"}, "0900 1234567", ""},
      {{u"--country", u"49", u"--block", u"00"}, "+1 555 0100", "00"},
      {{u"--country", u"49", u"--block", u"00"}, "+49 30 1234567", ""},
      {{u"--block", u"+1"}, "001 555 0100", "+1"},
      {{u"--country", u"49", u"--block", u"0137, 0900"}, "+49 900 1234567", "0900"},
      // The phone system takes the outside prefix for the line and dials the rest.
      {{u"--country", u"49", u"--area", u"5555", u"--outside", u"0", u"--block", u"0900"}, "00900123456", "0900"},
      {{u"--country", u"49", u"--area", u"5555", u"--outside", u"0", u"--block", u"0900"}, "000049900123456", "0900"},
      {{u"--country", u"49", u"--outside", u"0", u"--block", u"+49900"}, "*21*00900123#", "+49900"},
      {{u"--country", u"1", u"--national-prefix", u"1", u"--international-prefix", u"011", u"--outside", u"9",
        u"--block", u"1900"}, "919005550123", "1900"},
      {{u"--country", u"1", u"--national-prefix", u"1", u"--international-prefix", u"011", u"--outside", u"9",
        u"--block", u"1900"}, "+1 900 555 0123", "1900"},
      {{u"--country", u"1", u"--national-prefix", u"1", u"--international-prefix", u"011", u"--outside", u"9",
        u"--block", u"+1900"}, "9 011 1 900 555 0123", "+1900"},
      {{u"--country", u"1", u"--national-prefix", u"1", u"--international-prefix", u"011", u"--outside", u"9",
        u"--block", u"011"}, "+49 30 1234567", "011"},
      // "00" blocks calls abroad however they are dialled, and no call within the country.
      {{u"--country", u"49", u"--outside", u"0", u"--block", u"00"}, "+4955550123", ""},
      {{u"--country", u"49", u"--area", u"5555", u"--outside", u"0", u"--block", u"00"}, "+4955550123", ""},
      {{u"--country", u"49", u"--area", u"5555", u"--outside", u"0", u"--block", u"00"}, "+1 555 0100", "00"},
      {{u"--country", u"49", u"--area", u"5555", u"--outside", u"0", u"--block", u"00"}, "+49 5555 00123", "00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<const char16_t*> argv = {u"dial-service"};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    static ServiceOptions options;
    char problem[kMaxOptionProblem];
    ASSERT_TRUE(ParseServiceOptions(int(argv.size()), argv.data(), &options, problem)) << problem;
    NormalizedNumber number;
    NormalizePhoneNumber(c.text, strlen(c.text), &number);
    ASSERT_EQ(kNumberAccepted, number.verdict);
    const char* found = FindBlockingPrefix(options.blocked, options.rules, number.digits);
    EXPECT_EQ(std::string(c.blockedBy), found ? found : "");
  }
  const std::pair<const char*, bool> codes[] = {
      {"*21*0049900123#", true}, {"#31#0555", true}, {",*21#", true}, {"0555*21", false}, {"+49555", false}};
  for (const auto& code : codes) EXPECT_EQ(code.second, IsFeatureCode(code.first)) << code.first;
}

TEST(CallGuard, TheBrakeHoldsUntilAQuietWindow) {
  struct Case {
    unsigned limit, seconds;
    std::vector<unsigned long long> arrivalsMs;
    std::string verdicts;  // O open, E engaged, H held
  };
  const Case cases[] = {
      {5, 10, {0, 1000, 2000, 3000, 4000, 5000, 6000, 15900, 26000, 26001}, "OOOOOEHHOO"},
      {5, 10, {0, 2500, 5000, 7500, 9000, 10000, 12499}, "OOOOOOE"},
      {5, 10, {0, 0, 0, 0, 0, 9999}, "OOOOOE"},
      {1, 1, {0, 500, 1400, 2500, 2600}, "OEHOE"},
      {0, 10, {0, 0, 0, 0, 0, 0, 0}, "OOOOOOO"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.verdicts);
    static CallBrake brake;
    InitCallBrake(&brake, c.limit, c.seconds);
    std::string verdicts;
    for (unsigned long long at : c.arrivalsMs) verdicts += "OEH"[NoteNumberArrival(&brake, at)];
    EXPECT_EQ(c.verdicts, verdicts);
  }
}

TEST(CallGuard, RepeatedRefusalsAreSummarised) {
  RefusalTally tally = {};
  RefusalSummary due;
  EXPECT_TRUE(NoteRefusal(&tally, 1000, 1, &due));
  EXPECT_EQ(0u, due.count);
  for (unsigned long i = 0; i < 3412; i++) EXPECT_FALSE(NoteRefusal(&tally, 1000 + i * 2, 1, &due));
  EXPECT_EQ(0u, TakeEndedRefusals(&tally, 10999).count);
  RefusalSummary ended = TakeEndedRefusals(&tally, 11000);
  EXPECT_EQ(3412u, ended.count);
  EXPECT_EQ(0u, TakeEndedRefusals(&tally, 11000).count) << "a summary is taken once";
  // A run ended by the next refusal: its summary comes first.
  EXPECT_TRUE(NoteRefusal(&tally, 20000, 1, &due));
  EXPECT_FALSE(NoteRefusal(&tally, 20400, 1, &due));
  EXPECT_TRUE(NoteRefusal(&tally, 30000, 1, &due));
  EXPECT_EQ(1u, due.count);
  EXPECT_EQ(400u, due.spanMs);
  // With more logged in full, only the rest of the run is counted.
  tally = {};
  EXPECT_TRUE(NoteRefusal(&tally, 40000, 2, &due));
  EXPECT_TRUE(NoteRefusal(&tally, 40001, 2, &due));
  EXPECT_FALSE(NoteRefusal(&tally, 40002, 2, &due));
  EXPECT_EQ(1u, TakeEndedRefusals(&tally, 50000).count);

  const std::pair<RefusalSummary, const char*> texts[] = {
      {ended, "\xE2\x80\xA6 3,412 more like this in 7 s"},
      {{3412, 9600}, "\xE2\x80\xA6 3,412 more like this in 10 s"},
      {{999, 2499}, "\xE2\x80\xA6 999 more like this in 2 s"},
      {{1000000, 0}, "\xE2\x80\xA6 1,000,000 more like this in 1 s"},
      {{0, 5000}, ""},
  };
  for (const auto& text : texts) {
    char summary[80];
    EXPECT_EQ(strlen(text.second), FormatRefusalSummary(text.first, summary, sizeof summary));
    EXPECT_STREQ(text.second, summary);
  }
}
