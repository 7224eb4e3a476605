#include "managed_strings.h"

#include <mimalloc.h>
#include <string.h>

#include "../process_exit.h"

static String sharedEmpty;

// A literal's header sits on a 2-byte boundary only, so the header is always
// moved as bytes; compilers turn this into a single 32-bit access.
static inline uint32_t ReadHeader(String s) {
  uint32_t header;
  memcpy(&header, reinterpret_cast<const char*>(s) - 4, sizeof header);
  return header;
}
static inline void SetHeader(String s, uint32_t header) {
  memcpy(reinterpret_cast<char*>(s) - 4, &header, sizeof header);
}
static inline void* AllocationOf(String s) { return reinterpret_cast<char*>(s) - 4; }
// From 2^30 units on (or below 0) the size 2n + 6 no longer fits 32 bits; such a
// length is refused like memory that is not there.
const int32_t kLongestString = (1 << 30) - 1;
static size_t AllocationSize(int32_t length) {
  if (length < 0 || length > kLongestString) EndProcessWithoutMemory();
  return 2 * size_t(uint32_t(length)) + 6;
}

int32_t StringLength(String s) { return s ? int32_t(ReadHeader(s) & kLengthMask) : 0; }
bool IsTemporary(String s) { return s && (ReadHeader(s) & kTemporaryFlag); }

// Callers never test for failure, so a refused request must not come back as null.
static void* CheckedAllocation(void* block) {
  if (!block) EndProcessWithoutMemory();
  return block;
}

static String NewString(int32_t length, uint32_t flag) {
  char* block = static_cast<char*>(CheckedAllocation(mi_malloc(AllocationSize(length))));
  String s = reinterpret_cast<String>(block + 4);
  SetHeader(s, (uint32_t(length) & kLengthMask) | flag);
  return s;
}

static void Release(String s) { mi_free(AllocationOf(s)); }

bool IsEmptyString(String s) { return !s || s == sharedEmpty; }

void ShortenString(String s, int32_t length) {
  SetHeader(s, (ReadHeader(s) & kTemporaryFlag) | (uint32_t(length) & kLengthMask));
  s[length] = 0;
}

// The text of s, terminator included, into a new string of s's length.
static String CopyOf(String s, uint32_t flag) {
  int32_t length = StringLength(s);
  String copy = NewString(length, flag);
  memcpy(copy, s, 2 * size_t(length) + 2);
  return copy;
}

void InitStrings() {
  sharedEmpty = AllocateString(0);
  sharedEmpty[0] = 0;
}

String SharedEmptyString() { return sharedEmpty; }

String AllocateString(int32_t length) { return NewString(length, 0); }
String AllocateTempString(int32_t length) { return NewString(length, kTemporaryFlag); }

String ResizeString(String s, int32_t length) {
  uint32_t header = ReadHeader(s);
  if (int32_t(header & kLengthMask) == length) return s;
  char* block = static_cast<char*>(CheckedAllocation(mi_realloc(AllocationOf(s), AllocationSize(length))));
  String grown = reinterpret_cast<String>(block + 4);
  SetHeader(grown, (header & kTemporaryFlag) | (uint32_t(length) & kLengthMask));
  return grown;
}

void FreeString(String s) {
  if (!IsEmptyString(s)) Release(s);
}

void FreeTempString(String s) {
  if (IsTemporary(s)) Release(s);
}

void AssignString(String* variable, String s) {
  String old = *variable;
  if (old == s) {
    if (!s) *variable = sharedEmpty;
    return;
  }
  if (!IsEmptyString(old)) Release(old);
  if (IsEmptyString(s)) {
    *variable = sharedEmpty;
  } else if (IsTemporary(s)) {
    SetHeader(s, ReadHeader(s) & ~kTemporaryFlag);
    *variable = s;
  } else {
    *variable = CopyOf(s, 0);
  }
}

void CopyStringParameter(String* variable) {
  String incoming = *variable;
  if (IsEmptyString(incoming)) {
    *variable = sharedEmpty;
  } else if (IsTemporary(incoming)) {
    SetHeader(incoming, ReadHeader(incoming) & ~kTemporaryFlag);
  } else {
    *variable = CopyOf(incoming, 0);
  }
}

String ConcatStrings(String left, String right) {
  int32_t leftLength = StringLength(left);
  int32_t rightLength = StringLength(right);
  String result = nullptr;
  if (leftLength + rightLength != 0) {
    result = NewString(leftLength + rightLength, kTemporaryFlag);
    if (leftLength) memcpy(result, left, 2 * size_t(leftLength));
    if (rightLength) memcpy(result + leftLength, right, 2 * size_t(rightLength));
    result[leftLength + rightLength] = 0;
  }
  FreeTempString(left);
  FreeTempString(right);
  return result;
}

String AppendString(String accumulator, String operand) {
  if (IsEmptyString(operand)) return accumulator;
  if (IsEmptyString(accumulator)) {
    return IsTemporary(operand) ? operand : CopyOf(operand, kTemporaryFlag);
  }
  int32_t accumulatorLength = StringLength(accumulator);
  int32_t operandLength = StringLength(operand);
  accumulator = ResizeString(accumulator, accumulatorLength + operandLength);
  memcpy(accumulator + accumulatorLength, operand, 2 * size_t(operandLength) + 2);
  FreeTempString(operand);
  return accumulator;
}

int32_t StringsEqual(String a, String b) {
  int32_t equal;
  if (!a && !b) {
    equal = 1;
  } else if (!a || !b) {
    equal = StringLength(a ? a : b) == 0;
  } else {
    const char16_t* x = a;
    const char16_t* y = b;
    while (*x == *y && *x) {
      x++;
      y++;
    }
    equal = *x == *y;
  }
  FreeTempString(a);
  FreeTempString(b);
  return equal;
}

String DuplicateTemporary(String s) {
  if (!IsTemporary(s)) return s;
  if (StringLength(s) == 0) return nullptr;
  return CopyOf(s, kTemporaryFlag);
}
