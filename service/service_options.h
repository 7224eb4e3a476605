#pragma once
// The dial service's command line, read into options; pure text work, so that
// every refusal is table-tested. Each refusal is one line naming the option and
// the problem; the program then ends with exit code 2 and starts nothing.
#include <stddef.h>

#include "dialing_rules.h"
#include "http_template.h"

const size_t kMaxHttpHeaders = 32;
const unsigned long kDefaultHttpTimeoutMs = 5000;
const unsigned long kDefaultLogSizeKb = 1024;

struct HttpOptions {
  const char16_t* url;      // the --http template, or null
  UrlTemplate target;       // url parsed
  bool post;                // --http-method POST
  const char16_t* body;     // --http-body, or null
  const char16_t* headers[kMaxHttpHeaders];
  size_t headerCount;
  const char16_t* user;
  const char16_t* password;
  const char16_t* passwordVariable;  // --http-password-env: the variable's name
  unsigned long timeoutMs;
  bool insecure;            // accept any certificate
};

struct ServiceOptions {
  int port;                 // 0: the first free port of the service range
  long count;               // 0: serve until stopped
  bool verbose;             // also log pings and ignored datagrams
  bool help;
  unsigned long logSizeKb;  // the background program's log file limit
  const char16_t* command;  // the --exec template, or null
  HttpOptions http;
  DialingRules rules;       // --country, --area, --outside and the prefixes
};

const size_t kMaxOptionProblem = 512;

// False with the problem as one line of UTF-8 text (no line end) in problem.
// The --exec template is checked later, by its own parser.
bool ParseServiceOptions(int argc, const char16_t* const* argv, ServiceOptions* options, char* problem);
