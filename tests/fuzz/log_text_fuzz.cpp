// Outside text made into log text, over any bytes: the result is one line of
// valid UTF-8 without a control, separator or bidirectional character, never
// longer than its buffer; read back it gives the text (or, when cut, its start
// up to at most 3 bytes before the limit, and the length told); a shorter
// buffer gives a start of the same result; and a line of the service's own
// needs no escapes once its outside text is formatted.
#include <stdio.h>
#include <string.h>

#include <memory>
#include <string>

#include "fuzz_support.h"
#include "service/number/log_text.h"

namespace {
// A strict UTF-8 walk written out from the byte rules; false at the first
// sequence that is not one.
bool NextCodePoint(const std::string& text, size_t* at, unsigned* code) {
  unsigned char lead = (unsigned char)text[*at];
  size_t count = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
  if (!count || *at + count > text.size()) return false;
  unsigned value = count == 1 ? lead : lead & (0xFF >> (count + 1));
  for (size_t i = 1; i < count; i++) {
    unsigned char next = (unsigned char)text[*at + i];
    if ((next & 0xC0) != 0x80) return false;
    value = value << 6 | (next & 0x3F);
  }
  const unsigned shortest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < shortest[count] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
  *at += count;
  *code = value;
  return true;
}

void CheckOneLine(const std::string& out) {
  for (size_t at = 0; at < out.size();) {
    unsigned code = 0;
    FUZZ_CHECK(NextCodePoint(out, &at, &code));
    FUZZ_CHECK(code >= 0x20 && !(code >= 0x7F && code <= 0x9F));
    FUZZ_CHECK(code != 0x2028 && code != 0x2029 && !(code >= 0x202A && code <= 0x202E) &&
               !(code >= 0x2066 && code <= 0x2069));
  }
}

int HexValue(char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; }

// Every backslash of FormatTextForLog's text starts an escape \xNN.
std::string Unescape(const std::string& out) {
  std::string bytes;
  for (size_t i = 0; i < out.size(); i++) {
    if (out[i] != '\\') {
      bytes += out[i];
      continue;
    }
    FUZZ_CHECK(i + 3 < out.size() && out[i + 1] == 'x' && HexValue(out[i + 2]) >= 0 && HexValue(out[i + 3]) >= 0);
    bytes += char(HexValue(out[i + 2]) * 16 + HexValue(out[i + 3]));
    i += 3;
  }
  return bytes;
}

std::string Format(const std::string& text, size_t size) {
  // Exactly as long as the text and the buffer, so reads and writes past either are caught.
  std::unique_ptr<char[]> exact(new char[text.size() + 1]);
  memcpy(exact.get(), text.data(), text.size());
  std::unique_ptr<char[]> out(new char[size]);
  size_t length = FormatTextForLog(exact.get(), text.size(), out.get(), size);
  FUZZ_CHECK(length < size && out[length] == 0 && strlen(out.get()) == length);
  return std::string(out.get(), length);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  StartFuzzedCore();
  return 0;
}

// Input: one byte of buffer size for the short-buffer check, then the text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string out = Format(text, kMaxFormattedTextSize);
  CheckOneLine(out);
  if (text.size() <= kLoggedTextLimit) {
    FUZZ_CHECK(Unescape(out) == text);
  } else {
    char told[48];
    snprintf(told, sizeof told, "... (%zu bytes)", text.size());
    const size_t toldLength = strlen(told);
    FUZZ_CHECK(out.size() > toldLength && out.compare(out.size() - toldLength, toldLength, told) == 0);
    const std::string shown = Unescape(out.substr(0, out.size() - toldLength));
    FUZZ_CHECK(shown.size() <= kLoggedTextLimit && shown.size() + 3 >= kLoggedTextLimit);
    FUZZ_CHECK(text.compare(0, shown.size(), shown) == 0);
  }
  const std::string shorter = Format(text, size_t(data[0]) + 1);
  FUZZ_CHECK(out.compare(0, shorter.size(), shorter) == 0);
  CheckOneLine(shorter);

  std::unique_ptr<char[]> line(new char[4 * text.size() + 1]);
  size_t lineLength = EscapeLogLine(text.data(), text.size(), line.get(), 4 * text.size() + 1);
  CheckOneLine(std::string(line.get(), lineLength));
  char again[kMaxFormattedTextSize];
  FUZZ_CHECK(EscapeLogLine(out.data(), out.size(), again, sizeof again) == out.size() && out == again);
  return 0;
}
