#pragma once
// The dial service's command line, read into options; pure text work, so that
// every refusal is table-tested. Each refusal is one line naming the option and
// the problem; the program then ends with exit code 2 and starts nothing.
#include <stddef.h>

#include "service/number/call_guard.h"
#include "service/number/dialing_rules.h"
#include "service/settings/desk_names.h"
#include "service/settings/hotkey_text.h"
#include "service/sinks/phone_presets.h"
#include "service/sinks/sink_options.h"

const unsigned long kDefaultLogSizeKb = 1024;
// The options whose values may hold {user} and {computer}, each filled in.
const size_t kNamedOptionCount = 4;
const size_t kMaxNamedValue = 512;

struct ServiceOptions {
  int port;                 // 0: the first free port of the service range
  long count;               // 0: serve until stopped
  bool verbose;             // also log pings and ignored datagrams
  bool help;
  unsigned long logSizeKb;  // the background program's log file limit
  SinkOptions sink;         // --exec or --http
  DialingRules rules;       // --country, --area, --outside and the prefixes
  PhoneOptions phone;       // --phone and its --phone-... options
  PresetTexts presetTexts;  // what sink.http points into for --phone; so never copied once parsed
  const char16_t* showRequest;  // --show-request NUMBER
  bool showSecrets;             // --show-secrets: --show-request shows the --http-header values
  const char16_t* testCall;     // --test-call NUMBER
  bool hangUp;                  // --hang-up: end the phone's current call now
  bool storePassword;           // --store-password
  const char16_t* settingsFile; // --settings FILE
  bool noSettings;              // --no-settings
  bool confirm;                 // --confirm: the user confirms each number in a window
  bool allowCodes;              // --allow-codes: feature codes without confirmation
  bool anyUser;                 // --any-user: answer every user's programs
  BlockList blocked;            // --block PREFIX, repeated
  unsigned maxCalls;            // --max-calls N/SECONDS (default 5/10); 0: no brake
  unsigned maxCallsSeconds;
  Hotkey dialHotkey;            // --dial-hotkey KEYS: the selection in front is dialled
  Hotkey hangUpHotkey;          // --hang-up-hotkey KEYS: the phone's call ends
  // What phone.address, phone.account, phone.endpoint and sink.http.user
  // point into when they held {user} or {computer}.
  char16_t namedValues[kNamedOptionCount][kMaxNamedValue];
};

const size_t kMaxOptionProblem = 512;

// False with the problem as one line of UTF-8 text (no line end) in problem
// (kMaxOptionProblem bytes). The --exec template is checked later, by its own
// parser. faultIndex (may be null): the argv index of the option at fault, or
// 0 when the problem concerns options together. With --phone the preset is
// expanded into options->presetTexts and options->sink.http. names (may be
// null: none known) fill {user} and {computer} in --phone-address,
// --phone-account, --phone-endpoint and --http-user.
bool ParseServiceOptions(int argc, const char16_t* const* argv, ServiceOptions* options, char* problem,
                         int* faultIndex = nullptr, const DeskNames* names = nullptr);
