// The dial service's normalisation of what phone links carry: the table of
// what is kept, what is dropped, and what rejects a number, with the byte at
// fault; and that no input, however long or binary, is read past its end.
#include <gtest/gtest.h>

#include <string.h>

#include <memory>
#include <string>

#include "number_cases.h"

TEST(PhoneNumber, KeepsWhatADialerDials) {
  const NumberCase cases[] = {
      {"0555501230", kNumberAccepted, "0555501230", 0},
      {"+49 5555 0123-0", kNumberAccepted, "+49555501230", 0},
      {"+49%205555%200123-0", kNumberAccepted, "+49555501230", 0},
      {"+49 (0)5555 0123-0", kNumberAccepted, "+49555501230", 0},
      {"(0555) 501.230/1", kNumberAccepted, "05555012301", 0},
      {"%2B4955550123", kNumberAccepted, "+4955550123", 0},
      {"%2b49%2D5555%2e0123", kNumberAccepted, "+4955550123", 0},
      {"*31#0555501230", kNumberAccepted, "*31#0555501230", 0},
      {"*31%230555501230", kNumberAccepted, "*31#0555501230", 0},
      {"%2A31%23", kNumberAccepted, "*31#", 0},
      {"0555501230,,123#", kNumberAccepted, "0555501230,,123#", 0},
      {"0555501230%2C123", kNumberAccepted, "0555501230,123", 0},
      {"0555501230p123w4", kNumberAccepted, "0555501230p123w4", 0},
      {"0555501230P123W4", kNumberAccepted, "0555501230p123w4", 0},
      {"%70%57", kNumberWithoutDigit, "", 0},
      {"0555501230%50%771", kNumberAccepted, "0555501230pw1", 0},
  };
  ExpectNumberCases(cases);
}

TEST(PhoneNumber, DropsSchemesSlashesAndBlanksAtTheEnds) {
  const NumberCase cases[] = {
      {"tel:0555501230", kNumberAccepted, "0555501230", 0},
      {"tel://0555501230", kNumberAccepted, "0555501230", 0},
      {"//0555501230", kNumberAccepted, "0555501230", 0},
      {"callto:+4955550123", kNumberAccepted, "+4955550123", 0},
      {"callto://+4955550123", kNumberAccepted, "+4955550123", 0},
      {"TEL:0555", kNumberAccepted, "0555", 0},
      {"CallTo:0555", kNumberAccepted, "0555", 0},
      {" \t tel: 0555 501230 \r\n", kNumberAccepted, "0555501230", 0},
      {"%20%200555%20", kNumberAccepted, "0555", 0},
      {"tel:tel:0555", kNumberBadCharacter, "", 5},  // only one scheme
      {"te:0555", kNumberBadCharacter, "", 1},
      {"tel%3A0555", kNumberBadCharacter, "", 1},
      {"sip:0555@example.org", kNumberAccepted, "0555", 0},
      {"SIPS:0555@example.org", kNumberAccepted, "0555", 0},
      {"sip:0555", kNumberWithoutUser, "", 0},  // a host, not a user
      {"fax:0555", kNumberBadCharacter, "", 1},
  };
  ExpectNumberCases(cases);
}

TEST(PhoneNumber, RejectsWhatCannotBeDialled) {
  const NumberCase cases[] = {
      {"", kNumberEmpty, "", 0},
      {"   ", kNumberEmpty, "", 0},
      {"- . ( ) /", kNumberEmpty, "", 0},
      {"tel:", kNumberEmpty, "", 0},
      {"tel://", kNumberEmpty, "", 0},
      {"\r\n", kNumberEmpty, "", 0},
      {"+", kNumberWithoutDigit, "", 0},
      {"*#", kNumberWithoutDigit, "", 0},
      {",,,pw", kNumberWithoutDigit, "", 0},
      {"0555abc", kNumberBadCharacter, "", 5},
      {" 0555 x", kNumberBadCharacter, "", 7},  // counted in the bytes as they came
      {"0555 M\xC3\xBCller", kNumberBadCharacter, "", 6},
      {"0555%C3%BC", kNumberBadCharacter, "", 5},
      {"0555\xEF\xBC\x9B" "1", kNumberBadCharacter, "", 5},  // a full-width ";" is no parameter
      {"0555%3Bext=1", kNumberBadCharacter, "", 5},  // nor is an escaped one
      {"0555\t501", kNumberBadCharacter, "", 5},
      {"0555\n501", kNumberBadCharacter, "", 5},
      {"0555_501", kNumberBadCharacter, "", 5},
      {"0555%25", kNumberBadCharacter, "", 5},
      {"%2525", kNumberBadCharacter, "", 1},  // decoded once, never twice
      {std::string("05\0" "55", 5), kNumberBadCharacter, "", 3},
      {"05%0055", kNumberBadCharacter, "", 3},
      {"0555\x7F", kNumberBadCharacter, "", 5},
      {"0555+49", kNumberLatePlus, "", 5},
      {"++49", kNumberLatePlus, "", 2},
      {"(0)+49", kNumberLatePlus, "", 4},
      {"%2B%2B49", kNumberLatePlus, "", 4},
      {"+49 5555+0", kNumberLatePlus, "", 9},
  };
  ExpectNumberCases(cases);
}

// "(0)" right after the country code is the trunk prefix (E.123), however it
// is escaped; anywhere else the 0 is a digit. E.164 numbers have at most 15
// digits; an extension after a pause does not count.
TEST(PhoneNumber, LeavesOutTheTrunkPrefixAndCountsInternationalDigits) {
  const NumberCase cases[] = {
      {"+49(0)30 1234567", kNumberAccepted, "+49301234567", 0},
      {"+49-(0)30-1234567", kNumberAccepted, "+49301234567", 0},
      {"%2B49%20%280%2930%201234567", kNumberAccepted, "+49301234567", 0},
      {"+49 \xEF\xBC\x88" "0\xEF\xBC\x89" "30 1234567", kNumberAccepted, "+49301234567", 0},
      {"tel:+43-(0)1-123-4567", kNumberAccepted, "+4311234567", 0},
      {"sip:+41(0)44 668 18 00@pbx.example.com", kNumberAccepted, "+41446681800", 0},
      {"+49 (0)5555 0123-0;ext=12", kNumberAccepted, "+49555501230,12", 0},
      {"0049 (0)30 1234567", kNumberAccepted, "0049301234567", 0},
      {"+39 06 1234 5678", kNumberAccepted, "+390612345678", 0},
      {"+49 30 (0)1234567", kNumberAccepted, "+493001234567", 0},  // not after the country code
      {"+4930 (0)1234567", kNumberAccepted, "+493001234567", 0},   // no country code has four digits
      {"00 49 (0)30 1234567", kNumberAccepted, "00490301234567", 0},
      {"+49 (00)30 1234567", kNumberAccepted, "+4900301234567", 0},
      {"(0)30 1234567", kNumberAccepted, "0301234567", 0},
      {"+1 (201) 555-0123", kNumberAccepted, "+12015550123", 0},
      {"+491234567890123", kNumberAccepted, "+491234567890123", 0},
      {"+4955501230123456789012", kNumberTooManyDigits, "", 0},
      {"+49 (0)1234 5678 9012 34", kNumberTooManyDigits, "", 0},
      {"+491234567890123,4567", kNumberAccepted, "+491234567890123,4567", 0},
      {"+491234567890123;ext=4567", kNumberAccepted, "+491234567890123,4567", 0},
      {"4955501230123456789012", kNumberAccepted, "4955501230123456789012", 0},
  };
  ExpectNumberCases(cases);
}

TEST(PhoneNumber, RejectsMalformedEscapesWhereTheyStand) {
  const NumberCase cases[] = {
      {"%", kNumberBadEscape, "", 1},
      {"%2", kNumberBadEscape, "", 1},
      {"%zz", kNumberBadEscape, "", 1},
      {"%2z", kNumberBadEscape, "", 1},
      {"%z2", kNumberBadEscape, "", 1},
      {"0555%", kNumberBadEscape, "", 5},
      {"0555%2", kNumberBadEscape, "", 5},
      {"05%g1", kNumberBadEscape, "", 3},
      {"%%20", kNumberBadEscape, "", 1},
      {"% 20", kNumberBadEscape, "", 1},
      {"0555%2\n", kNumberBadEscape, "", 5},  // the line end is trimmed before decoding
      {"0555%+1", kNumberBadEscape, "", 5},
  };
  ExpectNumberCases(cases);
}

// The length given is all that may be read: each text is copied to a buffer
// of exactly that size, followed by bytes that would change the verdict.
TEST(PhoneNumber, ReadsNoByteBeyondTheLength) {
  struct Cut {
    const char* text;
    size_t length;
    NumberVerdict verdict;
  };
  const Cut cuts[] = {
      {"0555%20", 6, kNumberBadEscape},  // "0555%2" then "0"
      {"%2B49", 2, kNumberBadEscape},
      {"0555x", 4, kNumberAccepted},
      {"tel:0555", 3, kNumberBadCharacter},  // "tel" is no scheme
      {"callto:1", 6, kNumberBadCharacter},
  };
  for (const Cut& cut : cuts) {
    SCOPED_TRACE(cut.text);
    std::unique_ptr<char[]> exact(new char[cut.length]);
    memcpy(exact.get(), cut.text, cut.length);
    NormalizedNumber number;
    NormalizePhoneNumber(exact.get(), cut.length, &number);
    EXPECT_EQ(cut.verdict, number.verdict);
  }
  NormalizedNumber number;
  NormalizePhoneNumber(nullptr, 0, &number);
  EXPECT_EQ(kNumberEmpty, number.verdict);
}

TEST(PhoneNumber, HandlesTheLargestDatagramAndBinaryBytes) {
  const size_t kLargestNumber = 65507 - 5;  // a UDP datagram less "dial "
  std::string atLimit(kMaxNumberLength, '7');
  std::string blankThenNumber = std::string(kLargestNumber - 3, ' ') + "123";
  std::string separatorsThenEscape = std::string(kLargestNumber - 1, '-') + "%";
  std::string binary;
  for (int i = 0; i < 256; i++) binary += char(i);
  std::string digitsThenNul = std::string(200, '1') + std::string(1, '\0');
  const NumberCase cases[] = {
      {atLimit, kNumberAccepted, atLimit, 0},
      {atLimit + "8", kNumberTooLong, "", 0},
      {std::string(kLargestNumber, '5'), kNumberTooLong, "", 0},
      {std::string(kLargestNumber, '%'), kNumberBadEscape, "", 1},
      {blankThenNumber, kNumberAccepted, "123", 0},
      {separatorsThenEscape, kNumberBadEscape, "", kLargestNumber},
      {std::string(kLargestNumber, '\0'), kNumberBadCharacter, "", 1},
      {binary, kNumberBadCharacter, "", 1},
      {binary.substr(0x23), kNumberBadCharacter, "", 2},  // "#" then "$"
      {digitsThenNul, kNumberBadCharacter, "", 201},  // not "too long": the worse fault wins
  };
  ExpectNumberCases(cases);
}

TEST(PhoneNumber, DescribesEveryVerdict) {
  EXPECT_STREQ("", DescribeNumberVerdict(kNumberAccepted));
  const NumberVerdict rejections[] = {kNumberEmpty,    kNumberWithoutDigit, kNumberBadEscape,    kNumberBadCharacter,
                                      kNumberLatePlus, kNumberTooLong,      kNumberBadParameter, kNumberWithoutUser,
                                      kNumberTooManyDigits};
  static_assert(sizeof rejections / sizeof rejections[0] + 1 == kNumberVerdicts, "every rejection has its phrase");
  for (NumberVerdict verdict : rejections) EXPECT_GT(strlen(DescribeNumberVerdict(verdict)), 5u) << verdict;
}
