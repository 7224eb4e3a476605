// Utf8ByteSpan over any bytes: it must never step over the first 0 byte or off
// the end of its input, must count no more characters than asked, and must
// agree with a walk written out from the byte rules.
#include <string.h>

#include <memory>

#include "fuzz_support.h"
#include "runtime/strings/string_functions.h"

namespace {
bool IsContinuation(uint8_t b) { return (b & 0xC0) == 0x80; }

// The span and the number of characters in it, one rule per lead byte.
struct Walk {
  int32_t bytes;
  int32_t characters;
};

Walk ModelSpan(const uint8_t* s, int32_t count) {
  Walk w = {0, 0};
  if (count <= 0) return w;
  while (w.characters < count && s[w.bytes] != 0) {
    const uint8_t* p = s + w.bytes;
    int need;  // bytes of a whole sequence with this lead, 0 for a stray byte
    if (p[0] < 0x80) need = 1;
    else if ((p[0] & 0xE0) == 0xC0) need = 2;
    else if ((p[0] & 0xF0) == 0xE0 && p[1] != 0) need = 3;
    else if ((p[0] & 0xF8) == 0xF0 && p[1] != 0 && p[2] != 0) need = 4;
    else need = 0;
    if (need == 0) {
      w.bytes += 1;
      continue;
    }
    // Continuation bytes in a row after the lead, up to the sequence's size.
    int have = 1;
    while (have < need && IsContinuation(p[have])) have++;
    if (have == need) {
      w.bytes += need;
      w.characters++;
    } else {
      w.bytes += have;
    }
  }
  return w;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  StartFuzzedCore();
  return 0;
}

// Input: two bytes of signed character count (little-endian), then the text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  int32_t count = int16_t(data[0] | (data[1] << 8));
  size_t length = size - 2;
  // Exactly the text and one 0 byte, so a read beyond either is caught.
  std::unique_ptr<uint8_t[]> text(new uint8_t[length + 1]);
  memcpy(text.get(), data + 2, length);
  text[length] = 0;
  int32_t firstZero = int32_t(strlen(reinterpret_cast<char*>(text.get())));

  int32_t span = Utf8ByteSpan(text.get(), count);
  Walk expected = ModelSpan(text.get(), count);
  FUZZ_CHECK(span >= 0 && span <= firstZero);
  FUZZ_CHECK(expected.characters <= (count < 0 ? 0 : count));
  FUZZ_CHECK(span == expected.bytes);

  // One character more never gives a shorter span; everything gives the
  // span up to the first 0 at most.
  if (count >= 0 && count < 0x7FFF) FUZZ_CHECK(Utf8ByteSpan(text.get(), count + 1) >= span);
  FUZZ_CHECK(Utf8ByteSpan(text.get(), 0x7FFFFFFF) == ModelSpan(text.get(), 0x7FFFFFFF).bytes);
  return 0;
}
