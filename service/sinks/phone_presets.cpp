#include "service/sinks/phone_presets.h"

#include <stdarg.h>
#include <stdio.h>

#include "service/number/service_text.h"

// In a path: {account}, {line}, {line-1}, {endpoint} and {context} are filled
// here, percent-encoded; {number}, {call} and {password} are left for each call.
//
// The end-call request sits beside the dial request in each row, on the same
// server. {call} in a dial request gives each call an id, which the hang-up's
// {call} names later; with a statusPath, the phone is asked first and its
// answer's handle is the {call} (call_handle.h).
struct HangUpRow {
  HttpMethod method;
  const char* path;  // null: the kind cannot end a call
  const char* body;
  const char* headers[kMaxHangUpHeaders];
  const char* statusPath;
};

struct PhonePreset {
  PhoneKind kind;
  const char* name;
  unsigned httpPort;   // 0: HTTPS only
  unsigned httpsPort;  // 0: no HTTPS
  bool post;
  const char* path;
  const char* withLine;     // appended to path when --phone-line is given
  const char* withAccount;  // appended when --phone-account is given
  const char* body;         // {line} filled here, {number} left
  const char* headers[kMaxPresetHeaders];
  HangUpRow hangUp;
  const char16_t* defaultUser;
  const char16_t* defaultLine;
  const char16_t* defaultContext;
  bool needsPassword;
  unsigned fields;
  unsigned requiredFields;
  unsigned long failureStatus;
  const char* failureHint;
};

// The router's TR-064 actions share one envelope.
#define TR064_ENVELOPE(action, arguments)                                                  \
  "<?xml version=\"1.0\" encoding=\"utf-8\"?>"                                             \
  "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "                     \
  "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>"                  \
  "<u:" action " xmlns:u=\"urn:dslforum-org:service:X_VoIP:1\">" arguments "</u:" action \
  "></s:Body></s:Envelope>"
#define TR064_HEADERS(action) \
  {"Content-Type: text/xml; charset=\"utf-8\"", "SOAPAction: urn:dslforum-org:service:X_VoIP:1#" action}

static const PhonePreset kPresets[] = {
    {kPhoneYealink, "yealink", 80, 443, false, "/servlet?key=number={number}", nullptr, "&outgoing_uri={account}",
     nullptr, {},
     {kHttpGet, "/servlet?key=CALLEND", nullptr, {}, nullptr},
     nullptr, nullptr, nullptr, false, kPhoneFieldAccount, 0, 0, nullptr},
    {kPhoneSnom, "snom", 80, 443, false, "/command.htm?number={number}", nullptr, "&outgoing_uri={account}", nullptr,
     {},
     {kHttpGet, "/command.htm?key=CANCEL", nullptr, {}, nullptr},
     nullptr, nullptr, nullptr, false, kPhoneFieldAccount, 0, 0, nullptr},
    {kPhoneGrandstream, "grandstream", 80, 443, false, "/cgi-bin/api-make_call?passcode={password}&phonenumber={number}",
     "&account={line-1}", nullptr, nullptr, {},
     {kHttpGet, "/cgi-bin/api-phone_operation?passcode={password}&cmd=endcall", nullptr, {}, nullptr},
     nullptr, nullptr, nullptr, true, kPhoneFieldLine, 0, 0, nullptr},
    {kPhonePoly, "poly", 0, 443, true, "/api/v1/callctrl/dial", nullptr, nullptr,
     "{\"data\":{\"Dest\":\"{number}\",\"Line\":\"{line}\",\"Type\":\"TEL\"}}", {"Content-Type: application/json"},
     {kHttpPost, "/api/v1/callctrl/endCall", "{\"data\":{\"Ref\":\"{call}\"}}", {"Content-Type: application/json"},
      "/api/v1/webCallControl/callStatus"},
     u"Polycom", u"1", nullptr, true, kPhoneFieldLine, 0, 0, nullptr},
    {kPhoneFritzbox, "fritzbox", 49000, 49443, true, "/upnp/control/x_voip", nullptr, nullptr,
     TR064_ENVELOPE("X_AVM-DE_DialNumber", "<NewX_AVM-DE_PhoneNumber>{number}</NewX_AVM-DE_PhoneNumber>"),
     TR064_HEADERS("X_AVM-DE_DialNumber"),
     {kHttpPost, "/upnp/control/x_voip", TR064_ENVELOPE("X_AVM-DE_DialHangup", ""),
      TR064_HEADERS("X_AVM-DE_DialHangup"), nullptr},
     nullptr, nullptr, nullptr, true, 0, 0, 500, "Click to Dial is off in the router, or no phone is chosen for it"},
    {kPhoneAsterisk, "asterisk", 8088, 8089, true,
     "/ari/channels?endpoint={endpoint}&extension={number}&context={context}&priority=1&channelId={call}", nullptr,
     nullptr, nullptr, {},
     {kHttpDelete, "/ari/channels/{call}", nullptr, {}, nullptr},
     nullptr, nullptr, u"from-internal", true, kPhoneFieldEndpoint | kPhoneFieldContext, kPhoneFieldEndpoint, 0,
     nullptr},
    {kPhoneBaresip, "baresip", 8000, 0, false, "/?d{number}", nullptr, nullptr, nullptr, {},
     {kHttpGet, "/?b", nullptr, {}, nullptr},
     nullptr, nullptr, nullptr, false, 0, 0, 0, nullptr},
};

static const PhonePreset* PresetOf(PhoneKind kind) {
  for (const PhonePreset& preset : kPresets)
    if (preset.kind == kind) return &preset;
  return nullptr;
}

// Kinds are written as people write the makers' names (Snom, FRITZBOX), so
// their case does not count.
static bool EqualsAsciiInAnyCase(const char16_t* text, const char* ascii) {
  auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; };
  for (; *text && lower(*text) == char16_t((unsigned char)*ascii); text++, ascii++) {
  }
  return *text == 0 && *ascii == 0;
}

PhoneKind PhoneKindOfName(const char16_t* name) {
  for (const PhonePreset& preset : kPresets)
    if (EqualsAsciiInAnyCase(name, preset.name)) return preset.kind;
  return kPhoneNone;
}

const char* PhoneKindName(PhoneKind kind) {
  const PhonePreset* preset = PresetOf(kind);
  return preset ? preset->name : "";
}

unsigned PhoneFieldsOfKind(PhoneKind kind) {
  const PhonePreset* preset = PresetOf(kind);
  return preset ? preset->fields : 0;
}

const char* PresetFailureHint(PhoneKind kind, unsigned long status) {
  const PhonePreset* preset = PresetOf(kind);
  return preset && preset->failureHint && preset->failureStatus == status ? preset->failureHint : nullptr;
}


// A value for a message: ASCII as it is, anything else as "?", cut short.
static const char* Shown(const char16_t* text, char* out, size_t size) {
  size_t used = 0;
  for (; *text && used + 4 < size; text++) out[used++] = *text >= 0x20 && *text < 0x7F ? char(*text) : '?';
  if (*text) {
    for (int i = 0; i < 3; i++) out[used++] = '.';
  }
  out[used] = 0;
  return out;
}

namespace {
// Builds one text in a fixed buffer; too long is remembered, not overrun.
struct TextBuilder {
  char16_t* out;
  size_t size;
  size_t used;

  void Put(char16_t c) {
    if (used + 1 < size) out[used] = c;
    used++;
  }
  void PutAscii(const char* text) {
    for (; *text; text++) Put(char16_t((unsigned char)*text));
  }
  void PutText(const char16_t* text) {
    for (; *text; text++) Put(*text);
  }
  // As UTF-8 bytes, percent-encoded but for the unreserved ones.
  void PutEncoded(const char16_t* text) {
    size_t room = used < size ? size - used : 0;
    size_t length = ExpandRequestFields(u"{password}", "", text, true, out + used, room);
    if (length == SIZE_MAX) length = room;  // too long either way; Finish says so
    used += length;
  }
  bool Finish() {
    if (used + 1 > size) return false;
    out[used] = 0;
    return true;
  }
};

// The values the preset's own fields stand for.
struct PresetValues {
  const char16_t* account;
  const char16_t* line;
  char16_t lineBelow[8];  // {line-1}
  const char16_t* endpoint;
  const char16_t* context;
};
}  // namespace

static bool StartsWithAscii(const char* text, const char* start) {
  for (; *start; text++, start++)
    if (*text != *start) return false;
  return true;
}

// Fills the preset's own fields of templ; {number} and {password} stay.
static void PutTemplate(TextBuilder* builder, const char* templ, const PresetValues& values, bool percentEncode) {
  struct Field {
    const char* name;
    const char16_t* value;
  };
  const Field fields[] = {{"{account}", values.account}, {"{line-1}", values.lineBelow}, {"{line}", values.line},
                          {"{endpoint}", values.endpoint}, {"{context}", values.context}};
  while (*templ) {
    const Field* found = nullptr;
    for (const Field& field : fields)
      if (field.value && StartsWithAscii(templ, field.name)) found = &field;
    if (!found) {
      builder->Put(char16_t((unsigned char)*templ++));
      continue;
    }
    if (percentEncode)
      builder->PutEncoded(found->value);
    else
      builder->PutText(found->value);
    for (const char* c = found->name; *c; c++) templ++;
  }
}

static bool ParseLine(const char16_t* text, unsigned* line) {
  unsigned value = 0;
  if (!*text) return false;
  for (; *text; text++) {
    if (*text < u'0' || *text > u'9') return false;
    value = value * 10 + unsigned(*text - u'0');
    if (value > kMaxPhoneLine) return false;
  }
  *line = value;
  return value >= 1;
}

// HOST, [IPv6] or either with ":PORT"; the rest is ParseUrlTemplate's check.
static bool HasPort(const char16_t* address, bool* wellFormed) {
  *wellFormed = *address != 0;
  const char16_t* afterHost = address;
  if (*address == u'[') {
    while (*afterHost && *afterHost != u']') afterHost++;
    if (*afterHost) afterHost++;
  }
  size_t colons = 0;
  for (const char16_t* c = address; *c; c++) {
    if (*c == u'/' || *c == u'?' || *c == u'#' || *c == u'{' || *c == u'}' || *c == u'%') *wellFormed = false;
    if (c >= afterHost && *c == u':') colons++;
  }
  if (colons > 1) *wellFormed = false;
  return colons == 1;
}

static void PutAsciiText(const char* ascii, char16_t* out, size_t size) {
  TextBuilder builder = {out, size, 0};
  builder.PutAscii(ascii);
  builder.Finish();
}

// The row's end-call request on the dial request's server.
template <typename PutOrigin>
static bool ExpandHangUp(const HangUpRow& row, const PresetValues& values, const PutOrigin& putOrigin,
                         HttpOptions* http, PresetTexts* texts, char* problem, size_t size, const char* name) {
  http->hangUp = HangUpRequest{};
  if (!row.path) return true;
  TextBuilder url = {texts->hangUpUrl, kMaxPresetText, 0};
  putOrigin(&url);
  PutTemplate(&url, row.path, values, true);
  if (!url.Finish() || ParseUrlTemplate(texts->hangUpUrl, &http->hangUp.target) != kUrlParsed)
    return RefuseWith(problem, size, "--phone %s: the address or a value is too long", name);
  HangUpRequest& hangUp = http->hangUp;
  hangUp.url = texts->hangUpUrl;
  hangUp.method = row.method;
  if (row.body) {
    TextBuilder body = {texts->hangUpBody, kMaxPresetText, 0};
    PutTemplate(&body, row.body, values, false);
    if (!body.Finish()) return RefuseWith(problem, size, "--phone %s: a value is too long for the body", name);
    hangUp.body = texts->hangUpBody;
  }
  for (; hangUp.headerCount < kMaxHangUpHeaders && row.headers[hangUp.headerCount]; hangUp.headerCount++) {
    char16_t* header = texts->hangUpHeaders[hangUp.headerCount];
    PutAsciiText(row.headers[hangUp.headerCount], header, sizeof texts->hangUpHeaders[0] / sizeof header[0]);
    hangUp.headers[hangUp.headerCount] = header;
  }
  if (row.statusPath) {
    PutAsciiText(row.statusPath, texts->statusPath, sizeof texts->statusPath / sizeof texts->statusPath[0]);
    hangUp.statusPath = texts->statusPath;
  }
  return true;
}

bool ExpandPhonePreset(const PhoneOptions& phone, HttpOptions* http, PresetTexts* texts, char* problem, size_t size,
                       unsigned* faultField) {
  unsigned unused;
  unsigned& fault = faultField ? *faultField : unused;
  fault = 0;
  char shown[120];
  const PhonePreset* preset = PresetOf(phone.kind);
  if (!preset) return RefuseWith(problem, size, "--phone needs one of yealink, snom, grandstream, poly, fritzbox, asterisk, baresip");
  const char* name = preset->name;
  struct FieldOption {
    PhoneField field;
    const char16_t* value;
    const char* option;
    const char* example;
  };
  const FieldOption fieldOptions[] = {
      {kPhoneFieldLine, phone.line, "--phone-line", "1"},
      {kPhoneFieldAccount, phone.account, "--phone-account", "sip:201@pbx.example.com"},
      {kPhoneFieldEndpoint, phone.endpoint, "--phone-endpoint", "PJSIP/201"},
      {kPhoneFieldContext, phone.context, "--phone-context", "from-internal"},
  };
  for (const FieldOption& option : fieldOptions) {
    fault = option.value ? unsigned(option.field) : 0;
    if (option.value && !(preset->fields & option.field))
      return RefuseWith(problem, size, "--phone %s does not use %s", name, option.option);
    if (!option.value && (preset->requiredFields & option.field))
      return RefuseWith(problem, size, "--phone %s needs %s (for example %s)", name, option.option, option.example);
    if (option.value && !*option.value) return RefuseWith(problem, size, "%s needs a value", option.option);
  }
  fault = 0;
  if (!phone.address) return RefuseWith(problem, size, "--phone %s needs --phone-address (the phone's HOST[:PORT])", name);
  if (phone.https && !preset->httpsPort) {
    fault = kPhoneFieldHttps;
    return RefuseWith(problem, size, "--phone %s does not use --phone-https", name);
  }
  bool hasPassword = http->password || http->passwordVariable || http->protectedPassword;
  if (preset->needsPassword && !hasPassword)
    return RefuseWith(problem, size,
                  "--phone %s needs a password: --http-password-env VARIABLE, or one stored with "
                  "dial-service.exe --store-password",
                  name);
  PresetValues values = {phone.account, phone.line, {}, phone.endpoint, phone.context};
  if (phone.line) {
    unsigned line = 0;
    fault = kPhoneFieldLine;
    if (!ParseLine(phone.line, &line))
      return RefuseWith(problem, size, "--phone-line %s is not a number from 1 to %u", Shown(phone.line, shown, sizeof shown),
                    kMaxPhoneLine);
    snprintf(shown, sizeof shown, "%u", line - 1);
    for (size_t i = 0; shown[i]; i++) values.lineBelow[i] = char16_t(shown[i]);
  } else {
    values.line = preset->defaultLine;
  }
  if (!values.context) values.context = preset->defaultContext;
  fault = kPhoneFieldAddress;
  bool wellFormed;
  bool hasPort = HasPort(phone.address, &wellFormed);
  if (!wellFormed)
    return RefuseWith(problem, size, "the --phone-address %s is not HOST[:PORT] (an IPv6 address in brackets)",
                  Shown(phone.address, shown, sizeof shown));
  bool secure = phone.https || !preset->httpPort;
  unsigned port = secure ? preset->httpsPort : preset->httpPort;
  char origin[16] = "";
  if (!hasPort && port != (secure ? 443u : 80u)) snprintf(origin, sizeof origin, ":%u", port);
  auto putOrigin = [&](TextBuilder* builder) {
    builder->PutAscii(secure ? "https://" : "http://");
    builder->PutText(phone.address);
    builder->PutAscii(origin);
  };
  TextBuilder url = {texts->url, kMaxPresetText, 0};
  putOrigin(&url);
  PutTemplate(&url, preset->path, values, true);
  if (phone.line && preset->withLine) PutTemplate(&url, preset->withLine, values, true);
  if (phone.account && preset->withAccount) PutTemplate(&url, preset->withAccount, values, true);
  if (!url.Finish()) {
    fault = 0;
    return RefuseWith(problem, size, "--phone %s: the address or a value is too long", name);
  }
  UrlError error = ParseUrlTemplate(texts->url, &http->target);
  if (error != kUrlParsed)
    return RefuseWith(problem, size, "the --phone-address %s %s", Shown(phone.address, shown, sizeof shown),
                  DescribeUrlError(error));
  fault = 0;
  http->url = texts->url;
  http->phoneKind = phone.kind;
  http->post = preset->post;
  http->body = nullptr;
  if (preset->body) {
    TextBuilder body = {texts->body, kMaxPresetText, 0};
    PutTemplate(&body, preset->body, values, false);
    if (!body.Finish()) return RefuseWith(problem, size, "--phone %s: a value is too long for the body", name);
    http->body = texts->body;
  }
  size_t presetHeaders = 0;
  while (presetHeaders < kMaxPresetHeaders && preset->headers[presetHeaders]) presetHeaders++;
  if (http->headerCount + presetHeaders > kMaxHttpHeaders)
    return RefuseWith(problem, size, "more than %u --http-header options", unsigned(kMaxHttpHeaders - presetHeaders));
  for (size_t i = http->headerCount; i > 0; i--) http->headers[i - 1 + presetHeaders] = http->headers[i - 1];
  for (size_t i = 0; i < presetHeaders; i++) {
    TextBuilder header = {texts->headers[i], sizeof texts->headers[i] / sizeof texts->headers[i][0], 0};
    header.PutAscii(preset->headers[i]);
    header.Finish();
    http->headers[i] = texts->headers[i];
  }
  http->headerCount += presetHeaders;
  http->presetHeaderCount = presetHeaders;
  if (!http->user && preset->defaultUser) http->user = preset->defaultUser;
  return ExpandHangUp(preset->hangUp, values, putOrigin, http, texts, problem, size, name);
}
