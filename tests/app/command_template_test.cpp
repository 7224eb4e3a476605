// The --exec template of the dial service: how it splits into words, and the
// command line it makes for a number, read back through the real
// CommandLineToArgvW, the splitter every started program's runtime follows.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "service/sinks/command_template.h"

namespace {
std::u16string U16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }
std::wstring W(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

std::vector<std::wstring> Words(const CommandTemplate& command) {
  std::vector<std::wstring> words;
  for (size_t i = 0; i < command.count; i++)
    words.push_back(reinterpret_cast<const wchar_t*>(CommandWord(command, i)));
  return words;
}

std::vector<std::wstring> SplitByWindows(const std::u16string& line) {
  std::vector<std::wstring> words;
  int count = 0;
  wchar_t** split = CommandLineToArgvW(W(line).c_str(), &count);
  if (!split) return words;
  for (int i = 0; i < count; i++) words.push_back(split[i]);
  LocalFree(split);
  return words;
}

std::u16string Build(const std::wstring& text, const char* number) {
  CommandTemplate command;
  if (ParseCommandTemplate(U16(text).c_str(), &command) != kTemplateParsed) return u"(not parsed)";
  std::vector<char16_t> line(kMaxCommandLine);
  size_t length = BuildCommandLine(command, number, line.data(), line.size());
  FreeCommandTemplate(&command);
  return length ? std::u16string(line.data(), length) : u"(does not fit)";
}
}  // namespace

TEST(CommandTemplate, SplitsIntoWords) {
  struct Case {
    std::wstring text;
    std::vector<std::wstring> words;
  };
  const Case cases[] = {
      {L"phone.exe --call {number}", {L"phone.exe", L"--call", L"{number}"}},
      {L"  phone.exe\t{number}  ", {L"phone.exe", L"{number}"}},
      {L"\"C:\\Program Files\\Phone\\phone.exe\" {number}", {L"C:\\Program Files\\Phone\\phone.exe", L"{number}"}},
      {L"p \"a b\" \"q\"\"uote\" \"\" {number}", {L"p", L"a b", L"q\"uote", L"", L"{number}"}},
      {L"p x\"a b\"y {number}", {L"p", L"xa by", L"{number}"}},
      {L"p \"\"\"\" {number}", {L"p", L"\"", L"{number}"}},
      {L"p \"back\\\" {number}", {L"p", L"back\\", L"{number}"}},
      {L"p a\\\"b\" {number}", {L"p", L"a\\b", L"{number}"}},
      {L"p \\\\server\\share\\ {number}", {L"p", L"\\\\server\\share\\", L"{number}"}},
      {L"p \"x{number}y\"", {L"p", L"x{number}y"}},
      {L"p \"\xFC \x20AC\" {number}", {L"p", L"\xFC \x20AC", L"{number}"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    CommandTemplate command;
    ASSERT_EQ(kTemplateParsed, ParseCommandTemplate(U16(c.text).c_str(), &command));
    EXPECT_EQ(c.words, Words(command));
    FreeCommandTemplate(&command);
    EXPECT_EQ(nullptr, command.words);
  }
}

TEST(CommandTemplate, RefusesTemplatesThatCannotServe) {
  struct Case {
    std::wstring text;
    TemplateError error;
  };
  const Case cases[] = {
      {L"", kTemplateWithoutProgram},
      {L" \t ", kTemplateWithoutProgram},
      {L"\"\" {number}", kTemplateWithoutProgram},
      {L"p \"open {number}", kTemplateOpenQuote},
      {L"p {number} \"", kTemplateOpenQuote},
      {L"\"p\"\"q\" {number}", kTemplateQuoteInProgram},
      {L"p --call", kTemplateWithoutNumber},
      {L"{number}", kTemplateWithoutNumber},  // the program is used as written
      {L"p {NUMBER} {num ber} {numbe", kTemplateWithoutNumber},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    CommandTemplate command;
    EXPECT_EQ(c.error, ParseCommandTemplate(U16(c.text).c_str(), &command));
    EXPECT_EQ(nullptr, command.words);
    EXPECT_EQ(0u, command.count);
    EXPECT_GT(strlen(DescribeTemplateError(c.error)), 5u);
  }
}

TEST(CommandTemplate, PutsTheNumberIntoEveryArgument) {
  struct Case {
    std::wstring text;
    const char* number;
    std::u16string line;
  };
  const Case cases[] = {
      {L"p {number}", "0555", u"\"p\" 0555"},
      {L"\"C:\\Program Files\\p.exe\" --call {number}", "+49", u"\"C:\\Program Files\\p.exe\" --call +49"},
      {L"p \"a b\" \"x{number}y\" {number}{number}", "*31#", u"\"p\" \"a b\" x*31#y *31#*31#"},
      {L"p \"{number} ,\" {number}", "1,,2", u"\"p\" \"1,,2 ,\" 1,,2"},
      {L"p \"\" {number}", "1", u"\"p\" \"\" 1"},
      {L"{number} {number}", "1", u"\"{number}\" 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(c.line, Build(c.text, c.number));
  }
}

TEST(CommandTemplate, QuotesEachArgumentAsTheCRuntimeReadsIt) {
  struct Case {
    std::wstring argument;
    std::u16string quoted;
  };
  const Case cases[] = {
      {L"plain", u"plain"},
      {L"C:\\dir\\file", u"C:\\dir\\file"},
      {L"back\\", u"back\\"},
      {L"", u"\"\""},
      {L"a b", u"\"a b\""},
      {L"q\"uote", u"\"q\\\"uote\""},
      {L"\"", u"\"\\\"\""},
      {L"dir with space\\", u"\"dir with space\\\\\""},
      {L"a\\\"b", u"\"a\\\\\\\"b\""},
      {L"a\\\\\"b", u"\"a\\\\\\\\\\\"b\""},
      {L"tab\there", u"\"tab\there\""},
      {L"line\nend", u"\"line\nend\""},
      {L"v\vt", u"\"v\vt\""},
      {L"\\\\server\\share\\", u"\\\\server\\share\\"},
  };
  std::vector<std::wstring> all = {L"p"};
  std::u16string allLine = u"p";
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.argument));
    std::u16string line(64, u'?');
    line[0] = 0;
    size_t used = 0;
    ASSERT_TRUE(AppendArgument(&line[0], line.size(), &used, U16(c.argument).c_str(), c.argument.size()));
    EXPECT_EQ(c.quoted, std::u16string(line.c_str()));
    EXPECT_EQ(c.quoted.size(), used);
    // Read back behind a program name, as the started program sees it.
    std::vector<std::wstring> expected = {L"p", c.argument};
    EXPECT_EQ(expected, SplitByWindows(u"p " + c.quoted));
    all.push_back(c.argument);
    allLine += u" " + c.quoted;
  }
  EXPECT_EQ(all, SplitByWindows(allLine)) << "arguments stay apart when they follow each other";
}

TEST(CommandTemplate, KeepsTheNumberOneArgumentWhateverSurroundsIt) {
  const std::wstring text =
      L"\"C:\\Program Files\\p.exe\" \"a b\" \"q\"\"uote\" {number} \"x{number}y\" \"back\\slash dir\\\" \"\" "
      L"\"tail\\\"\"quote\" {number}{number}";
  const char* numbers[] = {"0", "+4955550123", "*31#0555,,123#p4w5", "+0123456789*#,pw"};
  for (const char* number : numbers) {
    SCOPED_TRACE(number);
    std::wstring n(number, number + strlen(number));
    std::vector<std::wstring> expected = {
        L"C:\\Program Files\\p.exe", L"a b", L"q\"uote", n, L"x" + n + L"y", L"back\\slash dir\\", L"",
        L"tail\\\"quote", n + n};
    EXPECT_EQ(expected, SplitByWindows(Build(text, number)));
  }
}

TEST(CommandTemplate, RefusesCommandLinesBeyondTheWindowsLimit) {
  // Each number field grows by the number's length less its own 8.
  std::wstring many = L"p";
  for (int i = 0; i < 300; i++) many += L" {number}";
  std::string number(120, '1');
  EXPECT_EQ(u"(does not fit)", Build(many, number.c_str())) << "300 x 121 code units";
  EXPECT_NE(u"(does not fit)", Build(many, "1234"));

  CommandTemplate command;
  ASSERT_EQ(kTemplateParsed, ParseCommandTemplate(u"p \"a b\" {number}", &command));
  char16_t line[16];
  EXPECT_EQ(11u, BuildCommandLine(command, "1", line, 12)) << "\"p\" \"a b\" 1 and its 0";
  EXPECT_EQ(std::u16string(u"\"p\" \"a b\" 1"), std::u16string(line));
  EXPECT_EQ(0u, BuildCommandLine(command, "1", line, 11));
  EXPECT_EQ(0, line[0]) << "nothing half-built is left";
  EXPECT_EQ(0u, BuildCommandLine(command, "1", line, 3));
  EXPECT_EQ(0u, BuildCommandLine(command, "1", line, 0));
  FreeCommandTemplate(&command);

  char16_t small[8] = u"p";
  size_t used = 1;
  EXPECT_FALSE(AppendArgument(small, 8, &used, u"a b c", 5)) << "p \"a b c\" needs 10 with its 0";
  EXPECT_EQ(1u, used);
  EXPECT_EQ(std::u16string(u"p"), std::u16string(small));
  EXPECT_TRUE(AppendArgument(small, 8, &used, u"a b", 3));
  EXPECT_EQ(std::u16string(u"p \"a b\""), std::u16string(small));
}
