// Basic authentication is WinHTTP's own; Digest is answered here, because
// WinHTTP under Wine does not.
#include "service/sinks/http_requester_win.h"

#include <windows.h>
#include <winhttp.h>
#include <winsock2.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "service/number/log_text.h"
#include "service/number/service_text.h"
#include "service/sinks/digest_hash_win.h"
#include "service/sinks/http_digest.h"
#include "service/sinks/password_protection_win.h"
#include "service/sinks/phone_presets.h"

static const size_t kMaxPath = 8192;
static const size_t kMaxBody = 65536;
static const size_t kMaxChallenge = 4096;

struct HttpRequester {
  const HttpOptions* http;
  HINTERNET session;
  HINTERNET connection;
  wchar_t* headerBlock;  // every header, each ended by CRLF; null without any
  char* userUtf8;
  char* passwordUtf8;
  wchar_t* password;     // null when no source gives one
  DWORD secureFailure;   // what WinHTTP reported about the last certificate
  char16_t path[kMaxPath];
  char16_t bodyText[kMaxBody];
  char body[3 * kMaxBody];
  wchar_t challenge[kMaxChallenge];
  char challengeUtf8[3 * kMaxChallenge];
  char authorization[4 * kMaxChallenge];
  wchar_t authorizationLine[4 * kMaxChallenge];
};

static const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

static char* Utf8FromWide(const wchar_t* text) {
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  char* utf8 = bytes > 0 ? static_cast<char*>(malloc(size_t(bytes))) : nullptr;
  if (utf8) WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, bytes, nullptr, nullptr);
  return utf8;
}


// Why a request failed, in words a user can act on.
static const char* DescribeWinHttpError(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:  // what Wine reports
      return "the server did not answer within --http-timeout";
    case ERROR_WINHTTP_CANNOT_CONNECT: return "the server cannot be reached (nothing listens there)";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: return "the host name is not known";
    case ERROR_WINHTTP_CONNECTION_ERROR: return "the connection broke off";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: return "the answer is not HTTP";
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
      return "the server's certificate is not trusted (--http-insecure accepts a phone's self-signed certificate)";
    // Wine reports an untrusted certificate this way.
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
      return "no secure connection could be agreed: an untrusted certificate or no common TLS version "
             "(--http-insecure accepts a phone's self-signed certificate)";
    case ERROR_WINHTTP_REDIRECT_FAILED: return "a redirection could not be followed";
    default: return "WinHTTP failed";
  }
}

// The response body is read and dropped, so that a request can be sent again.
static void DrainResponse(HINTERNET request) {
  char scratch[4096];
  DWORD available = 0;
  while (WinHttpQueryDataAvailable(request, &available) && available > 0) {
    DWORD got = 0;
    if (!WinHttpReadData(request, scratch, available < sizeof scratch ? available : sizeof scratch, &got) || !got)
      break;
  }
}

static DWORD StatusCode(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof status;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                      &status, &size, WINHTTP_NO_HEADER_INDEX);
  return status;
}

// The server's reason phrase as one short line of log text (kMaxFormattedTextSize bytes).
static void StatusText(HINTERNET request, char* text, size_t size) {
  text[0] = 0;
  DWORD bytes = 0;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_TEXT, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                      &bytes, WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || !bytes) return;
  wchar_t* wide = static_cast<wchar_t*>(malloc(bytes + sizeof(wchar_t)));
  char* utf8 = nullptr;
  int units = 0, length = 0;
  if (wide && WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_TEXT, WINHTTP_HEADER_NAME_BY_INDEX, wide, &bytes,
                                  WINHTTP_NO_HEADER_INDEX)) {
    units = int(bytes / sizeof(wchar_t));
    length = units ? WideCharToMultiByte(CP_UTF8, 0, wide, units, nullptr, 0, nullptr, nullptr) : 0;
    utf8 = length > 0 ? static_cast<char*>(malloc(size_t(length))) : nullptr;
  }
  if (utf8 && WideCharToMultiByte(CP_UTF8, 0, wide, units, utf8, length, nullptr, nullptr) == length)
    FormatTextForLog(utf8, size_t(length), text, size);
  free(utf8);
  free(wide);
}

enum Challenge { kChallengeNone, kChallengeBasic, kChallengeDigest };

// The strongest challenge the 401 offers: Digest with SHA-256, Digest with
// MD5, then Basic.
static Challenge ChooseChallenge(HttpRequester* requester, HINTERNET request, DigestChallenge* digest) {
  Challenge chosen = kChallengeNone;
  char* text = requester->challengeUtf8;
  for (DWORD index = 0;;) {
    DWORD bytes = sizeof requester->challenge;
    DWORD before = index;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_WWW_AUTHENTICATE, WINHTTP_HEADER_NAME_BY_INDEX,
                             requester->challenge, &bytes, &index))
      break;
    if (index == before) index++;
    if (!WideCharToMultiByte(CP_UTF8, 0, requester->challenge, -1, text, sizeof requester->challengeUtf8, nullptr,
                             nullptr))
      continue;
    DigestChallenge offered;
    if (ParseDigestChallenge(text, &offered)) {
      if (chosen != kChallengeDigest || (offered.algorithm == kDigestSha256 && digest->algorithm != kDigestSha256)) {
        *digest = offered;
        chosen = kChallengeDigest;
      }
    } else if (chosen == kChallengeNone && _strnicmp(text, "Basic", 5) == 0 && (text[5] == ' ' || !text[5])) {
      chosen = kChallengeBasic;
    }
  }
  return chosen;
}

// The request's context value is its requester.
static void CALLBACK NoteSecureFailure(HINTERNET, DWORD_PTR context, DWORD status, void* information, DWORD length) {
  if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && context && information && length >= sizeof(DWORD))
    reinterpret_cast<HttpRequester*>(context)->secureFailure = *static_cast<DWORD*>(information);
}

static HINTERNET OpenRequest(HttpRequester* requester) {
  const HttpOptions& http = *requester->http;
  HINTERNET request = WinHttpOpenRequest(requester->connection, http.post ? L"POST" : L"GET", Wide(requester->path),
                                         nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                         http.target.secure ? WINHTTP_FLAG_SECURE : 0);
  if (!request) return nullptr;
  int timeout = int(http.timeoutMs);
  WinHttpSetTimeouts(request, timeout, timeout, timeout, timeout);
  // WinHttpReceiveResponse has a limit of its own (90 s by default).
  DWORD responseTimeout = http.timeoutMs;
  WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout, sizeof responseTimeout);
  requester->secureFailure = 0;
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(requester);
  WinHttpSetOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context);
  WinHttpSetStatusCallback(request, NoteSecureFailure, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);
  if (http.insecure) {
    DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                  SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
    WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  }
  if (requester->headerBlock)
    WinHttpAddRequestHeaders(request, requester->headerBlock, DWORD(-1), WINHTTP_ADDREQ_FLAG_ADD);
  return request;
}

static bool Send(HttpRequester* requester, HINTERNET request, size_t bodyLength) {
  bool post = requester->http->post;
  void* data = post ? requester->body : WINHTTP_NO_REQUEST_DATA;
  DWORD length = post ? DWORD(bodyLength) : 0;
  return WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, data, length, length, 0) &&
         WinHttpReceiveResponse(request, nullptr);
}

static bool BuildDigestLine(HttpRequester* requester, const DigestChallenge& digest) {
  char cnonce[33];
  char* uri = Utf8FromWide(Wide(requester->path));
  bool built = false;
  if (uri && RandomHex(16, cnonce)) {
    DigestAnswer answer = {requester->userUtf8, requester->passwordUtf8, requester->http->post ? "POST" : "GET", uri,
                           cnonce, 1};
    static const char kPrefix[] = "Authorization: ";
    char* authorization = requester->authorization;
    strcpy(authorization, kPrefix);
    built = BuildDigestAuthorization(digest, answer, DigestHashHex, authorization + sizeof kPrefix - 1,
                                     sizeof requester->authorization - sizeof kPrefix) > 0;
  }
  free(uri);
  return built && MultiByteToWideChar(CP_UTF8, 0, requester->authorization, -1, requester->authorizationLine,
                                      int(sizeof requester->authorizationLine / sizeof(wchar_t))) > 0;
}

// Answers a 401 once with the credentials; false with the WinHTTP error set
// when sending again failed. *answered tells whether there was a scheme to answer.
static bool Authenticate(HttpRequester* requester, HINTERNET request, size_t bodyLength, bool* answered,
                         const char** refusal) {
  DigestChallenge digest;
  Challenge challenge = ChooseChallenge(requester, request, &digest);
  *answered = false;
  if (challenge == kChallengeNone) {
    *refusal = "the server asks for neither Basic nor Digest authentication";
    return true;
  }
  DrainResponse(request);
  if (challenge == kChallengeBasic) {
    if (!WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_SERVER, WINHTTP_AUTH_SCHEME_BASIC,
                               Wide(requester->http->user), requester->password, nullptr))
      return false;
  } else {
    if (!BuildDigestLine(requester, digest)) {
      *refusal = "the Digest challenge cannot be answered";
      return true;
    }
    if (!WinHttpAddRequestHeaders(request, requester->authorizationLine, DWORD(-1),
                                  WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
      return false;
  }
  *answered = true;
  return Send(requester, request, bodyLength);
}

static const char16_t* PasswordText(const HttpRequester* requester) {
  return reinterpret_cast<const char16_t*>(requester->password);
}

// The URL's path and the body for one number; false with the outcome said.
static bool ExpandRequest(HttpRequester* requester, const char* dialled, size_t* bodyLength, char* outcome,
                          size_t size) {
  const HttpOptions& http = *requester->http;
  if (ExpandRequestFields(http.target.path, dialled, PasswordText(requester), true, requester->path, kMaxPath) ==
      SIZE_MAX)
    return RefuseWith(outcome, size, "http %s: not requested, the URL would be longer than %u characters", dialled,
               unsigned(kMaxPath));
  *bodyLength = 0;
  if (!http.post || !http.body) return true;
  if (ExpandRequestFields(http.body, dialled, PasswordText(requester), false, requester->bodyText, kMaxBody) ==
      SIZE_MAX)
    return RefuseWith(outcome, size, "http %s: not requested, the body would be longer than %u characters", dialled,
               unsigned(kMaxBody));
  int bytes = WideCharToMultiByte(CP_UTF8, 0, Wide(requester->bodyText), -1, requester->body, sizeof requester->body,
                                  nullptr, nullptr);
  *bodyLength = bytes > 0 ? size_t(bytes) - 1 : 0;
  return true;
}

bool RequestDialledNumber(HttpRequester* requester, const char* dialled, char* outcome, size_t size) {
  DWORD start = GetTickCount();
  size_t bodyLength = 0;
  if (!ExpandRequest(requester, dialled, &bodyLength, outcome, size)) return false;
  HINTERNET request = OpenRequest(requester);
  bool sent = request && Send(requester, request, bodyLength);
  const char* refusal = nullptr;
  if (sent && StatusCode(request) == HTTP_STATUS_DENIED) {
    bool answered = false;
    if (!requester->http->user || !requester->password)
      refusal = "the server asks for a user name and password (--http-user)";
    else
      sent = Authenticate(requester, request, bodyLength, &answered, &refusal);
    if (sent && answered && StatusCode(request) == HTTP_STATUS_DENIED) refusal = "the server refused the credentials";
  }
  DWORD error = sent ? 0 : GetLastError();
  unsigned long spent = GetTickCount() - start;
  bool accepted = false;
  if (!sent) {
    const char* reason = DescribeWinHttpError(error);
    if (requester->secureFailure &
        (WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA | WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID |
         WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID | WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT))
      reason = DescribeWinHttpError(ERROR_WINHTTP_SECURE_INVALID_CA);
    snprintf(outcome, size, "http %s: failed after %lu ms: %s (error %lu)", dialled, spent, reason, error);
  } else {
    DWORD status = StatusCode(request);
    char statusText[kMaxFormattedTextSize];
    StatusText(request, statusText, sizeof statusText);
    DrainResponse(request);
    accepted = !refusal && status >= 200 && status < 300;
    const char* hint = PresetFailureHint(PhoneKind(requester->http->phoneKind), status);
    if (refusal)
      snprintf(outcome, size, "http %s: %lu %s in %lu ms: %s", dialled, status, statusText, spent, refusal);
    else if (accepted)
      snprintf(outcome, size, "http %s: %lu %s in %lu ms", dialled, status, statusText, spent);
    else
      snprintf(outcome, size, "http %s: %lu %s in %lu ms: %s", dialled, status, statusText, spent,
               hint ? hint : "the server did not accept the request");
  }
  if (request) WinHttpCloseHandle(request);
  return accepted;
}

static bool BuildHeaderBlock(HttpRequester* requester) {
  const HttpOptions& http = *requester->http;
  if (http.headerCount == 0) return true;
  size_t length = 1;
  for (size_t i = 0; i < http.headerCount; i++) length += wcslen(Wide(http.headers[i])) + 2;
  requester->headerBlock = static_cast<wchar_t*>(malloc(length * sizeof(wchar_t)));
  if (!requester->headerBlock) return false;
  requester->headerBlock[0] = 0;
  for (size_t i = 0; i < http.headerCount; i++) {
    wcscat(requester->headerBlock, Wide(http.headers[i]));
    wcscat(requester->headerBlock, L"\r\n");
  }
  return true;
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
  const HttpOptions& http = *requester->http;
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
                 "the http-password-protected password cannot be unprotected for this user; store it again with "
                 "dial-service.exe --store-password");
  } else {
    return true;
  }
  if (!requester->password) return RefuseWith(problem, size, "out of memory");
  requester->passwordUtf8 = Utf8FromWide(requester->password);
  if (http.user) requester->userUtf8 = Utf8FromWide(Wide(http.user));
  if (requester->passwordUtf8 && (!http.user || requester->userUtf8)) return true;
  return RefuseWith(problem, size, "out of memory");
}

HttpRequester* OpenHttpRequester(const HttpOptions& http, char* problem, size_t size) {
  HttpRequester* requester = static_cast<HttpRequester*>(calloc(1, sizeof(HttpRequester)));
  if (!requester) {
    RefuseWith(problem, size, "out of memory");
    return nullptr;
  }
  requester->http = &http;
  if (!ReadPassword(requester, problem, size)) {
    CloseHttpRequester(requester);
    return nullptr;
  }
  if (!BuildHeaderBlock(requester)) {
    RefuseWith(problem, size, "out of memory");
    CloseHttpRequester(requester);
    return nullptr;
  }
  // No proxy: a desk phone or a PBX sits in the same network.
  requester->session = WinHttpOpen(L"teldial-dial-service/1.0", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                   WINHTTP_NO_PROXY_BYPASS, 0);
  if (requester->session)
    requester->connection = WinHttpConnect(requester->session, Wide(http.target.host), http.target.port, 0);
  if (!requester->connection) {
    RefuseWith(problem, size, "WinHTTP cannot be started, error %lu", GetLastError());
    CloseHttpRequester(requester);
    return nullptr;
  }
  return requester;
}

void CloseHttpRequester(HttpRequester* requester) {
  if (!requester) return;
  if (requester->connection) WinHttpCloseHandle(requester->connection);
  if (requester->session) WinHttpCloseHandle(requester->session);
  if (requester->passwordUtf8) SecureZeroMemory(requester->passwordUtf8, strlen(requester->passwordUtf8));
  if (requester->password) SecureZeroMemory(requester->password, wcslen(requester->password) * sizeof(wchar_t));
  // The expanded URL and body may hold the password too.
  SecureZeroMemory(requester->path, sizeof requester->path);
  SecureZeroMemory(requester->bodyText, sizeof requester->bodyText);
  SecureZeroMemory(requester->body, sizeof requester->body);
  free(requester->headerBlock);
  free(requester->userUtf8);
  free(requester->passwordUtf8);
  free(requester->password);
  free(requester);
}
