// The phone presets on any parts: an expansion that succeeds gives dial and
// hang-up URLs that parse and texts within their buffers; the fields go into
// them and the request preview fits any buffer without writing past it, and
// the preview never shows the password. The same bytes as a phone's call
// status answer: a handle found is one the end-call request may carry.
#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_support.h"
#include "service/sinks/call_handle.h"
#include "service/sinks/phone_presets.h"
#include "service/sinks/request_preview.h"

namespace {
const char16_t kPassword[] = u"\x01pw\x02";

void CheckFields(const char16_t* text) {
  for (size_t size = 1; size < 40; size += 13) {
    std::vector<char16_t> out(size + 8, u'\xABCD');
    size_t length = ExpandCallRequestFields(text, "+49*#", "teldial-0f", kPassword, true, out.data(), size);
    for (size_t i = size; i < out.size(); i++)
      if (out[i] != u'\xABCD') abort();
    if (length != SIZE_MAX && (length >= size || out[length] != 0)) abort();
  }
}

void CheckPreview(const HttpOptions& http) {
  static char full[16384];
  size_t length = FormatHttpRequestPreview(http, "+49*#", true, full, sizeof full);
  if (length == SIZE_MAX || strlen(full) != length || memchr(full, '\x01', length)) abort();
  for (size_t size : {size_t(0), size_t(1), length / 2 + 1, length, length + 1}) {
    std::vector<char> out(size + 8, '\x5A');
    size_t cut = FormatHttpRequestPreview(http, "+49*#", true, out.data(), size);
    for (size_t i = size; i < out.size(); i++)
      if (out[i] != '\x5A') abort();
    if ((cut == SIZE_MAX) != (size <= length)) abort();
    if (size && strlen(out.data()) >= size) abort();
  }
}

void CheckCallHandle(const uint8_t* data, size_t size) {
  // A copy of exactly size bytes, so that a read past them is caught.
  std::vector<char> answer(data, data + size);
  char handle[kMaxCallHandle + 2];
  memset(handle, 0x5A, sizeof handle);
  if (ReadCallHandle(answer.data(), answer.size(), handle) != kCallHandleFound) return;
  size_t length = strnlen(handle, sizeof handle);
  if (length == 0 || length > kMaxCallHandle || handle[kMaxCallHandle + 1] != 0x5A) abort();
  for (size_t i = 0; i < length; i++)
    if (!isalnum((unsigned char)handle[i]) && !strchr("-._~", handle[i])) abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckCallHandle(data, size);
  if (size < 2) return 0;
  std::u16string units = UnitsFromBytes(data + 2, size - 2);
  // Zero units split the parts: address, line, account, endpoint, context, user.
  std::vector<std::u16string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= units.size() && parts.size() < 6; i++) {
    if (i == units.size() || units[i] == 0) {
      parts.push_back(units.substr(start, i - start));
      start = i + 1;
    }
  }
  parts.resize(6);
  unsigned given = data[1];
  auto part = [&](size_t i) { return given & (1u << i) ? parts[i].c_str() : nullptr; };
  PhoneOptions phone = {PhoneKind(data[0] % 8), part(0), (given & 0x80) != 0, part(1), part(2), part(3), part(4)};
  HttpOptions http = {};
  http.user = part(5);
  http.password = (given & 0x40) ? kPassword : nullptr;
  http.headers[0] = u"X-Given: 1";
  http.headerCount = 1;
  static PresetTexts texts;
  char problem[200];
  memset(problem, 0x5A, sizeof problem);
  if (!ExpandPhonePreset(phone, &http, &texts, problem, sizeof problem - 8)) {
    if (strnlen(problem, sizeof problem - 8) == sizeof problem - 8 || problem[sizeof problem - 1] != 0x5A) abort();
    return 0;
  }
  UrlTemplate target;
  if (http.url != texts.url || ParseUrlTemplate(http.url, &target) != kUrlParsed) abort();
  if (http.headerCount < 1 || http.headerCount > 1 + kMaxPresetHeaders) abort();
  CheckFields(http.url);
  if (http.body) CheckFields(http.body);
  CheckPreview(http);
  if (http.hangUp.url) {
    if (http.hangUp.url != texts.hangUpUrl || ParseUrlTemplate(http.hangUp.url, &target) != kUrlParsed) abort();
    CheckFields(http.hangUp.url);
    if (http.hangUp.body) CheckFields(http.hangUp.body);
  }
  PresetFailureHint(phone.kind, unsigned(units.size()));
  return 0;
}
