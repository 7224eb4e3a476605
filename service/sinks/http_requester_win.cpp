#include "service/sinks/http_requester_win.h"

#include <windows.h>
#include <winsock2.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "service/number/dialing_rules.h"
#include "service/number/log_text.h"
#include "service/number/service_text.h"
#include "service/http/base64.h"
#include "service/http/digest_hash_win.h"
#include "service/http/http_auth.h"
#include "service/http/http_connection_win.h"
#include "service/http/http_wire.h"
#include "service/sinks/call_handle.h"
#include "service/sinks/last_call_win.h"
#include "service/sinks/password_protection_win.h"
#include "service/sinks/phone_presets.h"

static const size_t kMaxPath = 8192;
static const size_t kMaxBody = 65536;
// A path unit may become up to three UTF-8 bytes, each percent-encoded.
static const size_t kMaxTarget = 9 * kMaxPath + 1;
static const size_t kMaxAuthorization = 4096;
static const size_t kMaxOffer = 4096;

struct HttpRequester {
  // A copy, so that a requester outlives the options it was opened with (a
  // worker given up at Save still ends its request): of its texts only the
  // path and the body stay, and those are the requester's own.
  HttpOptions http;
  char16_t* pathTemplate;
  char16_t* bodyTemplate;
  char16_t* statusPathTemplate;  // a hang-up's first step, or null
  bool hangingUp;                // opened by OpenHangUpRequester
  HttpMethod hangUpMethod;
  const char* method;            // of the request being made
  HttpConnection* connection;
  ServerAuth auth;
  RequestEnd lastEnd;
  char* host;         // the Host header's value
  char* headerLines;  // the preset's headers, then every --http-header, each ended by CRLF
  size_t givenHeadersAt;     // where the --http-header lines start in headerLines
  const char* headersToSend;  // headerLines, or from givenHeadersAt for a request of the user's own
  char* userUtf8;
  char* passwordUtf8;
  wchar_t* password;  // null when no source gives one
  char16_t path[kMaxPath];
  char16_t bodyText[kMaxBody];
  char body[3 * kMaxBody];
  char target[kMaxTarget];
  char authorization[kMaxAuthorization];
  char offer[kMaxOffer];
  char head[kMaxAnswerHeadBytes];
  char scratch[16384];
  char answerBody[16384];  // the start of the last answer's body
  size_t answerBodyLength;
};

static const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

static char* Utf8FromWide(const wchar_t* text) {
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  char* utf8 = bytes > 0 ? static_cast<char*>(malloc(size_t(bytes))) : nullptr;
  if (utf8) WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, bytes, nullptr, nullptr);
  return utf8;
}

static void DropConnection(HttpRequester* requester) {
  CloseHttpConnection(requester->connection);
  requester->connection = nullptr;
}

// The open connection, or a new one.
static bool EnsureConnection(HttpRequester* requester, unsigned long long deadline, ConnectionFailure* failure) {
  if (HttpConnectionOpen(requester)) return true;
  const HttpOptions& http = requester->http;
  requester->connection = OpenHttpConnection(Wide(http.target.host), http.target.port, http.target.secure,
                                             http.insecure, deadline, failure);
  return requester->connection != nullptr;
}

RequestEnd LastRequestEnd(const HttpRequester* requester) { return requester->lastEnd; }

bool WarmHttpConnection(HttpRequester* requester) {
  ConnectionFailure failure;
  return EnsureConnection(requester, GetTickCount64() + requester->http.timeoutMs, &failure);
}

HANDLE HttpConnectionActivity(HttpRequester* requester) {
  return requester->connection ? ConnectionActivity(requester->connection) : nullptr;
}

bool HttpConnectionOpen(HttpRequester* requester) {
  if (requester->connection && !ConnectionStaysUsable(requester->connection)) DropConnection(requester);
  return requester->connection != nullptr;
}

enum ExchangeEnd {
  kAnswered,  // head holds the answer's head
  kNotSent,
  kNoAnswer,  // the deadline passed after the request left
  kBrokenAnswer,
};

struct Exchange {
  ExchangeEnd end;
  AnswerHead answer;
  ConnectionFailure failure;
  const char* broken;  // what was wrong with the answer
};

static ExchangeEnd EndExchange(Exchange* exchange, ExchangeEnd end, const char* broken) {
  exchange->end = end;
  exchange->broken = broken;
  return end;
}

// The answer's head into requester->head; the bytes after it (the start of the
// body) stay there too, *extra of them from *headLength on.
static ExchangeEnd ReceiveHead(HttpRequester* requester, unsigned long long deadline, Exchange* exchange,
                               size_t* headLength, size_t* extra) {
  size_t have = 0, searched = 0;
  for (;;) {
    // Only the bytes that came since the last look, and the two before them
    // that may start the empty line.
    size_t from = searched > 2 ? searched - 2 : 0;
    size_t found = FindAnswerHeadEnd(requester->head + from, have - from);
    size_t end = found ? from + found : 0;
    searched = have;
    if (end) {
      if (!ParseAnswerHead(requester->head, end, &exchange->answer))
        return EndExchange(exchange, kBrokenAnswer, "the answer is not HTTP");
      if (exchange->answer.status >= 200) {
        *headLength = end;
        *extra = have - end;
        return EndExchange(exchange, kAnswered, nullptr);
      }
      // "100 Continue" and the like come before the answer.
      memmove(requester->head, requester->head + end, have - end);
      have -= end;
      searched = 0;
      continue;
    }
    if (have == sizeof requester->head)
      return EndExchange(exchange, kBrokenAnswer, "the answer's headers exceed 65536 bytes");
    size_t got = 0;
    switch (ReceiveOnConnection(requester->connection, requester->head + have, sizeof requester->head - have, &got,
                                deadline, &exchange->failure)) {
      case kReceived:
        have += got;
        break;
      case kReceiveTimedOut:
        return EndExchange(exchange, kNoAnswer, nullptr);
      case kReceiveClosed:
        return EndExchange(
            exchange, kBrokenAnswer,
            have ? "the connection closed in the answer's headers" : "the connection closed without an answer");
      case kReceiveFailed:
        return EndExchange(exchange, kBrokenAnswer, "the connection broke off");
    }
  }
}

// Reads and drops the body, so that the connection can carry the next
// request; true when it can.
static bool SkipBody(HttpRequester* requester, unsigned long long deadline, Exchange* exchange, size_t headLength,
                     size_t extra) {
  BodyReader reader;
  StartBody(&reader, exchange->answer);
  reader.payload = requester->answerBody;
  reader.payloadRoom = sizeof requester->answerBody;
  size_t used = 0;
  BodyProgress progress = ReadBody(&reader, requester->head + headLength, extra, &used);
  size_t leftOver = extra - used;
  while (progress == kBodyMore) {
    size_t got = 0;
    ReceiveResult result = ReceiveOnConnection(requester->connection, requester->scratch, sizeof requester->scratch,
                                               &got, deadline, &exchange->failure);
    if (result != kReceived) return false;
    progress = ReadBody(&reader, requester->scratch, got, &used);
    leftOver = got - used;
  }
  requester->answerBodyLength = reader.payloadLength;
  // Anything after the answer is no answer to anything this service asked.
  return progress == kBodyDone && leftOver == 0 && exchange->answer.keepAlive;
}

static ExchangeEnd ExchangeOnce(HttpRequester* requester, const char* authorization, size_t bodyLength,
                                unsigned long long deadline, Exchange* exchange) {
  memset(exchange, 0, sizeof *exchange);
  requester->answerBodyLength = 0;
  if (!EnsureConnection(requester, deadline, &exchange->failure)) return EndExchange(exchange, kNotSent, nullptr);
  WireRequest request = {requester->method, requester->target, requester->host, requester->headersToSend,
                         authorization,     bodyLength};
  size_t size = strlen(requester->target) + strlen(requester->host) + strlen(requester->headersToSend) +
                (authorization ? strlen(authorization) : 0) + 256 + bodyLength;
  char* bytes = static_cast<char*>(malloc(size));
  size_t headLength = bytes ? WriteRequestHead(request, bytes, size) : 0;
  if (!headLength) {
    free(bytes);
    exchange->failure = ConnectionFailure{ERROR_OUTOFMEMORY, "out of memory"};
    return EndExchange(exchange, kNotSent, nullptr);
  }
  memcpy(bytes + headLength, requester->body, bodyLength);
  bool sent = SendOnConnection(requester->connection, bytes, headLength + bodyLength, deadline, &exchange->failure);
  SecureZeroMemory(bytes, size);  // it may hold the password
  free(bytes);
  if (!sent) {
    DropConnection(requester);
    return EndExchange(exchange, kNotSent, nullptr);
  }
  size_t answerHead = 0, extra = 0;
  if (ReceiveHead(requester, deadline, exchange, &answerHead, &extra) != kAnswered ||
      !SkipBody(requester, deadline, exchange, answerHead, extra))
    DropConnection(requester);
  return exchange->end;
}

static bool BuildAuthorization(HttpRequester* requester) {
  ServerAuth& auth = requester->auth;
  char* out = requester->authorization;
  if (auth.scheme == kAuthBasic) {
    size_t userLength = strlen(requester->userUtf8), passwordLength = strlen(requester->passwordUtf8);
    char* pair = static_cast<char*>(malloc(userLength + passwordLength + 2));
    if (!pair) return false;
    snprintf(pair, userLength + passwordLength + 2, "%s:%s", requester->userUtf8, requester->passwordUtf8);
    strcpy(out, "Basic ");
    bool built = EncodeBase64(reinterpret_cast<unsigned char*>(pair), userLength + passwordLength + 1, out + 6,
                              kMaxAuthorization - 6) != SIZE_MAX;
    SecureZeroMemory(pair, userLength + passwordLength + 1);
    free(pair);
    return built;
  }
  char cnonce[33];
  if (!RandomHex(16, cnonce)) return false;
  DigestAnswer answer = {
      requester->userUtf8, requester->passwordUtf8, requester->method, requester->target, cnonce,
      ++auth.nonceCount};
  return BuildDigestAuthorization(auth.digest, answer, DigestHashHex, out, kMaxAuthorization) > 0;
}

// What the request carries up front: the credentials the server asked for
// before, or none.
static const char* UpFront(HttpRequester* requester) {
  if (requester->auth.scheme == kAuthNone || !requester->passwordUtf8 || !requester->userUtf8) return nullptr;
  return BuildAuthorization(requester) ? requester->authorization : nullptr;
}

// The next value of the header, 0-terminated in requester->offer; values too
// long for it are passed over.
static const char* NextHeaderText(HttpRequester* requester, const AnswerHead& answer, const char* name,
                                  size_t* cursor) {
  const char* value;
  size_t length;
  while (NextHeaderValue(answer, name, cursor, &value, &length)) {
    if (length >= sizeof requester->offer) continue;
    memcpy(requester->offer, value, length);
    requester->offer[length] = 0;
    return requester->offer;
  }
  return nullptr;
}

static void NoteOffers(HttpRequester* requester, const AnswerHead& answer, AuthOffers* offers) {
  StartAuthOffers(offers);
  size_t cursor = 0;
  while (const char* offer = NextHeaderText(requester, answer, "WWW-Authenticate", &cursor))
    NoteAuthOffer(offers, offer);
}

// The first value of the header as log text, or "" without one.
static void HeaderForLog(const AnswerHead& answer, const char* name, char* text, size_t size) {
  size_t cursor = 0;
  const char* value;
  size_t length;
  text[0] = 0;
  if (NextHeaderValue(answer, name, &cursor, &value, &length)) FormatTextForLog(value, length, text, size);
}

static void NoteTakenCredentials(HttpRequester* requester, const AnswerHead& answer) {
  NoteCredentialsTaken(&requester->auth);
  size_t cursor = 0;
  if (const char* info = NextHeaderText(requester, answer, "Authentication-Info", &cursor))
    TakeAuthenticationInfo(&requester->auth, info);
}

// After a 401: the refusal for the log, or null when the request was made
// once more and its answer is in exchange.
static const char* Authenticate(HttpRequester* requester, size_t bodyLength, unsigned long long deadline,
                                bool sentCredentials, Exchange* exchange, char* why, size_t size) {
  if (!requester->userUtf8 || !requester->passwordUtf8)
    return "the server asks for a user name and password (--http-user)";
  for (bool sentAgain = false;; sentAgain = true) {
    AuthOffers offers;
    NoteOffers(requester, exchange->answer, &offers);
    switch (TakeChallenge(&requester->auth, offers, sentCredentials, sentAgain)) {
      case kAuthRefused:
        return "the server refused the credentials";
      case kAuthNoKnownScheme:
        return "the server asks for neither Basic nor Digest authentication";
      case kAuthUnanswerable:
        snprintf(why, size,
                 "the server's Digest challenge cannot be answered (%s); Basic is never sent to a server that "
                 "offers Digest",
                 offers.unanswerable[0] ? offers.unanswerable : "it offered Digest before");
        return why;
      case kAuthSendAgain:
        break;
    }
    const char* authorization = UpFront(requester);
    if (!authorization) return "the credentials cannot be put into the request";
    sentCredentials = true;
    if (ExchangeOnce(requester, authorization, bodyLength, deadline, exchange) != kAnswered) return nullptr;
    if (exchange->answer.status != 401) {
      NoteTakenCredentials(requester, exchange->answer);
      return nullptr;
    }
  }
}

static const char16_t* PasswordText(const HttpRequester* requester) {
  return reinterpret_cast<const char16_t*>(requester->password);
}

// The request's target and body from the templates, {number} and {call}
// filled (either may be null when the templates hold none); false with the
// outcome said after label.
static bool ExpandRequest(HttpRequester* requester, const char16_t* pathTemplate, const char16_t* bodyTemplate,
                          const char* dialled, const char* call, const char* label, size_t* bodyLength, char* outcome,
                          size_t size) {
  bool expanded = ExpandCallRequestFields(pathTemplate, dialled ? dialled : "", call, PasswordText(requester), true,
                                          requester->path, kMaxPath) != SIZE_MAX;
  char* path = expanded ? Utf8FromWide(Wide(requester->path)) : nullptr;
  expanded = path && WriteRequestTarget(path, requester->target, sizeof requester->target);
  if (path) SecureZeroMemory(path, strlen(path));
  free(path);
  if (!expanded)
    return RefuseWith(outcome, size, "%s: not requested, the URL would be longer than %u characters", label,
                      unsigned(kMaxPath));
  *bodyLength = 0;
  if (!bodyTemplate) return true;
  if (ExpandCallRequestFields(bodyTemplate, dialled ? dialled : "", call, PasswordText(requester), false,
                              requester->bodyText, kMaxBody) == SIZE_MAX)
    return RefuseWith(outcome, size, "%s: not requested, the body would be longer than %u characters", label,
                      unsigned(kMaxBody));
  int bytes = WideCharToMultiByte(CP_UTF8, 0, Wide(requester->bodyText), -1, requester->body, sizeof requester->body,
                                  nullptr, nullptr);
  *bodyLength = bytes > 0 ? size_t(bytes) - 1 : 0;
  return true;
}

static void DescribeAnswer(HttpRequester* requester, const char* label, const AnswerHead& answer, const char* refusal,
                           unsigned long long spent, char* outcome, size_t size) {
  char reason[kMaxFormattedTextSize];
  FormatTextForLog(answer.reason, answer.reasonLength, reason, sizeof reason);
  unsigned status = answer.status;
  if (!refusal && status >= 200 && status < 300) {
    snprintf(outcome, size, "%s: %u %s in %llu ms", label, status, reason, spent);
    return;
  }
  char location[kMaxFormattedTextSize];
  if (!refusal && status >= 300 && status < 400) {
    HeaderForLog(answer, "Location", location, sizeof location);
    snprintf(outcome, size, "%s: %u %s in %llu ms: redirected to %s, not followed", label, status, reason, spent,
             location[0] ? location : "(no Location)");
    return;
  }
  if (!refusal) refusal = PresetFailureHint(PhoneKind(requester->http.phoneKind), status);
  snprintf(outcome, size, "%s: %u %s in %llu ms: %s", label, status, reason, spent,
           refusal ? refusal : "the server did not accept the request");
}

// Makes the expanded request and waits for its answer; the outcome after label.
static bool Perform(HttpRequester* requester, size_t bodyLength, unsigned long long start, const char* label,
                    const char* unanswered, char* outcome, size_t size) {
  unsigned long long deadline = start + requester->http.timeoutMs;
  Exchange exchange;
  const char* authorization = UpFront(requester);
  ExchangeOnce(requester, authorization, bodyLength, deadline, &exchange);
  const char* refusal = nullptr;
  char why[256];
  if (exchange.end == kAnswered && exchange.answer.status == 401)
    refusal = Authenticate(requester, bodyLength, deadline, authorization != nullptr, &exchange, why, sizeof why);
  else if (exchange.end == kAnswered && authorization)
    NoteTakenCredentials(requester, exchange.answer);
  unsigned long long spent = GetTickCount64() - start;
  requester->lastEnd = exchange.end == kNotSent    ? kRequestNotSent
                       : exchange.end == kAnswered ? kRequestAnswered
                                                   : kRequestUnanswered;
  switch (exchange.end) {
    case kNotSent:
      // Winsock errors read best in decimal, SSPI and certificate ones in hex.
      snprintf(outcome, size,
               exchange.failure.error > 0xFFFF ? "%s: not sent after %llu ms: %s (error 0x%08lX)"
                                               : "%s: not sent after %llu ms: %s (error %lu)",
               label, spent, exchange.failure.reason, exchange.failure.error);
      return false;
    case kNoAnswer:
      snprintf(outcome, size, "%s: no answer within %lu ms: %s", label, requester->http.timeoutMs, unanswered);
      return false;
    case kBrokenAnswer:
      snprintf(outcome, size, "%s: %s, after %llu ms: %s", label, exchange.broken, spent, unanswered);
      return false;
    case kAnswered:
      break;
  }
  DescribeAnswer(requester, label, exchange.answer, refusal, spent, outcome, size);
  return !refusal && exchange.answer.status >= 200 && exchange.answer.status < 300;
}

bool RequestDialledNumber(HttpRequester* requester, const char* dialled, char* outcome, size_t size) {
  unsigned long long start = GetTickCount64();
  requester->lastEnd = kRequestNotSent;
  char label[kMaxDialledLength + 8];
  snprintf(label, sizeof label, "http %s", dialled);
  const HttpOptions& http = requester->http;
  char call[kMaxCallId + 1] = "";
  bool namesCall = HoldsCallField(http.target.path) || (http.body && HoldsCallField(http.body));
  if (namesCall && !MakeCallId(call, sizeof call))
    return RefuseWith(outcome, size, "%s: not requested, the system gives no random number for the call's id", label);
  size_t bodyLength = 0;
  if (!ExpandRequest(requester, http.target.path, http.post ? http.body : nullptr, dialled, call, label, &bodyLength,
                     outcome, size))
    return false;
  requester->method = http.post ? "POST" : "GET";
  bool accepted = Perform(requester, bodyLength, start, label, "the phone may still dial", outcome, size);
  // A call that may have started can be ended by its id, from any process.
  if (namesCall && requester->lastEnd != kRequestNotSent && !SaveLastCallId(call)) {
    size_t length = strlen(outcome);
    snprintf(outcome + length, size - length, " (its id cannot be kept for hanging up)");
  }
  return accepted;
}

bool RequestHangUp(HttpRequester* requester, char* outcome, size_t size) {
  unsigned long long start = GetTickCount64();
  const HttpOptions& http = requester->http;
  requester->lastEnd = kRequestNotSent;
  if (!requester->hangingUp)
    return RefuseWith(outcome, size, "hang-up: not offered for this phone (--phone, or --http with --http-hang-up)");
  char call[kMaxCallId + 1];
  size_t bodyLength = 0;
  bool namesCall = HoldsCallField(http.target.path) || (http.body && HoldsCallField(http.body));
  if (requester->statusPathTemplate) {
    const char* label = "hang-up: the call's status";
    if (!ExpandRequest(requester, requester->statusPathTemplate, nullptr, nullptr, nullptr, label, &bodyLength, outcome,
                       size))
      return false;
    // The preset's headers are the end-call request's (its body's type).
    requester->method = "GET";
    requester->headersToSend = requester->headerLines + requester->givenHeadersAt;
    bool answered = Perform(requester, 0, start, label, "nothing was ended", outcome, size);
    requester->headersToSend = requester->headerLines;
    if (!answered) return false;
    switch (ReadCallHandle(requester->answerBody, requester->answerBodyLength, call)) {
      case kCallHandleFound:
        break;
      case kNoCallHandle:
        return RefuseWith(outcome, size, "hang-up: no call to end, the phone reports none");
      case kCallStatusUnreadable:
        return RefuseWith(outcome, size, "hang-up: no call ended, the phone's answer on its calls cannot be read");
    }
  } else if (namesCall && !LoadLastCallId(call)) {
    return RefuseWith(outcome, size, "hang-up: no call to end, none was dialled from this user's programs");
  }
  if (!ExpandRequest(requester, http.target.path, http.body, nullptr, namesCall ? call : nullptr, "hang-up",
                     &bodyLength, outcome, size))
    return false;
  HttpMethod method = requester->hangUpMethod;
  requester->method = method == kHttpDelete ? "DELETE" : method == kHttpPost ? "POST" : "GET";
  return Perform(requester, bodyLength, start, "hang-up", "the call may go on", outcome, size);
}

bool PasswordTravelsReadable(const HttpOptions& http) {
  bool password = http.password || http.passwordVariable || http.protectedPassword;
  if (http.target.secure || !password) return false;
  return http.user || HoldsPasswordField(http.url) || (http.body && HoldsPasswordField(http.body));
}

static bool BuildHeaderLines(HttpRequester* requester) {
  const HttpOptions& http = requester->http;
  size_t length = 1;
  char* lines[kMaxHttpHeaders] = {};
  bool converted = true;
  for (size_t i = 0; i < http.headerCount; i++) {
    lines[i] = Utf8FromWide(Wide(http.headers[i]));
    converted = converted && lines[i];
    if (lines[i]) length += strlen(lines[i]) + 2;
  }
  requester->headerLines = converted ? static_cast<char*>(malloc(length)) : nullptr;
  if (requester->headerLines) {
    requester->headerLines[0] = 0;
    for (size_t i = 0; i < http.headerCount; i++) {
      if (i == http.presetHeaderCount) requester->givenHeadersAt = strlen(requester->headerLines);
      strcat(requester->headerLines, lines[i]);
      strcat(requester->headerLines, "\r\n");
    }
    if (http.headerCount <= http.presetHeaderCount) requester->givenHeadersAt = strlen(requester->headerLines);
    requester->headersToSend = requester->headerLines;
  }
  for (size_t i = 0; i < http.headerCount; i++) {
    if (lines[i]) SecureZeroMemory(lines[i], strlen(lines[i]));
    free(lines[i]);
  }
  return requester->headerLines != nullptr;
}

// "host", "host:port" or "[v6]:port", as the URL had it.
static bool BuildHostValue(HttpRequester* requester) {
  const UrlTemplate& target = requester->http.target;
  char* host = Utf8FromWide(Wide(target.host));
  if (!host) return false;
  size_t size = strlen(host) + 16;
  requester->host = static_cast<char*>(malloc(size));
  if (requester->host) {
    bool bracketed = strchr(host, ':') != nullptr;
    bool defaultPort = target.port == (target.secure ? 443 : 80);
    snprintf(requester->host, size, bracketed ? "[%s]" : "%s", host);
    if (!defaultPort) snprintf(requester->host + strlen(requester->host), 8, ":%u", unsigned(target.port));
  }
  free(host);
  return requester->host != nullptr;
}

static wchar_t* PasswordFromEnvironment(const wchar_t* name) {
  DWORD length = GetEnvironmentVariableW(name, nullptr, 0);
  wchar_t* password = length ? static_cast<wchar_t*>(malloc(length * sizeof(wchar_t))) : nullptr;
  if (password && GetEnvironmentVariableW(name, password, length) >= length) {
    free(password);
    password = nullptr;
  }
  return password;
}

// The password from whichever source the options name; true without one.
static bool ReadPassword(HttpRequester* requester, char* problem, size_t size) {
  const HttpOptions& http = requester->http;
  if (http.password) {
    requester->password = _wcsdup(Wide(http.password));
  } else if (http.passwordVariable) {
    requester->password = PasswordFromEnvironment(Wide(http.passwordVariable));
    if (!requester->password) {
      char* name = Utf8FromWide(Wide(http.passwordVariable));
      RefuseWith(problem, size, "the environment variable %s of --http-password-env is not set", name ? name : "");
      free(name);
      return false;
    }
  } else if (http.protectedPassword) {
    requester->password = UnprotectPassword(http.protectedPassword);
    if (!requester->password)
      return RefuseWith(problem, size,
                        "the http-password-protected password cannot be unprotected for this user; store it again "
                        "with dial-service.exe --store-password");
  } else {
    return true;
  }
  if (!requester->password) return RefuseWith(problem, size, "out of memory");
  requester->passwordUtf8 = Utf8FromWide(requester->password);
  if (http.user) requester->userUtf8 = Utf8FromWide(Wide(http.user));
  if (requester->passwordUtf8 && (!http.user || requester->userUtf8)) return true;
  return RefuseWith(problem, size, "out of memory");
}

static char16_t* CopyText(const char16_t* text) {
  return reinterpret_cast<char16_t*>(_wcsdup(Wide(text)));
}

// The path and body templates become the requester's own; the other texts of
// the options were read into the requester at its opening and are let go.
static bool KeepTemplates(HttpRequester* requester) {
  HttpOptions& http = requester->http;
  requester->pathTemplate = CopyText(http.target.path);
  requester->bodyTemplate = http.body ? CopyText(http.body) : nullptr;
  requester->statusPathTemplate = http.hangUp.statusPath ? CopyText(http.hangUp.statusPath) : nullptr;
  if (!requester->pathTemplate || (http.body && !requester->bodyTemplate) ||
      (http.hangUp.statusPath && !requester->statusPathTemplate))
    return false;
  http.target.path = requester->pathTemplate;
  http.body = requester->bodyTemplate;
  http.url = nullptr;
  http.hangUp = HangUpRequest{};
  http.headerCount = 0;
  http.user = http.password = http.passwordVariable = http.protectedPassword = nullptr;
  return true;
}

HttpRequester* OpenHttpRequester(const HttpOptions& http, char* problem, size_t size) {
  HttpRequester* requester = static_cast<HttpRequester*>(calloc(1, sizeof(HttpRequester)));
  WSADATA data;
  if (!requester || WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    free(requester);
    RefuseWith(problem, size, requester ? "Windows Sockets cannot be started" : "out of memory");
    return nullptr;
  }
  requester->http = http;
  if (!ReadPassword(requester, problem, size)) {
    CloseHttpRequester(requester);
    return nullptr;
  }
  if (!BuildHeaderLines(requester) || !BuildHostValue(requester) || !KeepTemplates(requester)) {
    RefuseWith(problem, size, "out of memory");
    CloseHttpRequester(requester);
    return nullptr;
  }
  return requester;
}

void CloseHttpRequester(HttpRequester* requester) {
  if (!requester) return;
  DropConnection(requester);
  if (requester->passwordUtf8) SecureZeroMemory(requester->passwordUtf8, strlen(requester->passwordUtf8));
  if (requester->password) SecureZeroMemory(requester->password, wcslen(requester->password) * sizeof(wchar_t));
  // The expanded URL, body and credentials may hold the password too.
  SecureZeroMemory(requester->path, sizeof requester->path);
  SecureZeroMemory(requester->bodyText, sizeof requester->bodyText);
  SecureZeroMemory(requester->body, sizeof requester->body);
  SecureZeroMemory(requester->target, sizeof requester->target);
  SecureZeroMemory(requester->authorization, sizeof requester->authorization);
  SecureZeroMemory(&requester->auth, sizeof requester->auth);
  // A header may carry a token (Authorization: Bearer ...).
  if (requester->headerLines) SecureZeroMemory(requester->headerLines, strlen(requester->headerLines));
  free(requester->pathTemplate);
  free(requester->bodyTemplate);
  free(requester->statusPathTemplate);
  free(requester->host);
  free(requester->headerLines);
  free(requester->userUtf8);
  free(requester->passwordUtf8);
  free(requester->password);
  free(requester);
  WSACleanup();
}

HttpRequester* OpenHangUpRequester(const HttpOptions& http, char* problem, size_t size) {
  const HangUpRequest& request = http.hangUp;
  if (!request.url) {
    RefuseWith(problem, size,
               "there is no way to hang up: --phone KIND knows it, a hand-written --http needs --http-hang-up URL");
    return nullptr;
  }
  // The hang-up in place of the dial request, with the same credentials,
  // time-out and certificate rule, and the given --http-header lines.
  HttpOptions hangUp = http;
  hangUp.url = request.url;
  hangUp.target = request.target;
  hangUp.post = request.method == kHttpPost;
  hangUp.body = request.body;
  size_t count = 0;
  for (size_t i = 0; i < request.headerCount; i++) hangUp.headers[count++] = request.headers[i];
  for (size_t i = http.presetHeaderCount; i < http.headerCount && count < kMaxHttpHeaders; i++)
    hangUp.headers[count++] = http.headers[i];
  hangUp.headerCount = count;
  hangUp.presetHeaderCount = request.headerCount;
  HttpRequester* requester = OpenHttpRequester(hangUp, problem, size);
  if (requester) {
    requester->hangingUp = true;
    requester->hangUpMethod = request.method;
  }
  return requester;
}
