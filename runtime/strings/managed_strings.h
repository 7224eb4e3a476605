#pragma once
// Managed strings: UTF-16 text behind a 32-bit header, in one allocation of
// 2n + 6 bytes from the string allocator (mimalloc).
//
//   header (bits 0-30 length n, bit 31 temporary) | n code units | 0 terminator
//
// A String is the address of the first code unit; null means empty. Temporaries
// (bit 31 set) have exactly one owner and are disposed of exactly once:
//   - ConcatStrings, AppendString and StringsEqual consume temporary operands;
//   - AssignString and CopyStringParameter adopt them (bit 31 cleared, no copy);
//   - every other function leaves its string arguments alone, and the caller
//     releases a temporary it passed with FreeTempString.
// A variable, once assigned, holds the shared empty string or a permanent string
// it alone owns; it never holds a temporary. Literals live in static data with
// the same layout and are never written, resized or released.
//
// When the string allocator cannot satisfy a request the process ends at once
// (exit code 0) rather than write through a null pointer.
#include <stdint.h>

typedef char16_t* String;

const uint32_t kTemporaryFlag = 0x80000000u;
const uint32_t kLengthMask = 0x7FFFFFFFu;

void InitStrings();
String SharedEmptyString();

String AllocateString(int32_t length);      // text and terminator left to the caller
String AllocateTempString(int32_t length);  // likewise
String ResizeString(String s, int32_t length);
void FreeString(String s);
void FreeTempString(String s);

void AssignString(String* variable, String s);
void CopyStringParameter(String* variable);
String ConcatStrings(String left, String right);
String AppendString(String accumulator, String operand);
int32_t StringsEqual(String a, String b);
String DuplicateTemporary(String s);

// Header access; null reads as a permanent string of length 0.
int32_t StringLength(String s);
bool IsTemporary(String s);
bool IsEmptyString(String s);  // null or the shared empty string

// Lowers the header's length of a string the caller owns, keeping bit 31, and
// writes the terminator there; the allocation keeps its size.
void ShortenString(String s, int32_t length);

// A literal in static data laid out like an allocated string: LITERAL(u"ping")
// is the 14 bytes 04 00 00 00 70 00 69 00 6E 00 67 00 00 00, 2-byte aligned.
template <unsigned N>
struct LiteralStorage {
  uint16_t lengthLow;
  uint16_t lengthHigh;
  char16_t text[N];
  constexpr LiteralStorage(const char16_t (&s)[N])
      : lengthLow(uint16_t(N - 1)), lengthHigh(uint16_t((N - 1) >> 16)), text{} {
    for (unsigned i = 0; i < N; i++) text[i] = s[i];
  }
};

#define LITERAL(quoted)                                                              \
  ([]() -> String {                                                                \
    static constexpr LiteralStorage<sizeof(quoted) / sizeof(char16_t)> storage(quoted); \
    return const_cast<char16_t*>(storage.text);                                    \
  }())
