#include "service/settings/service_options.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "service/number/service_text.h"

static bool Equal(const char16_t* a, const char16_t* b) {
  for (; *a && *a == *b; a++, b++) {
  }
  return *a == *b;
}

// The option text as UTF-8 for the message, cut short when long.
static void Utf8Text(const char16_t* text, char* out, size_t size) {
  size_t used = 0;
  for (size_t units; *text; text += units) {
    unsigned code = ReadUtf16CodePoint(text, &units);
    char bytes[4];
    size_t count = EncodeUtf8CodePoint(code < 0x20 || code == 0x7F ? '?' : code, bytes);
    if (used + count + 4 > size) {
      memcpy(out + used, "...", 4);
      return;
    }
    memcpy(out + used, bytes, count);
    used += count;
  }
  out[used] = 0;
}


static bool ParseDecimal(const char16_t* text, unsigned long low, unsigned long high, unsigned long* value) {
  unsigned long parsed = 0;
  if (!*text) return false;
  for (; *text; text++) {
    if (*text < u'0' || *text > u'9') return false;
    parsed = parsed * 10 + unsigned(*text - u'0');
    if (parsed > high) return false;
  }
  if (parsed < low) return false;
  *value = parsed;
  return true;
}

const unsigned kMaxCallsSeconds = 3600;

// --max-calls: "0" (no brake) or "N/SECONDS".
static bool ParseMaxCalls(const char16_t* text, unsigned* calls, unsigned* seconds) {
  if (Equal(text, u"0")) {
    *calls = *seconds = 0;
    return true;
  }
  char16_t count[8];
  size_t length = 0;
  for (; text[length] && text[length] != u'/' && length + 1 < sizeof count / sizeof count[0]; length++)
    count[length] = text[length];
  count[length] = 0;
  unsigned long parsedCalls, parsedSeconds;
  if (text[length] != u'/' || !ParseDecimal(count, 1, kMaxCallsLimit, &parsedCalls) ||
      !ParseDecimal(text + length + 1, 1, kMaxCallsSeconds, &parsedSeconds))
    return false;
  *calls = unsigned(parsedCalls);
  *seconds = unsigned(parsedSeconds);
  return true;
}

// --block takes one prefix or several separated by commas or blanks, the
// way an installer's property gives a list on one settings line.
static bool AddBlockPrefixes(BlockList* list, const char16_t* value, char* problem) {
  const char16_t* at = value;
  bool added = false;
  for (;;) {
    while (*at == u',' || *at == u' ') at++;
    if (!*at) return added || AddBlockPrefix(list, u"", problem, kMaxOptionProblem);
    size_t length = 0;
    while (at[length] && at[length] != u',' && at[length] != u' ') length++;
    // One character too many is enough for the refusal of a prefix too long.
    char16_t prefix[kMaxBlockPrefixLength + 2];
    size_t kept = length < kMaxBlockPrefixLength + 1 ? length : kMaxBlockPrefixLength + 1;
    memcpy(prefix, at, kept * sizeof(char16_t));
    prefix[kept] = 0;
    if (!AddBlockPrefix(list, prefix, problem, kMaxOptionProblem)) return false;
    added = true;
    at += length;
  }
}

// The options that take a value with its own check below.
static const char16_t* const kCheckedValueOptions[] = {
    u"--port", u"--count", u"--http", u"--http-method", u"--http-header", u"--http-password-env",
    u"--http-timeout", u"--log-size", u"--phone", u"--block", u"--max-calls", u"--http-hang-up", u"--dial-hotkey",
    u"--hang-up-hotkey",
};

static bool IsCheckedValueOption(const char16_t* option) {
  for (const char16_t* known : kCheckedValueOptions)
    if (Equal(option, known)) return true;
  return false;
}

// A single-valued option given twice is refused rather than one silently winning.
static bool SetOnce(const char16_t** slot, const char16_t* value, const char* name, char* problem) {
  if (*slot) return RefuseWith(problem, kMaxOptionProblem, "%s is given twice", name);
  *slot = value;
  return true;
}

static bool Fault(int* faultIndex, int index) {
  if (faultIndex) *faultIndex = index;
  return false;
}

static bool HasPassword(const HttpOptions& http) {
  return http.password || http.passwordVariable || http.protectedPassword;
}

// userIndex, timeoutIndex: where --http-user and --http-timeout were given (0:
// not), named as the fault when they alone are wrong, so that a settings line
// that sets them can be.
static bool CheckHttpOptions(const HttpOptions& http, bool methodGiven, int userIndex, int timeoutIndex,
                             char* problem, int* faultIndex) {
  if (!http.url) {
    if (methodGiven || http.body || http.headerCount || http.user || HasPassword(http) || timeoutIndex ||
        http.insecure || http.hangUp.url) {
      if (faultIndex) *faultIndex = userIndex && (!timeoutIndex || userIndex < timeoutIndex) ? userIndex : timeoutIndex;
      return RefuseWith(problem, kMaxOptionProblem, "the --http-... options need --http URL");
    }
    return true;
  }
  if (http.body && !http.post) return RefuseWith(problem, kMaxOptionProblem, "--http-body needs --http-method POST");
  if (!HoldsNumberField(http.url) && !(http.body && HoldsNumberField(http.body)))
    return RefuseWith(problem, kMaxOptionProblem, "neither the --http URL nor the --http-body holds {number}");
  if (http.password && http.passwordVariable)
    return RefuseWith(problem, kMaxOptionProblem, "--http-password and --http-password-env exclude each other");
  if (http.protectedPassword && (http.password || http.passwordVariable))
    return RefuseWith(problem, kMaxOptionProblem, "--http-password-protected excludes --http-password and --http-password-env");
  bool passwordInRequest = HoldsPasswordField(http.url) || (http.body && HoldsPasswordField(http.body)) ||
                           (http.hangUp.url && HoldsPasswordField(http.hangUp.url));
  if (passwordInRequest && !HasPassword(http))
    return RefuseWith(problem, kMaxOptionProblem, "{password} in the request needs --http-password-env or a stored password");
  if (HasPassword(http) && !http.user && !passwordInRequest) return RefuseWith(problem, kMaxOptionProblem, "a password needs --http-user");
  if (http.user && !HasPassword(http))
    return Fault(faultIndex, userIndex) || RefuseWith(problem, kMaxOptionProblem, "--http-user needs --http-password or --http-password-env");
  if (http.user)
    for (const char16_t* c = http.user; *c; c++)
      if (*c == u':' || *c < 0x20) return RefuseWith(problem, kMaxOptionProblem, "--http-user may hold neither a colon nor a control character");
  if (http.hangUp.url && HoldsCallField(http.hangUp.url) && !HoldsCallField(http.url) &&
      !(http.body && HoldsCallField(http.body)))
    return RefuseWith(problem, kMaxOptionProblem,
                      "{call} in the --http-hang-up URL needs {call} in the --http URL or body, which gives each "
                      "call its id");
  if (!http.target.secure && !(http.hangUp.url && http.hangUp.target.secure) && http.insecure)
    return RefuseWith(problem, kMaxOptionProblem, "--http-insecure concerns only https:// URLs");
  return true;
}

namespace {
// The options of one text value each, checked only for being given once here.
struct TextOption {
  const char16_t* name;
  const char16_t** slot;
  int index;  // where it was given, 0 when not
};
struct FlagOption {
  const char16_t* name;
  bool* slot;
  int index;
};
enum TextOptionIndex {
  kTextExec, kTextHttpBody, kTextHttpUser, kTextHttpPassword, kTextHttpPasswordProtected, kTextPhoneAddress,
  kTextPhoneLine, kTextPhoneAccount, kTextPhoneEndpoint, kTextPhoneContext, kTextShowRequest, kTextTestCall,
  kTextSettings, kTextOptionCount
};
}  // namespace

static const char kPhoneKinds[] = "yealink, snom, grandstream, poly, fritzbox, asterisk, baresip";

// --phone's own checks, before the preset is expanded; false with *fault set.
static bool CheckPhoneOptions(const ServiceOptions& options, const TextOption* texts, const FlagOption& https,
                              int phoneIndex, int methodIndex, char* problem, int* fault) {
  const PhoneKind kind = options.phone.kind;
  struct PhoneFieldOption {
    TextOptionIndex text;
    unsigned field;
  };
  const PhoneFieldOption fields[] = {{kTextPhoneAddress, 0},
                                     {kTextPhoneLine, kPhoneFieldLine},
                                     {kTextPhoneAccount, kPhoneFieldAccount},
                                     {kTextPhoneEndpoint, kPhoneFieldEndpoint},
                                     {kTextPhoneContext, kPhoneFieldContext}};
  char name[40];
  if (!phoneIndex) {
    int first = https.index;
    for (const PhoneFieldOption& field : fields)
      if (texts[field.text].index && (!first || texts[field.text].index < first)) first = texts[field.text].index;
    *fault = first;
    return first ? RefuseWith(problem, kMaxOptionProblem, "the --phone-... options need --phone KIND") : true;
  }
  for (const PhoneFieldOption& field : fields) {
    const TextOption& text = texts[field.text];
    if (text.index && field.field && !(PhoneFieldsOfKind(kind) & field.field)) {
      *fault = text.index;
      Utf8Text(text.name, name, sizeof name);
      return RefuseWith(problem, kMaxOptionProblem, "--phone %s does not use %s", PhoneKindName(kind), name);
    }
  }
  if (texts[kTextPhoneLine].index) {
    unsigned long line;
    char valueText[200];
    Utf8Text(options.phone.line, valueText, sizeof valueText);
    *fault = texts[kTextPhoneLine].index;
    if (!ParseDecimal(options.phone.line, 1, kMaxPhoneLine, &line))
      return RefuseWith(problem, kMaxOptionProblem, "--phone-line %s is not a number from 1 to %u", valueText, kMaxPhoneLine);
  }
  *fault = 0;
  if (options.sink.command) return RefuseWith(problem, kMaxOptionProblem, "--phone and --exec exclude each other");
  if (options.sink.http.url) return RefuseWith(problem, kMaxOptionProblem, "--phone and --http exclude each other");
  if (options.sink.http.hangUp.url)
    return RefuseWith(problem, kMaxOptionProblem, "--phone KIND knows how to hang up: --http-hang-up is only for --http");
  int requestIndex = methodIndex ? methodIndex : texts[kTextHttpBody].index;
  if (requestIndex) {
    *fault = requestIndex;
    return RefuseWith(problem, kMaxOptionProblem, "--phone makes its own request: --http-method and --http-body are only for --http");
  }
  return true;
}

// {user} and {computer} filled in where the options may hold them; false with
// *fault the option whose value cannot be filled.
static bool FillNamedValues(TextOption* texts, const DeskNames* names, ServiceOptions* options, char* problem,
                            int* fault) {
  static const TextOptionIndex kNamed[kNamedOptionCount] = {kTextPhoneAddress, kTextPhoneAccount, kTextPhoneEndpoint,
                                                            kTextHttpUser};
  static const DeskNames kNoNames = {};
  for (size_t i = 0; i < kNamedOptionCount; i++) {
    TextOption& text = texts[kNamed[i]];
    if (!text.index || !HoldsDeskName(*text.slot)) continue;
    const char* field = "";
    DeskNameError error = FillDeskNames(*text.slot, names ? *names : kNoNames, kNamed[i] == kTextPhoneAddress,
                                        options->namedValues[i], kMaxNamedValue, &field);
    if (error == kDeskNamesFilled) {
      *text.slot = options->namedValues[i];
      continue;
    }
    *fault = text.index;
    char name[40], value[200], filled[100];
    Utf8Text(text.name, name, sizeof name);
    Utf8Text(*text.slot, value, sizeof value);
    if (error == kDeskNamesTooLong)
      return RefuseWith(problem, kMaxOptionProblem, "%s %s is too long with {user} and {computer} filled in", name,
                        value);
    bool user = field[0] && field[1] == 'u';
    Utf8Text(!names ? u"" : user ? names->user : names->computer, filled, sizeof filled);
    const char* whose = user ? "the user's name" : "the computer's name";
    if (error == kDeskNameUnknown)
      return RefuseWith(problem, kMaxOptionProblem, "%s %s: %s is not known here, so %s cannot be filled in", name,
                        value, whose, field);
    return RefuseWith(problem, kMaxOptionProblem,
                      "%s %s: %s \"%s\" cannot be part of a host name (only letters A to Z, digits and hyphens)",
                      name, value, whose, filled);
  }
  return true;
}

// The argv index of the preset's part at fault (phone_presets.h), else of --phone.
static int PresetFaultIndex(unsigned field, const TextOption* texts, const FlagOption& https, int phoneIndex) {
  struct FieldOption {
    unsigned field;
    int index;
  };
  const FieldOption options[] = {{kPhoneFieldAddress, texts[kTextPhoneAddress].index},
                                 {kPhoneFieldLine, texts[kTextPhoneLine].index},
                                 {kPhoneFieldAccount, texts[kTextPhoneAccount].index},
                                 {kPhoneFieldEndpoint, texts[kTextPhoneEndpoint].index},
                                 {kPhoneFieldContext, texts[kTextPhoneContext].index},
                                 {kPhoneFieldHttps, https.index}};
  for (const FieldOption& option : options)
    if (option.field == field && option.index) return option.index;
  return phoneIndex;
}

bool ParseServiceOptions(int argc, const char16_t* const* argv, ServiceOptions* options, char* problem,
                         int* faultIndex, const DeskNames* names) {
  *options = ServiceOptions{};
  if (faultIndex) *faultIndex = 0;
  InitDialingRules(&options->rules);
  HttpOptions& http = options->sink.http;
  PhoneOptions& phone = options->phone;
  http.timeoutMs = kDefaultHttpTimeoutMs;
  options->logSizeKb = kDefaultLogSizeKb;
  TextOption texts[kTextOptionCount] = {
      {u"--exec", &options->sink.command, 0},
      {u"--http-body", &http.body, 0},
      {u"--http-user", &http.user, 0},
      {u"--http-password", &http.password, 0},
      {u"--http-password-protected", &http.protectedPassword, 0},
      {u"--phone-address", &phone.address, 0},
      {u"--phone-line", &phone.line, 0},
      {u"--phone-account", &phone.account, 0},
      {u"--phone-endpoint", &phone.endpoint, 0},
      {u"--phone-context", &phone.context, 0},
      {u"--show-request", &options->showRequest, 0},
      {u"--test-call", &options->testCall, 0},
      {u"--settings", &options->settingsFile, 0},
  };
  options->maxCalls = kDefaultMaxCalls;
  options->maxCallsSeconds = kDefaultMaxCallsSeconds;
  options->dialHotkey = kDefaultDialHotkey;
  options->hangUpHotkey = kDefaultHangUpHotkey;
  enum { kFlagPhoneHttps, kFlagCount = 11 };
  FlagOption flags[kFlagCount] = {
      {u"--phone-https", &phone.https, 0},   {u"--verbose", &options->verbose, 0},
      {u"--help", &options->help, 0},        {u"--http-insecure", &http.insecure, 0},
      {u"--store-password", &options->storePassword, 0}, {u"--no-settings", &options->noSettings, 0},
      {u"--confirm", &options->confirm, 0},  {u"--allow-codes", &options->allowCodes, 0},
      {u"--any-user", &options->anyUser, 0},  {u"--show-secrets", &options->showSecrets, 0},
      {u"--hang-up", &options->hangUp, 0},
  };
  int timeoutIndex = 0;
  bool portGiven = false, countGiven = false, logSizeGiven = false, maxCallsGiven = false;
  bool dialHotkeyGiven = false, hangUpHotkeyGiven = false;
  int methodIndex = 0, phoneIndex = 0;
  char text[200];
  problem[0] = 0;
  for (int i = 1; i < argc; i++) {
    const char16_t* option = argv[i];
    FlagOption* flag = nullptr;
    for (FlagOption& candidate : flags)
      if (Equal(option, candidate.name)) flag = &candidate;
    if (flag) {
      *flag->slot = true;
      flag->index = i;
      continue;
    }
    Utf8Text(option, text, sizeof text);
    DialingRule rule = DialingRuleOfOption(option);
    if (rule != kRuleCount) {
      if (i + 1 >= argc) return Fault(faultIndex, i) || RefuseWith(problem, kMaxOptionProblem, "%s needs a value", text);
      if (!SetDialingRule(&options->rules, rule, argv[i + 1], problem, kMaxOptionProblem)) return Fault(faultIndex, i);
      i++;
      continue;
    }
    TextOption* textOption = nullptr;
    for (TextOption& candidate : texts)
      if (Equal(option, candidate.name)) textOption = &candidate;
    if (!textOption && !IsCheckedValueOption(option))
      return Fault(faultIndex, i) || RefuseWith(problem, kMaxOptionProblem, "unknown option %s (--help lists them)", text);
    if (i + 1 >= argc) return Fault(faultIndex, i) || RefuseWith(problem, kMaxOptionProblem, "%s needs a value", text);
    const int optionIndex = i;
    const char16_t* value = argv[++i];
    char valueText[200];
    Utf8Text(value, valueText, sizeof valueText);
    unsigned long number = 0;
    bool accepted = true;
    if (textOption) {
      accepted = SetOnce(textOption->slot, value, text, problem);
      textOption->index = optionIndex;
    } else if (Equal(option, u"--port")) {
      accepted = !portGiven && ParseDecimal(value, 1, 65535, &number);
      if (portGiven)
        RefuseWith(problem, kMaxOptionProblem, "--port is given twice");
      else if (!accepted)
        RefuseWith(problem, kMaxOptionProblem, "--port %s is not a number from 1 to 65535", valueText);
      options->port = int(number);
      portGiven = true;
    } else if (Equal(option, u"--count")) {
      accepted = !countGiven && ParseDecimal(value, 1, 0x7FFFFFFF, &number);
      if (countGiven)
        RefuseWith(problem, kMaxOptionProblem, "--count is given twice");
      else if (!accepted)
        RefuseWith(problem, kMaxOptionProblem, "--count %s is not a number from 1 to 2147483647", valueText);
      options->count = long(number);
      countGiven = true;
    } else if (Equal(option, u"--log-size")) {
      accepted = !logSizeGiven && ParseDecimal(value, 1, 1048576, &number);
      if (logSizeGiven)
        RefuseWith(problem, kMaxOptionProblem, "--log-size is given twice");
      else if (!accepted)
        RefuseWith(problem, kMaxOptionProblem, "--log-size %s is not a number of kilobytes from 1 to 1048576", valueText);
      options->logSizeKb = number;
      logSizeGiven = true;
    } else if (Equal(option, u"--http")) {
      accepted = SetOnce(&http.url, value, "--http", problem);
      UrlError error = accepted ? ParseUrlTemplate(value, &http.target) : kUrlParsed;
      if (error != kUrlParsed) accepted = RefuseWith(problem, kMaxOptionProblem, "the --http URL %s %s", valueText, DescribeUrlError(error));
    } else if (Equal(option, u"--http-hang-up")) {
      accepted = SetOnce(&http.hangUp.url, value, "--http-hang-up", problem);
      UrlError error = accepted ? ParseUrlTemplate(value, &http.hangUp.target) : kUrlParsed;
      if (error != kUrlParsed)
        accepted = RefuseWith(problem, kMaxOptionProblem, "the --http-hang-up URL %s %s", valueText,
                              DescribeUrlError(error));
      else if (accepted && HoldsNumberField(value))
        accepted = RefuseWith(problem, kMaxOptionProblem,
                              "the --http-hang-up URL %s holds {number}, but a hang-up ends the call whatever its "
                              "number (use {call})",
                              valueText);
      http.hangUp.method = kHttpGet;
    } else if (Equal(option, u"--http-method")) {
      if (methodIndex)
        accepted = RefuseWith(problem, kMaxOptionProblem, "--http-method is given twice");
      else if (Equal(value, u"GET") || Equal(value, u"POST"))
        http.post = Equal(value, u"POST");
      else
        accepted = RefuseWith(problem, kMaxOptionProblem, "--http-method %s is neither GET nor POST", valueText);
      methodIndex = optionIndex;
    } else if (Equal(option, u"--http-header")) {
      HeaderError error = CheckHeaderOption(value);
      if (error != kHeaderParsed)
        accepted = RefuseWith(problem, kMaxOptionProblem, "the --http-header %s %s", valueText, DescribeHeaderError(error));
      else if (http.headerCount == kMaxHttpHeaders)
        accepted = RefuseWith(problem, kMaxOptionProblem, "more than %u --http-header options", unsigned(kMaxHttpHeaders));
      else
        http.headers[http.headerCount++] = value;
    } else if (Equal(option, u"--http-password-env")) {
      accepted = SetOnce(&http.passwordVariable, value, "--http-password-env", problem);
      if (accepted && (!*value || HoldsNumberField(value)))
        accepted = RefuseWith(problem, kMaxOptionProblem, "--http-password-env needs a variable name");
    } else if (Equal(option, u"--http-timeout")) {
      accepted = !timeoutIndex && ParseDecimal(value, 1, 600000, &number);
      if (timeoutIndex)
        RefuseWith(problem, kMaxOptionProblem, "--http-timeout is given twice");
      else if (!accepted)
        RefuseWith(problem, kMaxOptionProblem, "--http-timeout %s is not a number of milliseconds from 1 to 600000", valueText);
      http.timeoutMs = number;
      timeoutIndex = optionIndex;
    } else if (Equal(option, u"--phone")) {
      if (phoneIndex)
        accepted = RefuseWith(problem, kMaxOptionProblem, "--phone is given twice");
      else if ((phone.kind = PhoneKindOfName(value)) == kPhoneNone)
        accepted = RefuseWith(problem, kMaxOptionProblem, "--phone %s is none of %s", valueText, kPhoneKinds);
      phoneIndex = optionIndex;
    } else if (Equal(option, u"--block")) {
      accepted = AddBlockPrefixes(&options->blocked, value, problem);
    } else if (Equal(option, u"--max-calls")) {
      if (maxCallsGiven)
        accepted = RefuseWith(problem, kMaxOptionProblem, "--max-calls is given twice");
      else if (!ParseMaxCalls(value, &options->maxCalls, &options->maxCallsSeconds))
        accepted = RefuseWith(problem, kMaxOptionProblem,
                              "--max-calls %s is neither 0 nor N/SECONDS (N from 1 to %u, SECONDS from 1 to %u)",
                              valueText, kMaxCallsLimit, kMaxCallsSeconds);
      maxCallsGiven = true;
    } else if (Equal(option, u"--dial-hotkey") || Equal(option, u"--hang-up-hotkey")) {
      bool dial = Equal(option, u"--dial-hotkey");
      bool& given = dial ? dialHotkeyGiven : hangUpHotkeyGiven;
      HotkeyError error = given ? kHotkeyParsed : ParseHotkey(value, dial ? &options->dialHotkey : &options->hangUpHotkey);
      if (given)
        accepted = RefuseWith(problem, kMaxOptionProblem, "%s is given twice", text);
      else if (error != kHotkeyParsed)
        accepted = RefuseWith(problem, kMaxOptionProblem, "%s %s %s", text, valueText, DescribeHotkeyError(error));
      given = true;
    }
    if (!accepted) return Fault(faultIndex, optionIndex);
  }
  int fault = 0;
  if (!FillNamedValues(texts, names, options, problem, &fault)) return Fault(faultIndex, fault);
  if (!CheckPhoneOptions(*options, texts, flags[kFlagPhoneHttps], phoneIndex, methodIndex, problem, &fault))
    return Fault(faultIndex, fault);
  if (options->sink.command && http.url) return RefuseWith(problem, kMaxOptionProblem, "--exec and --http exclude each other");
  if (texts[kTextSettings].index && options->noSettings)
    return RefuseWith(problem, kMaxOptionProblem, "--settings and --no-settings exclude each other");
  if (options->showRequest && options->testCall)
    return RefuseWith(problem, kMaxOptionProblem, "--show-request and --test-call exclude each other");
  if (options->hangUp && (options->showRequest || options->testCall))
    return RefuseWith(problem, kMaxOptionProblem, "--hang-up excludes --show-request and --test-call");
  if (options->showSecrets && !options->showRequest)
    return RefuseWith(problem, kMaxOptionProblem, "--show-secrets concerns only --show-request");
  if (options->dialHotkey.key && SameHotkey(options->dialHotkey, options->hangUpHotkey))
    return RefuseWith(problem, kMaxOptionProblem, "--dial-hotkey and --hang-up-hotkey are the same key");
  if (!CheckDialingRules(options->rules, problem, kMaxOptionProblem)) return false;
  unsigned presetFault = 0;
  if (phoneIndex && !ExpandPhonePreset(phone, &http, &options->presetTexts, problem, kMaxOptionProblem, &presetFault))
    return Fault(faultIndex, PresetFaultIndex(presetFault, texts, flags[kFlagPhoneHttps], phoneIndex));
  return CheckHttpOptions(http, methodIndex != 0, texts[kTextHttpUser].index, timeoutIndex, problem, faultIndex);
}
