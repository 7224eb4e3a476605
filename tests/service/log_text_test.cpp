// Outside text on its way into the log: every character that could end a
// line, pass for one or reorder the screen is escaped, and a long text is cut
// between characters and told by its length.
#include <gtest/gtest.h>

#include <string>

#include "service/number/log_text.h"

TEST(LogText, OutsideTextStaysOneShortLine) {
  struct Case {
    std::string text;
    std::string logged;
  };
  const std::string a199(199, 'a');
  const Case cases[] = {
      {"+49 5555 M\xC3\xBCller \xE2\x80\xAF \xF0\x9F\x98\x80", "+49 5555 M\xC3\xBCller \xE2\x80\xAF \xF0\x9F\x98\x80"},
      {std::string("\0\t\r\n\x1B\x7F\\", 7), "\\x00\\x09\\x0D\\x0A\\x1B\\x7F\\x5C"},
      {"a\xC2\x80" "b\xC2\x9F" "c\xC2\xA0", "a\\xC2\\x80b\\xC2\\x9Fc\xC2\xA0"},
      {"\xE2\x80\xA8\xE2\x80\xA9", "\\xE2\\x80\\xA8\\xE2\\x80\\xA9"},
      {"\xE2\x80\xAA\xE2\x80\xAE\xE2\x81\xA6\xE2\x81\xA9\xE2\x81\xAA",
       "\\xE2\\x80\\xAA\\xE2\\x80\\xAE\\xE2\\x81\\xA6\\xE2\\x81\\xA9\xE2\x81\xAA"},
      {"\x85\xC0\xAF\xE0\x80\xAF\xED\xA0\x80\xF4\x90\x80\x80\xFF",
       "\\x85\\xC0\\xAF\\xE0\\x80\\xAF\\xED\\xA0\\x80\\xF4\\x90\\x80\\x80\\xFF"},
      {"ab\xE2\x82", "ab\\xE2\\x82"},
      {std::string(200, 'x'), std::string(200, 'x')},
      {std::string(65000, 'x'), std::string(200, 'x') + "... (65000 bytes)"},
      {a199 + "\xC3\xBC" "z", a199 + "... (202 bytes)"},
      {a199.substr(1) + "\xC3\xBC" "z", a199.substr(1) + "\xC3\xBC... (201 bytes)"},
      {a199 + "\xE2\x80\xAE" "z", a199 + "... (203 bytes)"},
      {a199 + "\n" "z", a199 + "\\x0A... (201 bytes)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.logged.substr(0, 60));
    char text[kMaxFormattedTextSize];
    EXPECT_EQ(c.logged.size(), FormatTextForLog(c.text.data(), c.text.size(), text, sizeof text));
    EXPECT_EQ(c.logged, text);
  }
  // A line of the service's own: its backslashes are kept and it is not cut.
  const std::string line = "C:\\Users\\a\\log " + std::string(300, 'y') + "\x1B[2J\xE2\x80\xAE";
  std::string escaped(4 * line.size() + 1, '\0');
  escaped.resize(EscapeLogLine(line.data(), line.size(), &escaped[0], escaped.size()));
  EXPECT_EQ("C:\\Users\\a\\log " + std::string(300, 'y') + "\\x1B[2J\\xE2\\x80\\xAE", escaped);
}
