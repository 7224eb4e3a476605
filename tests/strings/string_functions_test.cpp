// The string functions that need no platform call: first character, substring
// search, fields, file part and the UTF-8 span. Portable, no <windows.h>.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "test_strings.h"
#include "runtime/strings/string_functions.h"


// ---------------------------------------------------------------- FirstCharCode

TEST(FirstCharCode, Table) {
  EXPECT_EQ(0, FirstCharCode(nullptr));
  EXPECT_EQ(0, FirstCharCode(SharedEmptyString()));
  EXPECT_EQ(0, FirstCharCode(LITERAL(u"")));
  EXPECT_EQ(115, FirstCharCode(LITERAL(u"s:123")));
  EXPECT_EQ(0xFFFF, FirstCharCode(LITERAL(u"\uFFFF")));  // zero-extended, not sign-extended
  EXPECT_EQ(0xD83D, FirstCharCode(LITERAL(u"\U0001F600")));  // the high surrogate alone
}

// ---------------------------------------------------------------- FindSubstring

TEST(FindSubstring, Table) {
  struct Case {
    const char16_t* text;
    const char16_t* pattern;
    int32_t position;
  };
  const Case cases[] = {
      {u"s:123", u":", 2},
      {u"abc", u"", 0},
      {nullptr, u":", 0},
      {u"abc", nullptr, 0},
      {u"", u"a", 0},
      {u"abc", u"abc", 1},
      {u"abc", u"abcd", 0},  // the pattern runs past the text's end
      {u"abc", u"c", 3},
      {u"aab", u"ab", 2},  // a failed partial match does not skip the next start
      {u"a:b:c", u":", 2},
      {u"Pong", u"pong", 0},
      {u"x--y--z", u"--z", 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.text) + " / " + Narrow(c.pattern));
    String text = c.text ? Temp(c.text) : nullptr;
    String pattern = c.pattern ? Temp(c.pattern) : nullptr;
    EXPECT_EQ(c.position, FindSubstring(text, pattern));
    FreeTempString(text);
    FreeTempString(pattern);
  }
  EXPECT_EQ(0, FindSubstring(SharedEmptyString(), LITERAL(u"a")));
}

// ---------------------------------------------------------------- ExtractField

TEST(ExtractField, Table) {
  struct Case {
    const char16_t* s;
    int32_t index;
    const char16_t* separator;
    const char16_t* field;  // null: no field
  };
  const Case cases[] = {
      {u"s:123", 2, u":", u"123"},
      {u"s:123", 1, u":", u"s"},
      {u"s:123", 3, u":", nullptr},
      {u"s:123", 0, u":", nullptr},
      {u"s:123", -1, u":", nullptr},
      {u"a::b", 2, u":", nullptr},
      {u"a::b", 3, u":", u"b"},
      {u"a:b:", 3, u":", nullptr},
      {u":a", 1, u":", nullptr},
      {u"a:b", 1, u":", u"a"},
      {u"x--y--z", 3, u"--", u"z"},
      {u"x--y--z", 2, u"--", u"y"},
      {u"x--y", 3, u"--", nullptr},
      {u"a:::b", 1, u"::", u"a"},
      {u"a:::b", 2, u"::", u":b"},
      {u"a:::b", 3, u"::", nullptr},
      {u"ab-", 1, u"--", u"ab-"},  // a separator cut off by the end does not match
      {u"----", 2, u"--", nullptr},
      {u"----", 3, u"--", nullptr},
      {u"----", 4, u"--", nullptr},
      {u"tel:+49 5555:x", 2, u":", u"+49 5555"},
      {u"abc", 1, u"", u"abc"},  // an empty temporary is no shared empty string: a copy
      {u"abc", 2, u"", nullptr},
      {u"abc", 2, nullptr, nullptr},
      {u"abc", 1, u"x", u"abc"},
      {u"abc", 2, u"x", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.s) + " #" + std::to_string(c.index) + " / " + Narrow(c.separator));
    String s = Temp(c.s);
    String separator = c.separator ? Temp(c.separator) : nullptr;
    String field = ExtractField(s, c.index, separator);
    EXPECT_TRUE(Holds(field, c.field)) << Narrow(field);
    if (field) {
      EXPECT_TRUE(IsTemporary(field));
      EXPECT_NE(s, field);
    }
    FreeTempString(field);
    FreeTempString(s);
    FreeTempString(separator);
  }
}

TEST(ExtractField, EmptyInputIsNoField) {
  EXPECT_EQ(nullptr, ExtractField(nullptr, 1, nullptr));
  EXPECT_EQ(nullptr, ExtractField(nullptr, 1, LITERAL(u":")));
  EXPECT_EQ(nullptr, ExtractField(SharedEmptyString(), 1, nullptr));
  EXPECT_EQ(nullptr, ExtractField(LITERAL(u""), 1, LITERAL(u":")));
}

TEST(ExtractField, FirstFieldWithoutSeparatorGoesThroughDuplicateTemporary) {
  String permanent = Owned(u"s:123");
  LiveCount live;
  EXPECT_EQ(permanent, ExtractField(permanent, 1, nullptr));
  EXPECT_EQ(permanent, ExtractField(permanent, 1, SharedEmptyString()));
  String literal = LITERAL(u"abc");
  EXPECT_EQ(literal, ExtractField(literal, 1, nullptr));
  EXPECT_EQ(nullptr, ExtractField(permanent, 2, nullptr));
  EXPECT_EQ(0, live());

  String temp = Temp(u"s:123");
  String copy = ExtractField(temp, 1, nullptr);
  EXPECT_NE(temp, copy);
  EXPECT_TRUE(IsTemporary(copy));
  EXPECT_TRUE(Holds(copy, u"s:123"));
  FreeTempString(copy);

  String emptyTemp = Temp(u"");
  EXPECT_EQ(nullptr, ExtractField(emptyTemp, 1, nullptr));
  EXPECT_EQ(2, live());  // temp and emptyTemp, neither released
  FreeTempString(temp);
  FreeTempString(emptyTemp);
  EXPECT_EQ(0, live());
  FreeString(permanent);
}

TEST(ExtractField, AllocatesOnlyTheFieldAndReleasesNoArgument) {
  String s = Temp(u"one:two:three");
  String separator = Temp(u":");
  LiveCount live;
  String field = ExtractField(s, 3, separator);
  EXPECT_EQ(1, live());
  EXPECT_TRUE(Holds(s, u"one:two:three"));
  EXPECT_TRUE(IsTemporary(s));
  EXPECT_TRUE(IsTemporary(separator));
  FreeTempString(field);
  EXPECT_EQ(nullptr, ExtractField(s, 4, separator));
  EXPECT_EQ(0, live());
  FreeTempString(s);
  FreeTempString(separator);
}

// Units behind the header's length are not part of the separator: only the
// first k units are matched.
TEST(ExtractField, SeparatorLengthComesFromItsHeader) {
  String separator = Temp(u"::x");
  reinterpret_cast<uint32_t*>(separator)[-1] = 2 | kTemporaryFlag;
  String field = ExtractField(LITERAL(u"a::b"), 2, separator);
  EXPECT_TRUE(Holds(field, u"b"));
  FreeTempString(field);
  FreeTempString(separator);
}

// ---------------------------------------------------------------- FilePart

TEST(FilePart, Table) {
  struct Case {
    const char16_t* path;
    uint32_t flags;
    const char16_t* name;
  };
  const Case cases[] = {
      {uR"(C:\Tools\app.exe)", 1, u"app"},
      {uR"(C:\Tools\app.exe)", 0, u"app.exe"},
      {u"archive.tar.gz", 1, u"archive.tar"},
      {u".profile", 1, u".profile"},
      {u"name.", 1, u"name."},
      {u"version 1.2 final", 1, u"version 1.2 final"},
      {uR"("C:\Program Files\app.exe" -x)", 1, u"app"},
      {uR"("C:\Program Files\app.exe" -x)", 0, u"app.exe"},
      {u"C:/dir/", 1, u""},
      {u"C:/dir/", 0, u""},
      {u"prog.exe", 0, u"prog.exe"},
      {u"prog.exe", 2, u"prog.exe"},  // only bit 0 counts
      {u"prog.exe", 3, u"prog"},
      {u"C:/a\\b/c.d", 1, u"c"},
      {u"my.dialer.exe", 1, u"my.dialer"},
      {u"dir.d\\file", 1, u"file"},  // a dot before the name is not its extension
      {u"x.y z", 1, u"x.y z"},
      {u"a b.c", 1, u"a b"},
      {u"\"", 1, u""},
      {u"\"abc", 1, u"abc"},
      {u"abc\"def", 1, u"abc"},
      {uR"("C:\dir\app.exe" -o x/y.z)", 1, u"y"},  // the walk runs past the closing quote
      {u"..", 1, u".."},
      {u"a.", 0, u"a."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.path) + " flags " + std::to_string(c.flags));
    String path = Temp(c.path);
    String name = FilePart(path, c.flags);
    EXPECT_TRUE(Holds(name, c.name)) << Narrow(name);
    EXPECT_TRUE(IsTemporary(name));
    EXPECT_NE(path, name);
    FreeTempString(name);
    FreeTempString(path);
  }
}

TEST(FilePart, NullOnlyForAnEmptyPath) {
  EXPECT_EQ(nullptr, FilePart(nullptr, 1));
  EXPECT_EQ(nullptr, FilePart(SharedEmptyString(), 0));
  String name = FilePart(LITERAL(u""), 0);  // empty, but not the shared empty string
  EXPECT_TRUE(Holds(name, u""));
  EXPECT_TRUE(IsTemporary(name));
  FreeTempString(name);
}

TEST(FilePart, ReleasesNoArgument) {
  String path = Temp(uR"(C:\Tools\app.exe)");
  LiveCount live;
  String name = FilePart(path, 1);
  EXPECT_EQ(1, live());
  EXPECT_TRUE(Holds(path, uR"(C:\Tools\app.exe)"));
  FreeTempString(name);
  FreeTempString(path);
  EXPECT_EQ(-1, live());

  String permanent = Owned(u"D:/x/y.txt");
  String fromPermanent = FilePart(permanent, 1);
  EXPECT_NE(permanent, fromPermanent);
  EXPECT_TRUE(Holds(fromPermanent, u"y"));
  FreeTempString(fromPermanent);
  FreeString(permanent);
}

// ---------------------------------------------------------------- Utf8ByteSpan

TEST(Utf8ByteSpan, Table) {
  struct Case {
    const char* bytes;  // ends at its 0 byte
    int32_t count;
    int32_t span;
  };
  const Case cases[] = {
      {"abc", 0, 0},
      {"abc", -1, 0},
      {"abc", 2, 2},
      {"abc", 3, 3},
      {"abc", 9, 3},  // stops at the 0 byte
      {"", 1, 0},
      {"\xC3\xA9" "AB", 2, 3},
      {"\xC3\xA9" "AB", 1, 2},
      {"\xE2\x82\xAC" "x", 1, 3},
      {"\xE2\x82\xAC" "x", 2, 4},
      {"\xF0\x9F\x98\x80" "x", 1, 4},
      {"\xF0\x9F\x98\x80" "x", 2, 5},
      // Malformed bytes are carried along without being counted.
      {"\x80" "A", 1, 2},
      {"\x80\x80\x80", 5, 3},
      {"\xF8\xF9\xFA\xFB\xFC\xFD\xFE\xFF" "A", 1, 9},
      {"\xC3" "A", 1, 2},
      {"\xC3" "A", 2, 2},
      {"\xE2" "AB", 1, 2},
      {"\xE2\x82" "AB", 1, 3},
      {"\xF0" "ABC", 1, 2},
      {"\xF0\x9F" "AB", 1, 3},
      {"\xF0\x9F\x98" "A", 1, 4},
      {"A\x80", 1, 1},  // malformed bytes after the last character are left out
      // Sequences cut short by the 0 byte end the walk there.
      {"\xC3", 3, 1},
      {"\xE2", 3, 1},
      {"\xE2\x82", 3, 2},
      {"\xF0", 3, 1},
      {"\xF0\x9F", 3, 2},  // byte p+2 is 0: no four-byte lead, 9F then stray
      {"\xF0\x9F\x98", 3, 3},
      {"\xF0" "A", 3, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.bytes)) + " count " + std::to_string(c.count));
    EXPECT_EQ(c.span, Utf8ByteSpan(reinterpret_cast<const uint8_t*>(c.bytes), c.count));
  }
}
