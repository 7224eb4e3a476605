#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>

#include "test_strings.h"
#include "runtime/strings/managed_strings.h"


TEST(Layout, LiteralHasTheAllocatedLayout) {
  static const uint8_t ping[14] = {4, 0, 0, 0, 0x70, 0, 0x69, 0, 0x6E, 0, 0x67, 0, 0, 0};
  String literal = LITERAL(u"ping");
  EXPECT_EQ(0, memcmp(reinterpret_cast<uint8_t*>(literal) - 4, ping, sizeof ping));
  EXPECT_FALSE(IsTemporary(literal));
}

TEST(Layout, AllocationIsTwoNPlusSixWithHeaderFlags) {
  AllocationCounts before = StringAllocations();
  String temp = AllocateTempString(7);
  String permanent = AllocateString(7);
  EXPECT_EQ(0x80000007u, reinterpret_cast<uint32_t*>(temp)[-1]);
  EXPECT_EQ(7u, reinterpret_cast<uint32_t*>(permanent)[-1]);
  EXPECT_EQ(2, StringAllocations().allocations - before.allocations);
  FreeString(temp);
  FreeString(permanent);
  EXPECT_EQ(before.Live(), StringAllocations().Live());
}

TEST(Layout, ResizeToTheSameLengthDoesNotReallocate) {
  String s = AllocateTempString(3);
  long reallocations = StringAllocations().reallocations;
  EXPECT_EQ(s, ResizeString(s, 3));
  EXPECT_EQ(reallocations, StringAllocations().reallocations);
  s = ResizeString(s, 9);
  EXPECT_EQ(0x80000009u, reinterpret_cast<uint32_t*>(s)[-1]);
  FreeTempString(s);
}

TEST(Release, FreeFunctionsLeaveWhatTheyMustNotRelease) {
  LiveCount live;
  FreeTempString(LITERAL(u"literal"));
  FreeTempString(nullptr);
  FreeString(nullptr);
  FreeString(SharedEmptyString());
  String permanent = Owned(u"kept");
  FreeTempString(permanent);
  EXPECT_EQ(1, live());
  FreeString(permanent);
  EXPECT_EQ(0, live());
  String temp = Temp(u"x");
  FreeString(temp);  // whatever bit 31 says
  EXPECT_EQ(0, live());
}

TEST(Assign, AdoptsATemporaryWithoutCopy) {
  LiveCount live;
  String variable = nullptr;
  String temp = Temp(u"adopted");
  AssignString(&variable, temp);
  EXPECT_EQ(temp, variable);
  EXPECT_FALSE(IsTemporary(variable));
  EXPECT_EQ(1, live());
  FreeString(variable);
}

TEST(Assign, CopiesAPermanentValue) {
  LiveCount live;
  String variable = nullptr;
  String literal = LITERAL(u"copy me");
  AssignString(&variable, literal);
  EXPECT_NE(literal, variable);
  EXPECT_TRUE(Holds(variable, u"copy me"));
  EXPECT_EQ(1, live());
  FreeString(variable);
}

TEST(Assign, SameValueChangesNothingAndNullGivesSharedEmpty) {
  LiveCount live;
  String variable = Owned(u"same");
  String held = variable;
  AssignString(&variable, variable);
  EXPECT_EQ(held, variable);
  EXPECT_EQ(1, live());
  AssignString(&variable, nullptr);
  EXPECT_EQ(SharedEmptyString(), variable);
  EXPECT_EQ(0, live());
  String empty = nullptr;
  AssignString(&empty, nullptr);
  EXPECT_EQ(SharedEmptyString(), empty);
}

TEST(Assign, EmptyTemporaryIsStoredAsItsOwnString) {
  LiveCount live;
  String variable = nullptr;
  String empty = Temp(u"");
  AssignString(&variable, empty);
  EXPECT_EQ(empty, variable);
  EXPECT_NE(SharedEmptyString(), variable);
  EXPECT_EQ(0, StringLength(variable));
  EXPECT_EQ(1, live());
  FreeString(variable);
  EXPECT_EQ(0, live());
}

TEST(CopyParameter, TakesOwnershipOrCopies) {
  LiveCount live;
  String parameter = nullptr;
  CopyStringParameter(&parameter);
  EXPECT_EQ(SharedEmptyString(), parameter);

  String temp = Temp(u"temp");
  parameter = temp;
  CopyStringParameter(&parameter);
  EXPECT_EQ(temp, parameter);
  EXPECT_FALSE(IsTemporary(parameter));
  FreeString(parameter);

  String callers = Owned(u"caller's");
  parameter = callers;
  CopyStringParameter(&parameter);
  EXPECT_NE(callers, parameter);
  EXPECT_TRUE(Holds(parameter, u"caller's"));
  FreeString(parameter);
  FreeString(callers);
  EXPECT_EQ(0, live());
}

struct ConcatCase {
  const char* name;
  const char16_t* left;  // null: null operand
  bool leftTemp;
  const char16_t* right;
  bool rightTemp;
  const char16_t* expected;  // null: null result
};

TEST(Concat, ReleasesExactlyItsTemporaryOperands) {
  const ConcatCase cases[] = {
      {"two nulls", nullptr, false, nullptr, false, nullptr},
      {"empty temporaries", u"", true, u"", true, nullptr},
      {"null and empty temporary", nullptr, false, u"", true, nullptr},
      {"permanent and permanent", u"ab", false, u"cd", false, u"abcd"},
      {"temporary and permanent", u"ab", true, u"cd", false, u"abcd"},
      {"permanent and temporary", u"ab", false, u"cd", true, u"abcd"},
      {"temporary and temporary", u"ab", true, u"cd", true, u"abcd"},
      {"one empty operand", u"", true, u"cd", false, u"cd"},
      {"null left", nullptr, false, u"xyz", true, u"xyz"},
  };
  for (const ConcatCase& c : cases) {
    SCOPED_TRACE(c.name);
    String left = c.left ? (c.leftTemp ? Temp(c.left) : Owned(c.left)) : nullptr;
    String right = c.right ? (c.rightTemp ? Temp(c.right) : Owned(c.right)) : nullptr;
    LiveCount live;
    String result = ConcatStrings(left, right);
    long released = (c.left && c.leftTemp) + (c.right && c.rightTemp);
    if (c.expected) {
      EXPECT_TRUE(IsTemporary(result));
      EXPECT_TRUE(Holds(result, c.expected));
      EXPECT_NE(result, left);
      EXPECT_NE(result, right);
      EXPECT_EQ(1 - released, live());
      FreeTempString(result);
    } else {
      EXPECT_EQ(nullptr, result);
      EXPECT_EQ(-released, live());
    }
    if (c.left && !c.leftTemp) FreeString(left);
    if (c.right && !c.rightTemp) FreeString(right);
  }
}

TEST(Append, TakesOverATemporaryOperandForAnEmptyAccumulator) {
  LiveCount live;
  String operand = Temp(u"op");
  EXPECT_EQ(operand, AppendString(nullptr, operand));
  EXPECT_EQ(1, live());
  String literal = LITERAL(u"lit");
  String copy = AppendString(SharedEmptyString(), literal);
  EXPECT_NE(literal, copy);
  EXPECT_TRUE(IsTemporary(copy));
  EXPECT_TRUE(Holds(copy, u"lit"));
  FreeTempString(copy);
  FreeTempString(operand);
  EXPECT_EQ(0, live());
}

TEST(Append, EmptyOperandReturnsTheAccumulatorUntouched) {
  String accumulator = Temp(u"acc");
  LiveCount live;
  EXPECT_EQ(accumulator, AppendString(accumulator, nullptr));
  EXPECT_EQ(accumulator, AppendString(accumulator, SharedEmptyString()));
  EXPECT_EQ(nullptr, AppendString(nullptr, nullptr));
  EXPECT_EQ(0, live());
  FreeTempString(accumulator);
}

TEST(Append, GrowsInPlaceAndConsumesTemporaryOperand) {
  String accumulator = Temp(u"abc");
  LiveCount live;
  accumulator = AppendString(accumulator, Temp(u"de"));
  accumulator = AppendString(accumulator, LITERAL(u"f"));
  EXPECT_TRUE(IsTemporary(accumulator));
  EXPECT_TRUE(Holds(accumulator, u"abcdef"));
  EXPECT_EQ(0, live());
  FreeTempString(accumulator);
}

TEST(Equal, ComparesExactlyAndConsumesTemporaries) {
  struct Case {
    const char* name;
    const char16_t* a;
    const char16_t* b;
    int32_t equal;
  };
  const Case cases[] = {
      {"same text", u"pong", u"pong", 1},       {"case differs", u"pong", u"Pong", 0},
      {"trailing blank", u"pong", u"pong ", 0}, {"line end", u"pong", u"pong\n", 0},
      {"prefix", u"pon", u"pong", 0},           {"high units unsigned", u"\xFFFF", u"\x0001", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LiveCount live;
    EXPECT_EQ(c.equal, StringsEqual(Temp(c.a), Temp(c.b)));
    EXPECT_EQ(0, live());
  }
}

TEST(Equal, NullAgainstEmptyValues) {
  LiveCount live;
  EXPECT_EQ(1, StringsEqual(nullptr, nullptr));
  EXPECT_EQ(1, StringsEqual(nullptr, SharedEmptyString()));
  EXPECT_EQ(1, StringsEqual(LITERAL(u""), nullptr));
  EXPECT_EQ(1, StringsEqual(nullptr, Temp(u"")));
  EXPECT_EQ(0, StringsEqual(Temp(u"x"), nullptr));
  EXPECT_EQ(0, live());
}

TEST(Equal, StopsAtTheFirstZeroUnit) {
  String withZero = AllocateTempString(4);
  const char16_t units[] = {u'a', u'b', 0, u'c', 0};
  memcpy(withZero, units, sizeof units);
  LiveCount live;
  EXPECT_EQ(1, StringsEqual(withZero, LITERAL(u"ab")));
  EXPECT_EQ(-1, live());
}

TEST(Duplicate, PermanentBackTemporaryCopiedEmptyTemporaryNull) {
  LiveCount live;
  EXPECT_EQ(nullptr, DuplicateTemporary(nullptr));
  String literal = LITERAL(u"x");
  EXPECT_EQ(literal, DuplicateTemporary(literal));
  String empty = Temp(u"");
  EXPECT_EQ(nullptr, DuplicateTemporary(empty));
  EXPECT_EQ(1, live());  // not released
  String temp = Temp(u"dup");
  String copy = DuplicateTemporary(temp);
  EXPECT_NE(temp, copy);
  EXPECT_TRUE(IsTemporary(copy));
  EXPECT_TRUE(Holds(copy, u"dup"));
  FreeTempString(copy);
  FreeTempString(temp);
  FreeTempString(empty);
  EXPECT_EQ(0, live());
}

TEST(Expression, ManyOperandsBuildWithOneAllocationPerGrowth) {
  LiveCount live;
  String text = nullptr;
  AssignString(&text, LITERAL(u"\n"));
  String line = ConcatStrings(text, LITERAL(u"Usage: "));
  line = AppendString(line, LITERAL(u"name"));
  line = AppendString(line, LITERAL(u" phonenumber\n"));
  AssignString(&text, line);
  EXPECT_EQ(line, text);
  EXPECT_TRUE(Holds(text, u"\nUsage: name phonenumber\n"));
  EXPECT_EQ(1, live());
  FreeString(text);
}

// Strings past the allocator's largest block size get memory of their own; a
// smaller one is often handed addresses that a bigger, freed one had, and must
// be whole there.
TEST(Release, HugeStringsOnTheMemoryOfFreedBiggerOnes) {
  LiveCount live;
  for (int round = 0; round < 3; round++) {
    for (int32_t mebibytes : {40, 18, 36, 17}) {
      int32_t length = mebibytes << 19;
      String s = AllocateTempString(length);
      memset(s, 0x61, 2 * size_t(length));
      s[length] = 0;
      EXPECT_EQ(u'\x6161', s[length / 2]);
      EXPECT_EQ(u'\x6161', s[length - 1]);
      EXPECT_EQ(length, StringLength(s));
      FreeTempString(s);
    }
  }
  EXPECT_EQ(0, live());
}

// A length without a 32-bit allocation size, or memory the allocator refuses,
// ends the process at once instead of handing out a null string.
TEST(LengthRange, UnrepresentableLengthEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
#ifdef _WIN32
  const auto ended = testing::ExitedWithCode(0);
#else
  const auto ended = testing::KilledBySignal(SIGABRT);
#endif
  EXPECT_EXIT(AllocateTempString(1 << 30), ended, "");
  EXPECT_EXIT(AllocateString(-1), ended, "");
  EXPECT_EXIT(ResizeString(AllocateTempString(1), 0x7FFFFFFF), ended, "");
}
