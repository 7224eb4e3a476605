#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/process/command_line.h"

namespace {
// Arguments as GetParameter hands them out: raw tokens without their quotes.
std::vector<std::u16string> Arguments(const char16_t* line) {
  std::vector<std::u16string> arguments;
  int32_t cursor = 0;
  RawToken token;
  while (FetchCommandLineArgument(line, &cursor, &token)) {
    std::u16string argument;
    for (int32_t i = 0; i < token.length; i++)
      if (token.start[i] != u'"') argument += token.start[i];
    arguments.push_back(argument);
  }
  return arguments;
}

std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }
}  // namespace

TEST(CommandLine, ExamplesTable) {
  struct Case {
    const char16_t* line;
    int32_t count;
    std::vector<std::u16string> arguments;
  };
  const Case cases[] = {
      {uR"("C:\Apps\prog.exe" 0555501230)", 1, {u"0555501230"}},
      {uR"("C:\Apps\prog.exe" "+49 5555 0123-0")", 1, {u"+49 5555 0123-0"}},
      {uR"("C:\Apps\prog.exe" +49 5555 0123-0)", 3, {u"+49", u"5555", u"0123-0"}},
      {uR"(prog.exe a:"+49 5555 0123-0")", 1, {u"a:+49 5555 0123-0"}},
      {uR"("C:\Apps\prog.exe")", 0, {}},
      {u"  prog.exe   a   b  ", 2, {u"a", u"b"}},
      {uR"(prog.exe "ab"cd)", 2, {u"ab", u"cd"}},
      {uR"(prog.exe a"b c"d)", 1, {u"ab cd"}},
      {uR"(prog.exe ab""cd)", 1, {u"abcd"}},
      {uR"(prog.exe """a b""")", 3, {u"", u"a b", u""}},
      {uR"(prog.exe "" x)", 2, {u"", u"x"}},
      {uR"(prog.exe "abc)", 1, {u"abc"}},
      {uR"(prog.exe "C:\dir\" x)", 2, {uR"(C:\dir\)", u"x"}},
      {uR"("C:\My Apps\prog.exe"x y)", 2, {u"x", u"y"}},
      // Edge cases beyond the table.
      {u"prog.exe a  ", 1, {u"a"}},
      {u"", -1, {}},
      {u"    ", -1, {}},
      {u"prog.exe\ta b", 1, {u"b"}},  // a tab is an ordinary character
      {u"prog.exe \"\"\"\"", 2, {u"", u""}},
      {u"prog.exe \"", 1, {u""}},
      {u"prog.exe x\"", 1, {u"x"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.line));
    EXPECT_EQ(c.count, CountCommandLineArguments(c.line));
    EXPECT_EQ(c.arguments, Arguments(c.line));
  }
}

TEST(CommandLine, RawTokenKeepsQuotes) {
  int32_t cursor = 0;
  RawToken token;
  ASSERT_TRUE(FetchCommandLineArgument(u"p a\"b c\"d", &cursor, &token));
  EXPECT_EQ(u"a\"b c\"d", std::u16string(token.start, size_t(token.length)));
  EXPECT_EQ(1, cursor);
}

TEST(CommandLine, FetchPastTheEndLeavesTheCursor) {
  int32_t cursor = 5;
  RawToken token;
  EXPECT_FALSE(FetchCommandLineArgument(u"p a b", &cursor, &token));
  EXPECT_EQ(5, cursor);
  EXPECT_EQ(0, token.length);
  cursor = 1;
  EXPECT_TRUE(FetchCommandLineArgument(u"p a b", &cursor, &token));
  EXPECT_EQ(2, cursor);
  EXPECT_EQ(u'b', token.start[0]);
  EXPECT_FALSE(FetchCommandLineArgument(u"p a b", &cursor, &token));
  EXPECT_EQ(2, cursor);
  cursor = 0x7FFFFFFF;  // the largest index a caller can give
  EXPECT_FALSE(FetchCommandLineArgument(u"p a b", &cursor, &token));
  EXPECT_EQ(0x7FFFFFFF, cursor);
}

TEST(CommandLine, LongAndOddInputs) {
  std::u16string line = u"prog.exe ";
  line.append(32000, u'7');
  EXPECT_EQ(1, CountCommandLineArguments(line.c_str()));
  EXPECT_EQ(32000u, Arguments(line.c_str())[0].size());

  std::u16string quotes(1001, u'"');
  EXPECT_EQ(500, CountCommandLineArguments(quotes.c_str()));  // 501 empty tokens, the first the name
  std::u16string surrogates = u"p \xD800 \xDFFF\xD800";
  EXPECT_EQ(2, CountCommandLineArguments(surrogates.c_str()));
}
