// Phone links as RFC 3966 and RFC 3261 write them and as web pages write them:
// parameters, SIP user parts, Unicode spacing and full-width forms, vanity
// letters, and where each of these stops being a number.
#include <gtest/gtest.h>

#include "number_cases.h"

TEST(PhoneLinks, TheRfcExamples) {
  const NumberCase cases[] = {
      {"tel:+1-201-555-0123", kNumberAccepted, "+12015550123", 0},
      {"tel:7042;phone-context=example.com", kNumberAccepted, "7042", 0},
      {"tel:863-1234;phone-context=+1-914-555", kNumberAccepted, "8631234", 0},  // the context adds no digits
      {"tel:+1-201-555-0123;ext=1234", kNumberAccepted, "+12015550123,1234", 0},
      {"tel:+1-201-555-0123;isub=1134", kNumberAccepted, "+12015550123", 0},
      {"tel:+358-555-1234567;postd=pp22", kNumberAccepted, "+3585551234567", 0},  // unknown: dropped
      {"sip:+1-212-555-1212:1234@gateway.com;user=phone", kNumberAccepted, "+12125551212", 0},  // ":1234" is a password
      {"sips:1212@gateway.com", kNumberAccepted, "1212", 0},
      {"sip:+4955501230@pbx.example.com;user=phone", kNumberAccepted, "+4955501230", 0},
      {"sip:+49-5555-01230;ext=7@pbx.example.com", kNumberAccepted, "+49555501230,7", 0},
      {"sip:alice@atlanta.com", kNumberBadCharacter, "", 5},
      {"sip:@atlanta.com", kNumberEmpty, "", 0},
      {"sips:atlanta.com", kNumberWithoutUser, "", 0},
  };
  ExpectNumberCases(cases);
}

// teldial hands over what follows "sip:", so the address arrives without it.
TEST(PhoneLinks, SipAddressesWithoutTheirScheme) {
  const NumberCase cases[] = {
      {"+4955501230@pbx.example.com;user=phone", kNumberAccepted, "+4955501230", 0},
      {"+1-212-555-1212:1234@gateway.com;user=phone", kNumberAccepted, "+12125551212", 0},
      {"+49-5555-01230;ext=7@pbx.example.com", kNumberAccepted, "+49555501230,7", 0},
      {" 1212@gateway.com\r\n", kNumberAccepted, "1212", 0},
      {"alice@atlanta.com", kNumberBadCharacter, "", 1},
      {"@atlanta.com", kNumberEmpty, "", 0},
      {"0555%40pbx.example.com", kNumberBadCharacter, "", 5},  // an escaped "@" makes no address
      {"tel:0555@pbx.example.com", kNumberBadCharacter, "", 9},
      {"callto:0555@pbx.example.com", kNumberBadCharacter, "", 12},
  };
  ExpectNumberCases(cases);
}

TEST(PhoneLinks, AsWebPagesWriteThem) {
  const NumberCase cases[] = {
      {"+1-201-555-0123;ext=1234", kNumberAccepted, "+12015550123,1234", 0},
      {"TEL:+1 201 555 0123;EXT=12-34", kNumberAccepted, "+12015550123,1234", 0},
      {"tel:+1-201-555-0123;foo=bar;ext=1;x-tag", kNumberAccepted, "+12015550123,1", 0},
      {"tel:+1-201-555-0123;;", kNumberAccepted, "+12015550123", 0},
      {"tel:0555,,12;ext=3", kNumberAccepted, "0555,,12,3", 0},
      {"tel:+49%C2%A05555%C2%A00123-0", kNumberAccepted, "+49555501230", 0},  // a browser's no-break spaces
      {"+49\xC2\xA0" "5555\xC2\xA0" "0123-0", kNumberAccepted, "+49555501230", 0},
      {"+49\xE2\x80\xAF" "5555\xE2\x80\x89" "0123\xE2\x80\x87" "0", kNumberAccepted, "+49555501230", 0},
      {"0555\xE2\x80\x90" "1\xE2\x80\x91" "2\xE2\x80\x93" "3\xE2\x80\x94" "4\xE2\x80\x95" "5\xE2\x88\x92" "6",
       kNumberAccepted, "0555123456", 0},
      {"\xEF\xBC\x8B\xEF\xBC\x94\xEF\xBC\x99 5555", kNumberAccepted, "+495555", 0},  // full-width "+49"
      {"\xEF\xBC\x88\xEF\xBC\x90\xEF\xBC\x93\xEF\xBC\x89\xEF\xBC\x91\xEF\xBC\x92\xEF\xBC\x8D\xEF\xBC\x93\xE3\x80\x80"
       "\xEF\xBC\x94",
       kNumberAccepted, "031234", 0},
      {"\xE2\x80\x8E+49 5555 01230\xE2\x80\x8F", kNumberAccepted, "+49555501230", 0},  // direction marks
      {"0555%C2\xA0" "1", kNumberAccepted, "05551", 0},  // one character, half escaped
      {"tel:1-800-FLOWERS", kNumberAccepted, "18003569377", 0},
      {"tel:1-800-FLOWERS;ext=12", kNumberAccepted, "18003569377,12", 0},
      {"+1 800 GO-FEDEX", kNumberAccepted, "+18004633339", 0},
      {"1 (800) my-apple", kNumberAccepted, "18006927753", 0},
      {"800-FLOWERS", kNumberAccepted, "8003569377", 0},
      {"\xEF\xBC\x91\xEF\xBC\x98\xEF\xBC\x90\xEF\xBC\x90\xEF\xBC\xA6\xEF\xBC\xAC\xEF\xBC\xAF\xEF\xBC\xB7\xEF\xBC\xA5"
       "\xEF\xBC\xB2\xEF\xBC\xB3",
       kNumberAccepted, "18003569377", 0},  // full-width "1800FLOWERS"
  };
  ExpectNumberCases(cases);
}

// Letters are keypad digits only in something that is clearly a phone
// number; anywhere else the first letter that is no pause is at fault.
TEST(PhoneLinks, VanityLettersOnlyInAPhoneNumber) {
  const NumberCase cases[] = {
      {"tel:hello", kNumberBadCharacter, "", 5},
      {"tel:+hello", kNumberBadCharacter, "", 6},
      {"hello 0555501230", kNumberBadCharacter, "", 1},
      {"0555 501230 ext 12", kNumberBadCharacter, "", 13},  // digits after the letters
      {"0555-CALL-NOW-5", kNumberBadCharacter, "", 6},
      {"12-FLOWERS", kNumberBadCharacter, "", 4},           // two digits before the letters
      {"555-555-ABC", kNumberBadCharacter, "", 9},          // nine digits in all
      {"1-800-FLOWERS-ANDYS", kNumberBadCharacter, "", 7},         // sixteen digits
      {"1-800-FLOWERS-ANDY", kNumberAccepted, "180035693772639", 0},  // fifteen
      {"*31#800FLOWERS", kNumberBadCharacter, "", 8},
      {"1800,FLOWERS", kNumberBadCharacter, "", 6},
      {"0555501230p123w4", kNumberAccepted, "0555501230p123w4", 0},  // pauses, not letters
      {"0555501230p123x", kNumberBadCharacter, "", 15},
      {"1-800-FLOWERS+1", kNumberLatePlus, "", 14},
      {"1-800-FLOWERS%", kNumberBadEscape, "", 14},
  };
  ExpectNumberCases(cases);
}

TEST(PhoneLinks, RejectsParametersThatAreNotWellFormed) {
  const NumberCase cases[] = {
      {"tel:+1-201;ext=", kNumberBadParameter, "", 11},
      {"tel:+1-201;ext", kNumberBadParameter, "", 11},
      {"tel:+1-201;ext=12a", kNumberBadParameter, "", 11},
      {"tel:+1-201;ext=+12", kNumberBadParameter, "", 11},
      {"tel:+1-201;ext=1;ext=2", kNumberBadParameter, "", 17},
      {"tel:+1-201;ext=%3", kNumberBadParameter, "", 11},
      {"tel:+1-201;isub=", kNumberBadParameter, "", 11},
      {"tel:7042;phone-context=", kNumberBadParameter, "", 9},
      {"tel:7042;phone-context=+", kNumberBadParameter, "", 9},
      {"tel:7042;phone-context=+1-abc", kNumberBadParameter, "", 9},
      {"tel:7042;phone-context=exa mple.com", kNumberBadParameter, "", 9},
      {"tel:7042;=1", kNumberBadParameter, "", 9},
      {"tel:7042;e x=1", kNumberBadParameter, "", 9},
      {"tel:7042;ext%3D1", kNumberBadParameter, "", 9},
      {"tel:+1-201;ext=1;e\xC3\xBC=1", kNumberBadParameter, "", 17},
      {"tel:;ext=12", kNumberEmpty, "", 0},
      {"tel:+;ext=12", kNumberWithoutDigit, "", 0},
      {"0555x;ext=1", kNumberBadCharacter, "", 5},  // the number before its parameters
      {std::string(120, '1') + ";ext=12345678", kNumberTooLong, "", 0},
      {std::string(120, '1') + ";ext=1234567", kNumberAccepted, std::string(120, '1') + ",1234567", 0},
  };
  ExpectNumberCases(cases);
}

TEST(PhoneLinks, RejectsCharactersWithoutMeaningAndBadUtf8) {
  const NumberCase cases[] = {
      {"\xF0\x9F\x93\x9E 0555", kNumberBadCharacter, "", 1},  // a telephone sign
      {"0555\xC0\xB0", kNumberBadCharacter, "", 5},            // an overlong "0"
      {"0555\xE0\x82\xA0" "1", kNumberBadCharacter, "", 5},  // an overlong no-break space
      {"0555\xED\xA0\x80", kNumberBadCharacter, "", 5},  // a surrogate
      {"0555\xE2\x80", kNumberBadCharacter, "", 5},      // cut short
      {"0555\xE2\x80" "1", kNumberBadCharacter, "", 5},
      {"0555\x80", kNumberBadCharacter, "", 5},
      {"0555\xE2\x80\xAE" "321", kNumberBadCharacter, "", 5},  // a right-to-left override shows another number
      {"0555\xE2\x80\x8D" "1", kNumberBadCharacter, "", 5},
      {"0555%C2%A", kNumberBadEscape, "", 8},
      {"0555%C2%", kNumberBadEscape, "", 8},
      {"0555\xEF\xBC\x85", kNumberBadCharacter, "", 5},  // a full-width "%" is no escape
  };
  ExpectNumberCases(cases);
}
