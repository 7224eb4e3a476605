#pragma once
// What the number sinks are told by the settings: the --exec template or the
// HTTP request to make. Filled in by the option parser (service/settings),
// read by the sinks; the texts point into the options' own storage.
#include <stddef.h>

#include "service/sinks/http_template.h"

const size_t kMaxHttpHeaders = 32;
const size_t kMaxHangUpHeaders = 2;
const unsigned long kDefaultHttpTimeoutMs = 5000;

enum HttpMethod { kHttpGet, kHttpPost, kHttpDelete };

// How the phone's current call is ended: --phone's preset or --http-hang-up,
// on the dial request's credentials, timeout and certificate rule. {call} in
// the URL or body names the call: the handle the phone's status answer gives
// when statusPath is set, else the id the last dial request carried in its
// own {call}.
struct HangUpRequest {
  const char16_t* url;          // null: hanging up is not offered
  UrlTemplate target;           // url parsed
  HttpMethod method;
  const char16_t* body;         // or null
  const char16_t* headers[kMaxHangUpHeaders];  // the preset's; --http-header's follow them
  size_t headerCount;
  const char16_t* statusPath;   // asked with GET on the same server first, or null
};

struct HttpOptions {
  const char16_t* url;      // the --http template, or null
  UrlTemplate target;       // url parsed
  bool post;                // --http-method POST
  const char16_t* body;     // --http-body, or null
  const char16_t* headers[kMaxHttpHeaders];
  size_t headerCount;
  size_t presetHeaderCount; // the first headers are --phone's, the rest --http-header's
  const char16_t* user;
  const char16_t* password;
  const char16_t* passwordVariable;  // --http-password-env: the variable's name
  const char16_t* protectedPassword; // --http-password-protected: base64 of a CryptProtectData blob
  unsigned long timeoutMs;
  bool insecure;            // accept any certificate
  int phoneKind;            // the PhoneKind that --phone expanded; 0 for a hand-written --http
  HangUpRequest hangUp;
};

struct SinkOptions {
  const char16_t* command;  // the --exec template, or null
  HttpOptions http;
};
