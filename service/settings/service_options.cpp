#include "service/settings/service_options.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

static bool Equal(const char16_t* a, const char16_t* b) {
  for (; *a && *a == *b; a++, b++) {
  }
  return *a == *b;
}

// The option text as UTF-8 for the message, cut short when long.
static void Utf8Text(const char16_t* text, char* out, size_t size) {
  size_t used = 0;
  for (; *text; text++) {
    unsigned code = *text;
    if (code >= 0xD800 && code <= 0xDBFF && text[1] >= 0xDC00 && text[1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[1] - 0xDC00);
      text++;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    char bytes[4];
    size_t count;
    if (code < 0x20 || code == 0x7F) {
      bytes[0] = '?';
      count = 1;
    } else if (code < 0x80) {
      bytes[0] = char(code);
      count = 1;
    } else if (code < 0x800) {
      bytes[0] = char(0xC0 | (code >> 6));
      bytes[1] = char(0x80 | (code & 0x3F));
      count = 2;
    } else if (code < 0x10000) {
      bytes[0] = char(0xE0 | (code >> 12));
      bytes[1] = char(0x80 | ((code >> 6) & 0x3F));
      bytes[2] = char(0x80 | (code & 0x3F));
      count = 3;
    } else {
      bytes[0] = char(0xF0 | (code >> 18));
      bytes[1] = char(0x80 | ((code >> 12) & 0x3F));
      bytes[2] = char(0x80 | ((code >> 6) & 0x3F));
      bytes[3] = char(0x80 | (code & 0x3F));
      count = 4;
    }
    if (used + count + 4 > size) {
      memcpy(out + used, "...", 4);
      return;
    }
    memcpy(out + used, bytes, count);
    used += count;
  }
  out[used] = 0;
}

static bool Refuse(char* problem, const char* format, ...) __attribute__((format(printf, 2, 3)));
static bool Refuse(char* problem, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(problem, kMaxOptionProblem, format, arguments);
  va_end(arguments);
  return false;
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

// The options that take a value, and what their value must be.
static const char16_t* const kValueOptions[] = {
    u"--port", u"--count", u"--exec", u"--http", u"--http-method", u"--http-body", u"--http-header",
    u"--http-user", u"--http-password", u"--http-password-env", u"--http-timeout", u"--log-size",
};

static bool TakesValue(const char16_t* option) {
  for (const char16_t* known : kValueOptions)
    if (Equal(option, known)) return true;
  return false;
}

// A single-valued option given twice is refused rather than one silently winning.
static bool SetOnce(const char16_t** slot, const char16_t* value, const char* name, char* problem) {
  if (*slot) return Refuse(problem, "%s is given twice", name);
  *slot = value;
  return true;
}

static bool CheckHttpOptions(const HttpOptions& http, bool methodGiven, bool timeoutGiven, char* problem) {
  if (!http.url) {
    if (methodGiven || http.body || http.headerCount || http.user || http.password || http.passwordVariable ||
        timeoutGiven || http.insecure)
      return Refuse(problem, "the --http-... options need --http URL");
    return true;
  }
  if (http.body && !http.post) return Refuse(problem, "--http-body needs --http-method POST");
  if (!HoldsNumberField(http.url) && !(http.body && HoldsNumberField(http.body)))
    return Refuse(problem, "neither the --http URL nor the --http-body holds {number}");
  if (http.password && http.passwordVariable)
    return Refuse(problem, "--http-password and --http-password-env exclude each other");
  if ((http.password || http.passwordVariable) && !http.user)
    return Refuse(problem, "a password needs --http-user");
  if (http.user && !http.password && !http.passwordVariable)
    return Refuse(problem, "--http-user needs --http-password or --http-password-env");
  if (http.user)
    for (const char16_t* c = http.user; *c; c++)
      if (*c == u':' || *c < 0x20) return Refuse(problem, "--http-user may hold neither a colon nor a control character");
  if (http.target.secure == false && http.insecure)
    return Refuse(problem, "--http-insecure concerns only https:// URLs");
  return true;
}

bool ParseServiceOptions(int argc, const char16_t* const* argv, ServiceOptions* options, char* problem) {
  *options = ServiceOptions{};
  InitDialingRules(&options->rules);
  HttpOptions& http = options->sink.http;
  http.timeoutMs = kDefaultHttpTimeoutMs;
  options->logSizeKb = kDefaultLogSizeKb;
  bool methodGiven = false, timeoutGiven = false, portGiven = false, countGiven = false, logSizeGiven = false;
  char text[200];
  problem[0] = 0;
  for (int i = 1; i < argc; i++) {
    const char16_t* option = argv[i];
    if (Equal(option, u"--verbose")) {
      options->verbose = true;
      continue;
    }
    if (Equal(option, u"--help")) {
      options->help = true;
      continue;
    }
    if (Equal(option, u"--http-insecure")) {
      http.insecure = true;
      continue;
    }
    Utf8Text(option, text, sizeof text);
    DialingRule rule = DialingRuleOfOption(option);
    if (rule != kRuleCount) {
      if (i + 1 >= argc) return Refuse(problem, "%s needs a value", text);
      if (!SetDialingRule(&options->rules, rule, argv[++i], problem, kMaxOptionProblem)) return false;
      continue;
    }
    if (!TakesValue(option)) return Refuse(problem, "unknown option %s (--help lists them)", text);
    if (i + 1 >= argc) return Refuse(problem, "%s needs a value", text);
    const char16_t* value = argv[++i];
    char valueText[200];
    Utf8Text(value, valueText, sizeof valueText);
    unsigned long number = 0;
    if (Equal(option, u"--port")) {
      if (portGiven) return Refuse(problem, "--port is given twice");
      if (!ParseDecimal(value, 1, 65535, &number))
        return Refuse(problem, "--port %s is not a number from 1 to 65535", valueText);
      options->port = int(number);
      portGiven = true;
    } else if (Equal(option, u"--count")) {
      if (countGiven) return Refuse(problem, "--count is given twice");
      if (!ParseDecimal(value, 1, 0x7FFFFFFF, &number))
        return Refuse(problem, "--count %s is not a number from 1 to 2147483647", valueText);
      options->count = long(number);
      countGiven = true;
    } else if (Equal(option, u"--log-size")) {
      if (logSizeGiven) return Refuse(problem, "--log-size is given twice");
      if (!ParseDecimal(value, 1, 1048576, &number))
        return Refuse(problem, "--log-size %s is not a number of kilobytes from 1 to 1048576", valueText);
      options->logSizeKb = number;
      logSizeGiven = true;
    } else if (Equal(option, u"--exec")) {
      if (!SetOnce(&options->sink.command, value, "--exec", problem)) return false;
    } else if (Equal(option, u"--http")) {
      if (!SetOnce(&http.url, value, "--http", problem)) return false;
      UrlError error = ParseUrlTemplate(value, &http.target);
      if (error != kUrlParsed) return Refuse(problem, "the --http URL %s %s", valueText, DescribeUrlError(error));
    } else if (Equal(option, u"--http-method")) {
      if (methodGiven) return Refuse(problem, "--http-method is given twice");
      if (Equal(value, u"GET"))
        http.post = false;
      else if (Equal(value, u"POST"))
        http.post = true;
      else
        return Refuse(problem, "--http-method %s is neither GET nor POST", valueText);
      methodGiven = true;
    } else if (Equal(option, u"--http-body")) {
      if (!SetOnce(&http.body, value, "--http-body", problem)) return false;
    } else if (Equal(option, u"--http-header")) {
      HeaderError error = CheckHeaderOption(value);
      if (error != kHeaderParsed)
        return Refuse(problem, "the --http-header %s %s", valueText, DescribeHeaderError(error));
      if (http.headerCount == kMaxHttpHeaders)
        return Refuse(problem, "more than %u --http-header options", unsigned(kMaxHttpHeaders));
      http.headers[http.headerCount++] = value;
    } else if (Equal(option, u"--http-user")) {
      if (!SetOnce(&http.user, value, "--http-user", problem)) return false;
    } else if (Equal(option, u"--http-password")) {
      if (!SetOnce(&http.password, value, "--http-password", problem)) return false;
    } else if (Equal(option, u"--http-password-env")) {
      if (!SetOnce(&http.passwordVariable, value, "--http-password-env", problem)) return false;
      if (!*value || HoldsNumberField(value)) return Refuse(problem, "--http-password-env needs a variable name");
    } else if (Equal(option, u"--http-timeout")) {
      if (timeoutGiven) return Refuse(problem, "--http-timeout is given twice");
      if (!ParseDecimal(value, 1, 600000, &number))
        return Refuse(problem, "--http-timeout %s is not a number of milliseconds from 1 to 600000", valueText);
      http.timeoutMs = number;
      timeoutGiven = true;
    }
  }
  if (options->sink.command && http.url) return Refuse(problem, "--exec and --http exclude each other");
  if (!CheckDialingRules(options->rules, problem, kMaxOptionProblem)) return false;
  return CheckHttpOptions(http, methodGiven, timeoutGiven, problem);
}
