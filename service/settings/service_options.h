#pragma once
// The dial service's command line, read into options; pure text work, so that
// every refusal is table-tested. Each refusal is one line naming the option and
// the problem; the program then ends with exit code 2 and starts nothing.
#include <stddef.h>

#include "service/number/dialing_rules.h"
#include "service/sinks/sink_options.h"

const unsigned long kDefaultLogSizeKb = 1024;

struct ServiceOptions {
  int port;                 // 0: the first free port of the service range
  long count;               // 0: serve until stopped
  bool verbose;             // also log pings and ignored datagrams
  bool help;
  unsigned long logSizeKb;  // the background program's log file limit
  SinkOptions sink;         // --exec or --http
  DialingRules rules;       // --country, --area, --outside and the prefixes
};

const size_t kMaxOptionProblem = 512;

// False with the problem as one line of UTF-8 text (no line end) in problem.
// The --exec template is checked later, by its own parser.
bool ParseServiceOptions(int argc, const char16_t* const* argv, ServiceOptions* options, char* problem);
