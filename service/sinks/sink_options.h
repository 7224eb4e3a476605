#pragma once
// What the number sinks are told by the settings: the --exec template or the
// HTTP request to make. Filled in by the option parser (service/settings),
// read by the sinks; the texts point into the options' own storage.
#include <stddef.h>

#include "service/sinks/http_template.h"

const size_t kMaxHttpHeaders = 32;
const unsigned long kDefaultHttpTimeoutMs = 5000;

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
};

struct SinkOptions {
  const char16_t* command;  // the --exec template, or null
  HttpOptions http;
};
