// FirstCharCode, FindSubstring, ExtractField and FilePart against small
// reference models over std::u16string, with their operands held in every way
// a caller can hold a string. None of them may change or release an operand,
// and every string a call makes is released again.
#include <string.h>

#include <algorithm>
#include <vector>

#include "allocation_counter.h"
#include "fuzz_support.h"
#include "runtime/strings/string_functions.h"

namespace {
bool IsEmptyValue(String s) { return !s || s == SharedEmptyString(); }

// What a result should be: nothing (null), the argument itself, or a new
// temporary holding a text.
struct Expected {
  enum Kind { kNull, kArgument, kNewText } kind;
  std::u16string text;
};

int32_t ModelFindSubstring(String text, String pattern) {
  if (!text || !pattern || !text[0] || !pattern[0]) return 0;
  size_t at = UpToTerminator(TextOf(text)).find(UpToTerminator(TextOf(pattern)));
  return at == std::u16string::npos ? 0 : int32_t(at) + 1;
}

Expected ModelExtractField(String s, int32_t index, String separator) {
  if (index < 1 || IsEmptyValue(s)) return {Expected::kNull, u""};
  if (index == 1 && IsEmptyValue(separator)) {
    if (!IsTemporary(s)) return {Expected::kArgument, u""};
    if (StringLength(s) == 0) return {Expected::kNull, u""};
    return {Expected::kNewText, TextOf(s)};
  }
  std::u16string text = UpToTerminator(TextOf(s));
  std::u16string sep = TextOf(separator);
  // The fields are what lies between separators; a separator is only ever
  // found inside the text, so one that holds a 0 unit is never found.
  std::vector<std::u16string> fields;
  size_t start = 0;
  for (size_t at = 0;; ) {
    bool ends;
    if (at == text.size()) ends = true;
    else if (sep.size() >= 2) ends = text.compare(at, sep.size(), sep) == 0;
    else ends = !sep.empty() && text[at] == sep[0];
    if (!ends) {
      at++;
      continue;
    }
    fields.push_back(text.substr(start, at - start));
    if (at == text.size()) break;
    at += std::max<size_t>(sep.size(), 1);
    start = at;
  }
  if (size_t(index) > fields.size() || fields[size_t(index) - 1].empty()) return {Expected::kNull, u""};
  return {Expected::kNewText, fields[size_t(index) - 1]};
}

Expected ModelFilePart(String path, uint32_t flags) {
  if (IsEmptyValue(path)) return {Expected::kNull, u""};
  std::u16string text = UpToTerminator(TextOf(path));
  size_t start = !text.empty() && text[0] == u'"' ? 1 : 0;
  for (size_t i = 0; i < text.size(); i++)
    if (text[i] == u'/' || text[i] == u'\\') start = i + 1;
  size_t end = std::min(text.size(), text.find(u'"', start));
  if (flags & 1) {
    for (size_t i = end; i-- > start + 1;) {
      if (text[i] == u' ') break;
      if (text[i] == u'.') {
        if (i + 1 < end) end = i;
        break;
      }
    }
  }
  return {Expected::kNewText, text.substr(start, end - start)};
}

void CheckResult(String result, const Expected& expected, String argument) {
  switch (expected.kind) {
    case Expected::kNull:
      FUZZ_CHECK(result == nullptr);
      return;
    case Expected::kArgument:
      FUZZ_CHECK(result == argument);
      return;
    case Expected::kNewText:
      FUZZ_CHECK(result != nullptr && result != argument && IsTemporary(result));
      FUZZ_CHECK(HoldsText(result, expected.text));
      FreeTempString(result);
      return;
  }
}

// Operands keep their text and their kind through every call.
void CheckUntouched(const HeldString& held, const std::u16string& text) {
  if (held.holding == Holding::kNull) return FUZZ_CHECK(held.value == nullptr);
  if (held.holding == Holding::kSharedEmpty) return FUZZ_CHECK(held.value == SharedEmptyString());
  FUZZ_CHECK(HoldsText(held.value, text));
  FUZZ_CHECK(IsTemporary(held.value) == (held.holding == Holding::kTemporary));
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  StartFuzzedCore();
  return 0;
}

// Input: operation, a signed parameter (field index or FilePart flags), the
// holdings of both operands (low and high nibble), the first operand's length
// in units, then UTF-16LE units for the first operand and the rest for the second.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  uint8_t operation = data[0] % 4;
  int32_t parameter = int8_t(data[1]);
  std::u16string units = UnitsFromBytes(data + 4, size - 4);
  size_t firstLength = std::min<size_t>(data[3], units.size());
  std::u16string firstText = units.substr(0, firstLength);
  std::u16string secondText = units.substr(firstLength);

  long live = StringAllocations().Live();
  HeldString first = Hold(firstText, HoldingFromByte(data[2] & 0x0F));
  HeldString second = Hold(secondText, HoldingFromByte(data[2] >> 4));
  std::u16string firstHeld = TextOf(first.value);
  std::u16string secondHeld = TextOf(second.value);

  switch (operation) {
    case 0:
      FUZZ_CHECK(FirstCharCode(first.value) == (first.value ? int32_t(uint16_t(first.value[0])) : 0));
      break;
    case 1:
      FUZZ_CHECK(FindSubstring(first.value, second.value) == ModelFindSubstring(first.value, second.value));
      break;
    case 2: {
      Expected expected = ModelExtractField(first.value, parameter, second.value);
      CheckResult(ExtractField(first.value, parameter, second.value), expected, first.value);
      break;
    }
    case 3: {
      Expected expected = ModelFilePart(first.value, uint32_t(parameter));
      CheckResult(FilePart(first.value, uint32_t(parameter)), expected, first.value);
      break;
    }
  }
  CheckUntouched(first, firstHeld);
  CheckUntouched(second, secondHeld);
  Dispose(&first);
  Dispose(&second);
  FUZZ_CHECK(StringAllocations().Live() == live);
  return 0;
}
