#include "service/sinks/http_template.h"

#include "service/number/service_text.h"

static const char16_t kNumberField[] = u"{number}";
static const size_t kNumberFieldLength = sizeof kNumberField / sizeof kNumberField[0] - 1;

static bool StartsWith(const char16_t* text, const char16_t* start) {
  for (; *start; text++, start++)
    if (*text != *start) return false;
  return true;
}

static char16_t LowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; }

static bool StartsWithIgnoringCase(const char16_t* text, const char16_t* start) {
  for (; *start; text++, start++)
    if (LowerAscii(*text) != *start) return false;
  return true;
}

bool HoldsNumberField(const char16_t* text) {
  for (; *text; text++)
    if (StartsWith(text, kNumberField)) return true;
  return false;
}

static bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// RFC 9110 token characters.
static bool IsTokenCharacter(char16_t c) {
  if (c >= u'a' && c <= u'z') return true;
  if (c >= u'A' && c <= u'Z') return true;
  if (IsDigit(c)) return true;
  for (const char16_t* other = u"!#$%&'*+-.^_`|~"; *other; other++)
    if (c == *other) return true;
  return false;
}

UrlError ParseUrlTemplate(const char16_t* text, UrlTemplate* url) {
  *url = UrlTemplate{};
  for (const char16_t* c = text; *c; c++)
    if (*c <= u' ' || *c == 0x7F) return kUrlBadCharacter;
  const char16_t* rest;
  if (StartsWithIgnoringCase(text, u"http://")) {
    rest = text + 7;
    url->port = 80;
  } else if (StartsWithIgnoringCase(text, u"https://")) {
    rest = text + 8;
    url->secure = true;
    url->port = 443;
  } else {
    const char16_t* c = text;
    while (*c && *c != u':' && *c != u'/') c++;
    return c != text && StartsWith(c, u"://") ? kUrlUnknownScheme : kUrlWithoutScheme;
  }
  const char16_t* authorityEnd = rest;
  while (*authorityEnd && *authorityEnd != u'/' && *authorityEnd != u'?' && *authorityEnd != u'#') authorityEnd++;
  for (const char16_t* c = rest; c < authorityEnd; c++) {
    if (*c == u'@') return kUrlWithCredentials;
    if (StartsWith(c, kNumberField)) return kUrlNumberInHost;
  }
  const char16_t* hostStart = rest;
  const char16_t* hostEnd;
  const char16_t* afterHost;
  if (*rest == u'[') {
    hostStart = rest + 1;
    hostEnd = hostStart;
    while (hostEnd < authorityEnd && *hostEnd != u']') hostEnd++;
    if (hostEnd == authorityEnd) return kUrlWithoutHost;
    afterHost = hostEnd + 1;
  } else {
    hostEnd = rest;
    while (hostEnd < authorityEnd && *hostEnd != u':') hostEnd++;
    afterHost = hostEnd;
  }
  size_t hostLength = size_t(hostEnd - hostStart);
  if (hostLength == 0) return kUrlWithoutHost;
  if (hostLength > kMaxHostLength) return kUrlBadCharacter;
  for (size_t i = 0; i < hostLength; i++) url->host[i] = hostStart[i];
  url->host[hostLength] = 0;
  if (afterHost < authorityEnd) {
    if (*afterHost != u':' || afterHost + 1 == authorityEnd) return kUrlBadPort;
    unsigned long port = 0;
    for (const char16_t* c = afterHost + 1; c < authorityEnd; c++) {
      if (!IsDigit(*c)) return kUrlBadPort;
      port = port * 10 + unsigned(*c - u'0');
      if (port > 65535) return kUrlBadPort;
    }
    if (port == 0) return kUrlBadPort;
    url->port = uint16_t(port);
  }
  for (const char16_t* c = authorityEnd; *c; c++)
    if (*c == u'#') return kUrlWithFragment;
  url->path = *authorityEnd ? authorityEnd : u"/";
  return kUrlParsed;
}

const char* DescribeUrlError(UrlError error) {
  switch (error) {
    case kUrlParsed: return "";
    case kUrlWithoutScheme: return "has no http:// or https:// in front";
    case kUrlUnknownScheme: return "has a scheme other than http or https";
    case kUrlWithoutHost: return "names no host";
    case kUrlBadPort: return "has a port that is not a number from 1 to 65535";
    case kUrlWithCredentials: return "holds a user name; give it with --http-user";
    case kUrlBadCharacter: return "holds a blank or a control character (write a blank as %20), or a host too long";
    case kUrlNumberInHost: return "has {number} in the host";
    case kUrlWithFragment: return "has a # fragment, which is never sent";
  }
  return "is wrong";
}

static bool IsUnreserved(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

static const char16_t kPasswordField[] = u"{password}";
static const size_t kPasswordFieldLength = sizeof kPasswordField / sizeof kPasswordField[0] - 1;

bool HoldsPasswordField(const char16_t* text) {
  for (; *text; text++)
    if (StartsWith(text, kPasswordField)) return true;
  return false;
}

namespace {
// Writes as far as size allows and counts on, so that the caller learns the
// whole length either way.
struct FieldWriter {
  char16_t* out;
  size_t size;
  size_t used;
  bool percentEncode;

  void Put(char16_t c) {
    if (used + 1 < size) out[used] = c;
    used++;
  }
  void PutByte(unsigned char byte) {
    static const char kHex[] = "0123456789ABCDEF";
    if (!percentEncode || IsUnreserved(char(byte))) {
      Put(byte);
      return;
    }
    Put(u'%');
    Put(char16_t(kHex[byte >> 4]));
    Put(char16_t(kHex[byte & 15]));
  }
  void PutUtf16(const char16_t* text) {
    if (!percentEncode) {
      for (; *text; text++) Put(*text);
      return;
    }
    for (size_t units; *text; text += units) {
      char bytes[4];
      size_t count = EncodeUtf8CodePoint(ReadUtf16CodePoint(text, &units), bytes);
      for (size_t i = 0; i < count; i++) PutByte((unsigned char)bytes[i]);
    }
  }
  size_t Finish() {
    if (used + 1 > size) return SIZE_MAX;
    out[used] = 0;
    return used;
  }
};
}  // namespace

static const char16_t kCallField[] = u"{call}";
static const size_t kCallFieldLength = sizeof kCallField / sizeof kCallField[0] - 1;

bool HoldsCallField(const char16_t* text) {
  for (; *text; text++)
    if (StartsWith(text, kCallField)) return true;
  return false;
}

static size_t ExpandFields(const char16_t* text, const char* number, const char* call, const char16_t* password,
                           bool withPassword, bool percentEncode, char16_t* out, size_t size) {
  FieldWriter writer = {out, size, 0, percentEncode};
  while (*text) {
    if (call && StartsWith(text, kCallField)) {
      for (const char* c = call; *c; c++) writer.PutByte((unsigned char)*c);
      text += kCallFieldLength;
    } else if (StartsWith(text, kNumberField)) {
      for (const char* c = number; *c; c++) writer.PutByte((unsigned char)*c);
      text += kNumberFieldLength;
    } else if (withPassword && StartsWith(text, kPasswordField)) {
      if (password) {
        writer.PutUtf16(password);
      } else {
        for (const char* c = "***"; *c; c++) writer.Put(char16_t(*c));
      }
      text += kPasswordFieldLength;
    } else {
      writer.Put(*text++);
    }
  }
  return writer.Finish();
}

size_t ExpandNumberField(const char16_t* text, const char* number, bool percentEncode, char16_t* out, size_t size) {
  return ExpandFields(text, number, nullptr, nullptr, false, percentEncode, out, size);
}

size_t ExpandRequestFields(const char16_t* text, const char* number, const char16_t* password, bool percentEncode,
                           char16_t* out, size_t size) {
  return ExpandFields(text, number, nullptr, password, true, percentEncode, out, size);
}

size_t ExpandCallRequestFields(const char16_t* text, const char* number, const char* call, const char16_t* password,
                               bool percentEncode, char16_t* out, size_t size) {
  return ExpandFields(text, number, call, password, true, percentEncode, out, size);
}

HeaderError CheckHeaderOption(const char16_t* text) {
  const char16_t* c = text;
  while (*c && *c != u':') c++;
  if (!*c) return kHeaderWithoutColon;
  if (c == text) return kHeaderBadName;
  for (const char16_t* n = text; n < c; n++)
    if (!IsTokenCharacter(*n)) return kHeaderBadName;
  for (; *c; c++)
    if (*c == u'\r' || *c == u'\n') return kHeaderLineBreak;
  return kHeaderParsed;
}

const char* DescribeHeaderError(HeaderError error) {
  switch (error) {
    case kHeaderParsed: return "";
    case kHeaderWithoutColon: return "has no colon between name and value";
    case kHeaderBadName: return "has an empty name or one with a blank or other character that names cannot hold";
    case kHeaderLineBreak: return "holds a line break";
  }
  return "is wrong";
}
