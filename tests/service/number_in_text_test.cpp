// The first phone number in text a person selected: what a mail, a PDF or a
// chat writes around a number, and what only looks like one.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "service/number/number_in_text.h"

TEST(NumberInText, FindsTheFirstNumberAPersonWrote) {
  struct Case {
    const char* text;
    const char* found;  // null: none
  } const cases[] = {
      {"Call +49 5555 0123-0 today", "+49 5555 0123-0"},
      {"+49 (0)5555 0123-0", "+49 (0)5555 0123-0"},
      {"Tel.: (0555) 501.230/1, Fax: 0555 501 231", "(0555) 501.230/1"},
      {"Phone:\xC2\xA0" "0555\xE2\x80\x91" "501230.", "0555\xE2\x80\x91" "501230"},
      {"Room 12, call 0555 1234 ext. 56", "0555 1234"},
      {"ID4711 or 0555 1234", "0555 1234"},
      {"0555  1234", "0555"},
      {"0555\n1234", "0555"},
      {"*31#0555501230 hides the caller", "*31#0555501230"},
      {"1, 2 or 3", nullptr},
      {"ab+4955 or x0555", nullptr},
      {"+1+2 then 112", "112"},
      {"50% off", nullptr},
      {"no number here", nullptr},
      {"", nullptr},
  };
  for (const Case& c : cases) {
    std::string text(c.text);  // exactly as long, so a read past the end is caught by the sanitizers
    size_t start = 0, size = 0;
    bool found = FindPhoneNumberInText(text.data(), text.size(), &start, &size);
    EXPECT_EQ(found, c.found != nullptr) << c.text;
    if (found && c.found) EXPECT_EQ(text.substr(start, size), c.found) << c.text;
  }
}
