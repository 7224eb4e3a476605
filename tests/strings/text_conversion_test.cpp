// Decoding byte text into managed strings and encoding them back, through the
// real platform conversions; and proof that neither the UTF-8 walk nor the
// decoder reads a byte beyond what it was given.
#include <gtest/gtest.h>
#include <windows.h>
#include <string.h>

#include <string>
#include <vector>

#include "test_strings.h"
#include "runtime/strings/string_functions.h"

namespace {
std::u16string Text(String s) { return s ? std::u16string(s, size_t(StringLength(s))) : u""; }

// Byte text with embedded 0 bytes needs its size.
std::string Bytes(const char* text) { return std::string(text); }
std::string Bytes(const char* text, size_t size) { return std::string(text, size); }

// Copies `bytes` so that the last one sits right before a page that cannot be
// accessed: reading one byte too far ends the test process.
class GuardedBytes {
 public:
  GuardedBytes() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    page_ = info.dwPageSize;
    base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, 2 * page_, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    DWORD old;
    guardSet_ = base_ && VirtualProtect(base_ + page_, page_, PAGE_NOACCESS, &old);
  }
  ~GuardedBytes() { VirtualFree(base_, 0, MEM_RELEASE); }

  bool Ready() const { return guardSet_; }

  const uint8_t* Place(const void* bytes, size_t size) {
    uint8_t* start = base_ + page_ - size;
    memcpy(start, bytes, size);
    return start;
  }
  const uint8_t* Place(const std::string& bytes) { return Place(bytes.data(), bytes.size()); }

  const uint8_t* Guard() const { return base_ + page_; }

 private:
  DWORD page_ = 0;
  uint8_t* base_ = nullptr;
  bool guardSet_ = false;
};


std::u16string ViaAnsiCodePage(const std::string& bytes) {
  wchar_t out[64];
  int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()), out, 64);
  return std::u16string(reinterpret_cast<char16_t*>(out), size_t(n));
}
}  // namespace

// ---------------------------------------------------------------- DecodeText

TEST(DecodeText, Table) {
  struct Case {
    std::string bytes;
    int32_t length;
    int32_t format;
    std::u16string text;
  };
  const Case cases[] = {
      {"pong", 4, 0x42, u"pong"},
      {Bytes("po") + '\0' + "ng", 5, 0x42, u"po"},
      {"\xC3\xA9" "AB", 2, 2, u"\u00E9A"},  // two characters: three bytes
      {"\xC3\xA9" "AB", 2, 0x42, u"\u00E9"},  // two bytes
      {"\xC3\xA9" "AB", 4, 2, u"\u00E9AB"},
      {"\xE2\x82\xAC\xF0\x9F\x98\x80!", 2, 2, u"\u20AC\U0001F600"},
      {"pong", -1, 0x42, u"pong"},
      {"pong", -1, 2, u"pong"},
      {"pong", 0, 0x42, u""},
      {"pong", 0, 2, u""},
      {"pong", -2, 0x42, u""},
      {"pong", -2, 25, u""},
      {"pong", -2, 24, u""},
      {Bytes("") + '\0' + "x", 2, 0x42, u""},
      {"pong", 2, 0x142, u"po"},  // bits other than 0-4 and 0x40 are ignored
      {"\xC3\xA9" "AB", 2, 0x22, u"\u00E9A"},  // 0x22: bits 0-4 still say UTF-8
      {"pong", 3, 24, u"pon"},
      {"pong", 3, 24 | 0x40, u"pon"},
      {"pong", 3, 0, u"pon"},
      {"pong", -1, 24, u"pong"},
      {Bytes("a\0b\0\0\0c\0d\0", 10), 5, 25, u"ab"},
      {Bytes("a\0b\0c\0", 6), 2, 25, u"ab"},
      {Bytes("a\0b\0c\0\0\0", 8), -1, 25, u"abc"},
      {Bytes("a\0b\0c\0", 6), 2, 25 | 0x40, u"ab"},  // the flag counts nothing for UTF-16
      {Bytes("a\0b\0", 4), 0, 25, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes) + " length " + std::to_string(c.length) + " format " +
                 std::to_string(c.format));
    String s = DecodeText(c.bytes.data(), c.length, c.format);
    ASSERT_NE(nullptr, s);
    EXPECT_TRUE(IsTemporary(s));
    EXPECT_EQ(c.text, Text(s));
    EXPECT_EQ(0, s[StringLength(s)]);
    FreeTempString(s);
  }
}

// A received datagram need not start on an even address.
TEST(DecodeText, Utf16AtAnOddAddress) {
  alignas(4) const char buffer[8] = {'x', 'a', 0, 'b', 0, 0, 0, 0};
  String s = DecodeText(buffer + 1, -1, 25);
  EXPECT_EQ(u"ab", Text(s));
  FreeTempString(s);
}

TEST(DecodeText, NullAddressIsNull) {
  EXPECT_EQ(nullptr, DecodeText(nullptr, 4, 0x42));
  EXPECT_EQ(nullptr, DecodeText(nullptr, -1, 25));
}

// Without an explicit table of the ANSI code page, the ANSI formats are checked
// against the platform's own reading of the same bytes, and against UTF-8 to
// show that they really took the other road.
TEST(DecodeText, OtherFormatsGoThroughTheAnsiCodePage) {
  const std::string bytes = "\xC3\xA9";
  const std::u16string ansi = ViaAnsiCodePage(bytes);
  ASSERT_NE(u"\u00E9", ansi) << "the ANSI code page is UTF-8 here";
  for (int32_t format : {24, 0, 1, 3, 26, 31, 24 | 0x40, 24 | 0x20}) {
    SCOPED_TRACE(format);
    String s = DecodeText(bytes.data(), 2, format);
    EXPECT_EQ(ansi, Text(s));
    FreeTempString(s);
  }
}

TEST(DecodeText, MalformedUtf8StillGivesAString) {
  struct Case {
    std::string bytes;
    int32_t length;
    int32_t format;
    char16_t last;  // the well-formed character that ends the input
  };
  const Case cases[] = {
      {"\xC3" "A", 2, 0x42, u'A'},
      {"\x80\x80Z", 3, 0x42, u'Z'},
      {"\xF8\xFF" "A", 1, 2, u'A'},
      {"\xE2\x82" "Q", 1, 2, u'Q'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    String s = DecodeText(c.bytes.data(), c.length, c.format);
    ASSERT_NE(nullptr, s);
    ASSERT_GE(StringLength(s), 2);  // something for the malformed bytes, then the character
    EXPECT_EQ(c.last, s[StringLength(s) - 1]);
    FreeTempString(s);
  }
}

TEST(DecodeText, SizesItsResultExactly) {
  LiveCount live;
  long allocations = StringAllocations().allocations;
  long reallocations = StringAllocations().reallocations;
  String s = DecodeText("\xE2\x82\xAC" "ab", -1, 2);
  EXPECT_EQ(1, live());
  EXPECT_EQ(allocations + 1, StringAllocations().allocations);
  EXPECT_EQ(reallocations, StringAllocations().reallocations);
  EXPECT_EQ(0x80000003u, reinterpret_cast<uint32_t*>(s)[-1]);
  FreeTempString(s);
  EXPECT_EQ(0, live());
}

// ---------------------------------------------------------------- Encoders

TEST(EncodeUtf8, Table) {
  struct Case {
    String s;
    std::string bytes;
  };
  String embeddedZero = AllocateTempString(4);
  memcpy(embeddedZero, u"ab\0cd", 10);
  const Case cases[] = {
      {LITERAL(u"\u00E9"), "\xC3\xA9"},
      {nullptr, ""},
      {SharedEmptyString(), ""},
      {LITERAL(u""), ""},
      {LITERAL(u"dial 0555501230"), "dial 0555501230"},
      {LITERAL(u"\u20AC\U0001F600"), "\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {embeddedZero, "ab"},  // the header's length does not count
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    char* encoded = EncodeUtf8(c.s);
    ASSERT_NE(nullptr, encoded);
    EXPECT_EQ(c.bytes, std::string(encoded));
    // Text, its converted terminator and the extra 0 byte, on the process heap.
    EXPECT_EQ(c.s ? c.bytes.size() + 2 : 1, HeapSize(GetProcessHeap(), 0, encoded));
    FreeUtf8(encoded);
  }
  FreeTempString(embeddedZero);
}

TEST(EncodeAscii, Table) {
  char* plain = EncodeAscii(LITERAL(u"127.0.0.1"));
  EXPECT_STREQ("127.0.0.1", plain);
  FreeAscii(plain);

  char* none = EncodeAscii(nullptr);
  EXPECT_STREQ("", none);
  EXPECT_EQ(1u, HeapSize(GetProcessHeap(), 0, none));
  FreeAscii(none);

  // The expected bytes come from the platform for the ANSI code page in use.
  const wchar_t* samples[] = {L"\u00E9", L"\u4E2D", L"a\u20ACb"};
  for (const wchar_t* sample : samples) {
    char expected[16];
    int n = WideCharToMultiByte(CP_ACP, 0, sample, -1, expected, sizeof expected, nullptr, nullptr);
    ASSERT_GT(n, 0);
    String s = AllocateTempString(int32_t(wcslen(sample)));
    memcpy(s, sample, 2 * wcslen(sample) + 2);
    char* encoded = EncodeAscii(s);
    EXPECT_STREQ(expected, encoded);
    char* utf8 = EncodeUtf8(s);
    EXPECT_STRNE(utf8, encoded) << "ANSI and UTF-8 differ for non-ASCII text";
    FreeUtf8(utf8);
    FreeAscii(encoded);
    FreeTempString(s);
  }
}

TEST(Encoders, UseNoStringAllocationAndReleaseNoArgument) {
  String temp = AllocateTempString(3);
  memcpy(temp, u"abc", 8);
  AllocationCounts before = StringAllocations();
  char* utf8 = EncodeUtf8(temp);
  char* ansi = EncodeAscii(temp);
  EXPECT_EQ(before.allocations, StringAllocations().allocations);
  EXPECT_EQ(before.frees, StringAllocations().frees);
  EXPECT_TRUE(IsTemporary(temp));
  EXPECT_EQ(u"abc", Text(temp));
  FreeUtf8(utf8);
  FreeAscii(ansi);
  FreeTempString(temp);
  FreeUtf8(nullptr);
  FreeAscii(nullptr);
}

TEST(Conversions, RoundTripThroughUtf8) {
  String original = LITERAL(u"+49 5555 0123-0 \u00E9\u20AC\U0001F600");
  char* encoded = EncodeUtf8(original);
  String decoded = DecodeText(encoded, -1, 2);
  EXPECT_EQ(1, StringsEqual(decoded, original));  // releases decoded
  FreeUtf8(encoded);
}

// ---------------------------------------------------------------- No read beyond the input

TEST(GuardPage, IsInPlace) {
  GuardedBytes guarded;
  ASSERT_TRUE(guarded.Ready());
  MEMORY_BASIC_INFORMATION info;
  ASSERT_NE(0u, VirtualQuery(guarded.Guard(), &info, sizeof info));
  EXPECT_EQ(DWORD(PAGE_NOACCESS), info.Protect);
}

// The walk may look at bytes p+1 to p+3 only while they are not behind a 0
// byte, and stops as soon as it has counted enough characters.
TEST(GuardPage, Utf8ByteSpanReadsNothingBeyond) {
  GuardedBytes guarded;
  ASSERT_TRUE(guarded.Ready());
  struct Case {
    std::string bytes;
    int32_t count;
    int32_t span;
  };
  const Case cases[] = {
      {"A", 1, 1},
      {"\xC3\xA9", 1, 2},
      {"\xE2\x82\xAC", 1, 3},
      {"\xF0\x9F\x98\x80", 1, 4},
      {"\x80" "A", 1, 2},
      {"\xF8\xF9\xFA\xFB\xFC\xFD\xFE\xFF" "A", 1, 9},
      {"\xC3" "A", 1, 2},
      {"\xE2" "A", 1, 2},
      {"\xE2\x82" "A", 1, 3},
      {"\xF0\x9F\x98" "A", 1, 4},
      {Bytes("\xC3") + '\0', 5, 1},
      {Bytes("\xE2") + '\0', 5, 1},
      {Bytes("\xE2\x82") + '\0', 5, 2},
      {Bytes("\xF0") + '\0', 5, 1},
      {Bytes("\xF0\x9F") + '\0', 5, 2},
      {Bytes("\xF0\x9F\x98") + '\0', 5, 3},
      {Bytes("\x80\xBF") + '\0', 5, 2},
      {Bytes("\xF8\xFF") + '\0', 5, 2},
      {Bytes("ab\xC3\xA9") + '\0', 9, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes) + " count " + std::to_string(c.count));
    EXPECT_EQ(c.span, Utf8ByteSpan(guarded.Place(c.bytes), c.count));
  }
}

TEST(GuardPage, DecodeTextReadsNothingBeyond) {
  GuardedBytes guarded;
  ASSERT_TRUE(guarded.Ready());
  struct Case {
    std::string bytes;
    int32_t length;
    int32_t format;
  };
  const Case cases[] = {
      {"pong", 4, 0x42},
      {"pong", 4, 24},
      {"pong", 4, 2},  // a character count that ends at the last byte
      {"\xC3\xA9" "A", 2, 2},
      {"\xE2\x82", 2, 0x42},  // truncated at the end of the input
      {"\xF0\x9F\x98", 3, 0x42},
      {"\x80\xF8\xFF", 3, 0x42},
      {"\xF8\xFF" "A", 1, 2},
      {Bytes("\xE2\x82") + '\0', -1, 2},
      {Bytes("\xF0\x9F") + '\0', 9, 2},
      {Bytes("\xC3") + '\0', -1, 0x42},
      {Bytes("\x80\xBF") + '\0', 9, 0x42},
      {Bytes("\xFF\xFE") + '\0', -1, 24},
      {Bytes("a\0b\0", 4), 2, 25},
      {Bytes("a\0\0\0", 4), -1, 25},
      {Bytes("a\0b\0\0\0", 6), 9, 25},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes) + " length " + std::to_string(c.length) + " format " +
                 std::to_string(c.format));
    String s = DecodeText(guarded.Place(c.bytes), c.length, c.format);
    EXPECT_NE(nullptr, s);
    FreeTempString(s);
  }
}
