#pragma once
// The text side of --http: the URL template split into what a request needs, the
// number put into a template, and the check of one --http-header. Pure UTF-16
// text work; sending is http_sink_win.cpp's business.
//
// A URL template is "http://" or "https://" (any case), a host (a name, an IPv4
// address or an IPv6 address in brackets), an optional ":port" and the rest,
// the path and query, "/" when empty. It holds no blank or control character,
// no user name (that is --http-user's job), no fragment, and "{number}" only in
// the path and query.
#include <stddef.h>
#include <stdint.h>

const size_t kMaxHostLength = 255;

struct UrlTemplate {
  bool secure;                          // https
  uint16_t port;                        // 80 or 443 unless given
  char16_t host[kMaxHostLength + 1];    // without brackets for IPv6
  const char16_t* path;                 // points into the parsed text
};

enum UrlError {
  kUrlParsed,
  kUrlWithoutScheme,
  kUrlUnknownScheme,
  kUrlWithoutHost,
  kUrlBadPort,
  kUrlWithCredentials,
  kUrlBadCharacter,
  kUrlNumberInHost,
  kUrlWithFragment,
};

// text must outlive url: url->path points into it.
UrlError ParseUrlTemplate(const char16_t* text, UrlTemplate* url);
const char* DescribeUrlError(UrlError error);

bool HoldsNumberField(const char16_t* text);

// text with every "{number}" replaced by number (ASCII), percent-encoded for a
// URL (everything but letters, digits and "-._~" as %XX, so "+" is "%2B") or
// as it is. Writes the result and a 0 into out; returns its length, or
// SIZE_MAX when it and its 0 would not fit size code units.
size_t ExpandNumberField(const char16_t* text, const char* number, bool percentEncode, char16_t* out, size_t size);

// Whether text holds "{password}": a preset that carries the password in its
// URL (so that URL is never logged whole).
bool HoldsPasswordField(const char16_t* text);

// As ExpandNumberField, and every "{password}" replaced by password (UTF-16;
// percent-encoded as its UTF-8 bytes when percentEncode). A null password
// writes "***" as it is, for showing the request without the secret.
size_t ExpandRequestFields(const char16_t* text, const char* number, const char16_t* password, bool percentEncode,
                           char16_t* out, size_t size);

// "{call}" names one call: in a dial request the id it is given, in a
// hang-up request the call to end.
bool HoldsCallField(const char16_t* text);

// As ExpandRequestFields, and every "{call}" replaced by call (ASCII letters,
// digits and "-._~" only, so never encoded); a null call leaves it as it is.
size_t ExpandCallRequestFields(const char16_t* text, const char* number, const char* call, const char16_t* password,
                               bool percentEncode, char16_t* out, size_t size);

enum HeaderError {
  kHeaderParsed,
  kHeaderWithoutColon,
  kHeaderBadName,
  kHeaderLineBreak,
};

// "Name: value": a name of token characters right before the colon, and a
// value without CR or LF (blanks after the colon are dropped by the receiver).
HeaderError CheckHeaderOption(const char16_t* text);
const char* DescribeHeaderError(HeaderError error);
