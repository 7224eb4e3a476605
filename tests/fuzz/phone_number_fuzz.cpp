// The dial service's normalisation over any bytes: it must never read past
// the text, an accepted number must hold only what a dialer dials and read
// the same when normalised again, a rejection must point at a byte that can
// be at fault, a number found in free text must lie within it and be one the
// normalisation accepts, and neither a "tel:" before a number, nor percent-encoding its
// bytes, nor "(0)" after its country code may change what it dials.
#include <string.h>

#include <memory>
#include <string>

#include "fuzz_support.h"
#include "service/number/number_in_text.h"
#include "service/number/phone_number.h"

namespace {
NormalizedNumber Normalize(const std::string& raw) {
  // Exactly as long as the text, so any read past the end is caught.
  std::unique_ptr<char[]> exact(new char[raw.size() + 1]);
  memcpy(exact.get(), raw.data(), raw.size());
  NormalizedNumber number;
  NormalizePhoneNumber(exact.get(), raw.size(), &number);
  return number;
}

void CheckAccepted(const NormalizedNumber& number) {
  FUZZ_CHECK(number.position == 0);
  FUZZ_CHECK(number.length >= 1 && number.length <= kMaxNumberLength);
  FUZZ_CHECK(strlen(number.digits) == number.length);
  bool hasDigit = false;
  for (size_t i = 0; i < number.length; i++) {
    char c = number.digits[i];
    FUZZ_CHECK(c && strchr("0123456789*#,pw+", c));
    FUZZ_CHECK(c != '+' || i == 0);
    hasDigit = hasDigit || (c >= '0' && c <= '9');
  }
  FUZZ_CHECK(hasDigit);
  if (number.digits[0] == '+') FUZZ_CHECK(strspn(number.digits + 1, "0123456789") <= kMaxInternationalDigits);
  NormalizedNumber again = Normalize(std::string(number.digits, number.length));
  FUZZ_CHECK(again.verdict == kNumberAccepted);
  FUZZ_CHECK(strcmp(again.digits, number.digits) == 0);
}

void CheckRejected(const NormalizedNumber& number, const std::string& raw) {
  FUZZ_CHECK(number.length == 0 && number.digits[0] == 0);
  bool positional = number.verdict == kNumberBadEscape || number.verdict == kNumberBadCharacter ||
                    number.verdict == kNumberLatePlus || number.verdict == kNumberBadParameter;
  FUZZ_CHECK(positional == (number.position != 0));
  FUZZ_CHECK(number.position <= raw.size());
  if (!positional) return;
  unsigned char at = (unsigned char)raw[number.position - 1];
  if (number.verdict == kNumberBadEscape) FUZZ_CHECK(at == '%');
  if (number.verdict == kNumberBadParameter) FUZZ_CHECK(at == ';');
  // A "+" typed, escaped, or in its full-width form.
  if (number.verdict == kNumberLatePlus) FUZZ_CHECK(at == '+' || at == '%' || at == 0xEF);
}

bool Same(const NormalizedNumber& a, const NormalizedNumber& b) {
  return a.verdict == b.verdict && strcmp(a.digits, b.digits) == 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string raw(reinterpret_cast<const char*>(data), size);
  NormalizedNumber number = Normalize(raw);
  if (number.verdict == kNumberAccepted)
    CheckAccepted(number);
  else
    CheckRejected(number, raw);

  size_t start, length;
  std::unique_ptr<char[]> exact(new char[size + 1]);
  memcpy(exact.get(), raw.data(), size);
  if (FindPhoneNumberInText(exact.get(), size, &start, &length)) {
    FUZZ_CHECK(length > 0 && start + length <= size);
    FUZZ_CHECK(Normalize(raw.substr(start, length)).verdict == kNumberAccepted);
  }

  // "(0)" written after the country code is left out, unless one is there
  // already (typed, escaped or full-width).
  size_t country = size && raw[0] == '+' ? raw.find_first_not_of("0123456789", 1) : 0;
  bool plainAscii = true;
  for (unsigned char c : raw) plainAscii = plainAscii && c < 0x80 && c != '(' && c != '%';
  if (country >= 2 && country <= 4 && plainAscii) {
    NormalizedNumber trunk = Normalize(raw.substr(0, country) + " (0)" + raw.substr(country));
    FUZZ_CHECK(Same(number, trunk));
  }

  // Only a text that starts like a number keeps its meaning behind "tel:"
  // and with its bytes escaped; parameter names are never decoded. A typed
  // "@" makes the text a SIP address, which no "tel:" link can be.
  if (size == 0 || !((raw[0] >= '0' && raw[0] <= '9') || raw[0] == '+')) return 0;
  if (raw.find('@') != std::string::npos) return 0;
  NormalizedNumber linked = Normalize("tel:" + raw);
  FUZZ_CHECK(Same(number, linked));
  FUZZ_CHECK(linked.position == (number.position ? number.position + 4 : 0));
  if (raw.find_first_of("%\t\r\n") != std::string::npos) return 0;
  static const char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  size_t parameters = raw.find(';');
  for (size_t i = 0; i < size; i++) {
    unsigned char c = (unsigned char)raw[i];
    if (i >= parameters) {
      escaped += char(c);
    } else {
      escaped += '%';
      escaped += kHex[c >> 4];
      escaped += kHex[c & 15];
    }
  }
  FUZZ_CHECK(Same(number, Normalize(escaped)));
  return 0;
}
