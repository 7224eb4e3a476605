#include "service/sinks/request_preview.h"

#include <stdint.h>
#include <stdio.h>

#include "service/number/service_text.h"

namespace {
// Writes as far as size allows and counts on; Finish tells whether it fitted.
struct PreviewWriter {
  char* out;
  size_t size;
  size_t used;

  void Put(char c) {
    if (used + 1 < size) out[used] = c;
    used++;
  }
  void PutAscii(const char* text) {
    for (; *text; text++) Put(*text);
  }
  // Control characters as "?", so that every item stays on its line.
  void PutText(const char16_t* text) {
    for (size_t units; *text; text += units) {
      unsigned code = ReadUtf16CodePoint(text, &units);
      char bytes[4];
      size_t count = EncodeUtf8CodePoint(code < 0x20 || code == 0x7F ? '?' : code, bytes);
      for (size_t i = 0; i < count; i++) Put(bytes[i]);
    }
  }
  // text with the number in and every password as "***".
  void PutExpanded(const char16_t* text, const char* dialled, bool percentEncode) {
    char16_t expanded[4096];
    if (ExpandRequestFields(text, dialled, nullptr, percentEncode, expanded, sizeof expanded / sizeof expanded[0]) ==
        SIZE_MAX) {
      PutAscii("(longer than 4096 characters)");
      return;
    }
    PutText(expanded);
  }
  size_t Finish() {
    if (size) out[used < size ? used : size - 1] = 0;
    return used + 1 > size ? SIZE_MAX : used;
  }
};
}  // namespace

static bool HoldsColon(const char16_t* text) {
  for (; *text; text++)
    if (*text == u':') return true;
  return false;
}

static void PutPasswordSource(PreviewWriter* writer, const HttpOptions& http) {
  if (http.password) {
    writer->PutAscii("*** (from --http-password)");
  } else if (http.passwordVariable) {
    writer->PutAscii("*** (from the environment variable ");
    writer->PutText(http.passwordVariable);
    writer->PutAscii(")");
  } else if (http.protectedPassword) {
    writer->PutAscii("*** (stored protected)");
  } else {
    writer->PutAscii("none");
  }
}

// "Name: ***" for "Name: value"; a header without a colon is refused before.
static void PutHiddenHeader(PreviewWriter* writer, const char16_t* header) {
  char16_t name[256];
  size_t length = 0;
  while (header[length] && header[length] != u':' && length + 1 < sizeof name / sizeof name[0]) {
    name[length] = header[length];
    length++;
  }
  name[length] = 0;
  writer->PutText(name);
  writer->PutAscii(": ***");
}

size_t FormatHttpRequestPreview(const HttpOptions& http, const char* dialled, bool showSecrets, char* out,
                                size_t size) {
  PreviewWriter writer = {out, size, 0};
  if (!http.url) {
    writer.PutAscii("no HTTP request: neither --http nor --phone is set\n");
    return writer.Finish();
  }
  writer.PutAscii(http.post ? "POST " : "GET ");
  writer.PutAscii(http.target.secure ? "https://" : "http://");
  bool ipv6 = HoldsColon(http.target.host);
  if (ipv6) writer.Put('[');
  writer.PutText(http.target.host);
  if (ipv6) writer.Put(']');
  char port[8];
  snprintf(port, sizeof port, ":%u", unsigned(http.target.port));
  writer.PutAscii(port);
  writer.PutExpanded(http.target.path, dialled, true);
  writer.Put('\n');
  for (size_t i = 0; i < http.headerCount; i++) {
    if (showSecrets || i < http.presetHeaderCount)
      writer.PutExpanded(http.headers[i], dialled, false);
    else
      PutHiddenHeader(&writer, http.headers[i]);
    writer.Put('\n');
  }
  bool passwordInRequest = HoldsPasswordField(http.url) || (http.body && HoldsPasswordField(http.body));
  writer.PutAscii("credentials: ");
  if (passwordInRequest) {
    writer.PutAscii("the password in the request, ");
    PutPasswordSource(&writer, http);
    if (http.user) writer.PutAscii("; ");
  }
  if (http.user) {
    writer.PutAscii("user ");
    writer.PutText(http.user);
    writer.PutAscii(", password ");
    PutPasswordSource(&writer, http);
    writer.PutAscii(", Basic or Digest as the server asks");
  }
  if (!passwordInRequest && !http.user) writer.PutAscii("none");
  writer.Put('\n');
  if (http.insecure) writer.PutAscii("certificate: any is accepted (--http-insecure)\n");
  if (http.post) {
    writer.Put('\n');
    if (http.body) writer.PutExpanded(http.body, dialled, false);
    writer.Put('\n');
  }
  return writer.Finish();
}
