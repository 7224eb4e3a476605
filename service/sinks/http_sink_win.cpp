// --http: each accepted number becomes one HTTP(S) request, made by one worker
// thread in order of arrival, so that the dialer is answered at once and a
// slow phone never holds up the next "pong". The outcome of each request (the
// status and the time taken, or the error and its reason) goes to the log.
// Basic authentication is WinHTTP's own; Digest is answered here, because
// WinHTTP under Wine does not.
#include <windows.h>
#include <winhttp.h>
#include <winsock2.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "service/sinks/digest_hash_win.h"
#include "service/sinks/http_digest.h"
#include "service/sinks/number_sinks.h"
#include "service/number/phone_number.h"
#include "service/log/service_log_win.h"

// Clicks that may wait for the worker; more would mean the phone is gone for
// good, and each further number is logged as not requested.
static const size_t kQueueLimit = 64;
static const size_t kMaxPath = 8192;
static const size_t kMaxBody = 65536;
static const size_t kMaxChallenge = 4096;

struct Job {
  char number[kMaxNumberLength + 1];
};

static SRWLOCK queueLock = SRWLOCK_INIT;
static CONDITION_VARIABLE queueChanged = CONDITION_VARIABLE_INIT;
static Job queue[kQueueLimit];
static size_t queueHead;
static size_t queueCount;
static bool working;   // the worker is making a request
static bool stopping;  // the worker ends once the queue is empty

static const HttpOptions* http;
static HANDLE worker;
static HINTERNET session;
static HINTERNET connection;
static wchar_t* headerBlock;  // every --http-header, each ended by CRLF; null without any
static char* userUtf8;
static char* passwordUtf8;
static wchar_t* password;  // from --http-password or the environment
// The worker's buffers.
static char16_t path[kMaxPath];
static char16_t bodyText[kMaxBody];
static char body[3 * kMaxBody];
static char authorization[4 * kMaxChallenge];

static char* Utf8FromWide(const wchar_t* text) {
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  char* utf8 = bytes > 0 ? static_cast<char*>(malloc(size_t(bytes))) : nullptr;
  if (utf8) WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, bytes, nullptr, nullptr);
  return utf8;
}

static const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

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

static void StatusText(HINTERNET request, char* text, size_t size) {
  wchar_t wide[128];
  DWORD bytes = sizeof wide;
  text[0] = 0;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_TEXT, WINHTTP_HEADER_NAME_BY_INDEX, wide, &bytes,
                           WINHTTP_NO_HEADER_INDEX))
    return;
  int written = WideCharToMultiByte(CP_UTF8, 0, wide, int(bytes / sizeof(wchar_t)), text, int(size) - 1, nullptr,
                                    nullptr);
  text[written > 0 ? written : 0] = 0;
  for (char* c = text; *c; c++)
    if ((unsigned char)*c < 0x20) *c = '?';
}

enum Challenge { kChallengeNone, kChallengeBasic, kChallengeDigest };

// The strongest challenge the 401 offers: Digest with SHA-256, Digest with
// MD5, then Basic.
static Challenge ChooseChallenge(HINTERNET request, DigestChallenge* digest) {
  Challenge chosen = kChallengeNone;
  static wchar_t header[kMaxChallenge];
  static char text[3 * kMaxChallenge];
  for (DWORD index = 0;;) {
    DWORD bytes = sizeof header;
    DWORD before = index;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_WWW_AUTHENTICATE, WINHTTP_HEADER_NAME_BY_INDEX, header, &bytes,
                             &index))
      break;
    if (index == before) index++;
    if (!WideCharToMultiByte(CP_UTF8, 0, header, -1, text, sizeof text, nullptr, nullptr)) continue;
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

// What WinHTTP reported about the certificate of the last request.
static DWORD secureFailure;

static void CALLBACK NoteSecureFailure(HINTERNET, DWORD_PTR, DWORD status, void* information, DWORD length) {
  if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && information && length >= sizeof(DWORD))
    secureFailure = *static_cast<DWORD*>(information);
}

static HINTERNET OpenRequest() {
  HINTERNET request = WinHttpOpenRequest(connection, http->post ? L"POST" : L"GET", Wide(path), nullptr,
                                         WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                         http->target.secure ? WINHTTP_FLAG_SECURE : 0);
  if (!request) return nullptr;
  int timeout = int(http->timeoutMs);
  WinHttpSetTimeouts(request, timeout, timeout, timeout, timeout);
  // WinHttpReceiveResponse has a limit of its own (90 s by default).
  DWORD responseTimeout = http->timeoutMs;
  WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout, sizeof responseTimeout);
  secureFailure = 0;
  WinHttpSetStatusCallback(request, NoteSecureFailure, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);
  if (http->insecure) {
    DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                  SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
    WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  }
  if (headerBlock) WinHttpAddRequestHeaders(request, headerBlock, DWORD(-1), WINHTTP_ADDREQ_FLAG_ADD);
  return request;
}

static bool Send(HINTERNET request, size_t bodyLength) {
  void* data = http->post ? body : WINHTTP_NO_REQUEST_DATA;
  DWORD length = http->post ? DWORD(bodyLength) : 0;
  return WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, data, length, length, 0) &&
         WinHttpReceiveResponse(request, nullptr);
}

// Answers a 401 once with the credentials; false with the WinHTTP error set
// when sending again failed. *answered tells whether there was a scheme to answer.
static bool Authenticate(HINTERNET request, size_t bodyLength, bool* answered, const char** refusal) {
  DigestChallenge digest;
  Challenge challenge = ChooseChallenge(request, &digest);
  *answered = false;
  if (challenge == kChallengeNone) {
    *refusal = "the server asks for neither Basic nor Digest authentication";
    return true;
  }
  DrainResponse(request);
  if (challenge == kChallengeBasic) {
    if (!WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_SERVER, WINHTTP_AUTH_SCHEME_BASIC, Wide(http->user),
                               password, nullptr))
      return false;
  } else {
    char cnonce[33];
    char* uri = Utf8FromWide(Wide(path));
    bool built = false;
    if (uri && RandomHex(16, cnonce)) {
      DigestAnswer answer = {userUtf8, passwordUtf8, http->post ? "POST" : "GET", uri, cnonce, 1};
      static const char kPrefix[] = "Authorization: ";
      strcpy(authorization, kPrefix);
      built = BuildDigestAuthorization(digest, answer, DigestHashHex, authorization + sizeof kPrefix - 1,
                                       sizeof authorization - sizeof kPrefix) > 0;
    }
    free(uri);
    if (!built) {
      *refusal = "the Digest challenge cannot be answered";
      return true;
    }
    static wchar_t line[4 * kMaxChallenge];
    MultiByteToWideChar(CP_UTF8, 0, authorization, -1, line, int(sizeof line / sizeof line[0]));
    if (!WinHttpAddRequestHeaders(request, line, DWORD(-1), WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
      return false;
  }
  *answered = true;
  return Send(request, bodyLength);
}

// One number, one request: the outcome goes to the log.
static void Request(const char* number) {
  DWORD start = GetTickCount();
  if (ExpandNumberField(http->target.path, number, true, path, kMaxPath) == SIZE_MAX) {
    LogLine("http %s: not requested, the URL would be longer than %u characters", number, unsigned(kMaxPath));
    return;
  }
  size_t bodyLength = 0;
  if (http->post && http->body) {
    if (ExpandNumberField(http->body, number, false, bodyText, kMaxBody) == SIZE_MAX) {
      LogLine("http %s: not requested, the body would be longer than %u characters", number, unsigned(kMaxBody));
      return;
    }
    int bytes = WideCharToMultiByte(CP_UTF8, 0, Wide(bodyText), -1, body, sizeof body, nullptr, nullptr);
    bodyLength = bytes > 0 ? size_t(bytes) - 1 : 0;
  }
  HINTERNET request = OpenRequest();
  bool sent = request && Send(request, bodyLength);
  const char* refusal = nullptr;
  if (sent && StatusCode(request) == HTTP_STATUS_DENIED) {
    bool answered = false;
    if (!http->user)
      refusal = "the server asks for a user name and password (--http-user)";
    else
      sent = Authenticate(request, bodyLength, &answered, &refusal);
    if (sent && answered && StatusCode(request) == HTTP_STATUS_DENIED) refusal = "the server refused the credentials";
  }
  DWORD error = sent ? 0 : GetLastError();
  unsigned long spent = GetTickCount() - start;
  if (!sent) {
    const char* reason = DescribeWinHttpError(error);
    if (secureFailure & (WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA | WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID |
                         WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID | WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT))
      reason = DescribeWinHttpError(ERROR_WINHTTP_SECURE_INVALID_CA);
    LogLine("http %s: failed after %lu ms: %s (error %lu)", number, spent, reason, error);
  } else {
    DWORD status = StatusCode(request);
    char statusText[128];
    StatusText(request, statusText, sizeof statusText);
    DrainResponse(request);
    if (refusal)
      LogLine("http %s: %lu %s in %lu ms: %s", number, status, statusText, spent, refusal);
    else if (status >= 200 && status < 300)
      LogLine("http %s: %lu %s in %lu ms", number, status, statusText, spent);
    else
      LogLine("http %s: %lu %s in %lu ms: the server did not accept the request", number, status, statusText, spent);
  }
  if (request) WinHttpCloseHandle(request);
}

static DWORD WINAPI Work(void*) {
  AcquireSRWLockExclusive(&queueLock);
  for (;;) {
    while (queueCount == 0 && !stopping) SleepConditionVariableSRW(&queueChanged, &queueLock, INFINITE, 0);
    if (queueCount == 0) break;
    Job job = queue[queueHead];
    queueHead = (queueHead + 1) % kQueueLimit;
    queueCount--;
    working = true;
    ReleaseSRWLockExclusive(&queueLock);
    Request(job.number);
    AcquireSRWLockExclusive(&queueLock);
    working = false;
    WakeAllConditionVariable(&queueChanged);
  }
  ReleaseSRWLockExclusive(&queueLock);
  return 0;
}

static bool BuildHeaderBlock() {
  if (http->headerCount == 0) return true;
  size_t length = 1;
  for (size_t i = 0; i < http->headerCount; i++) length += wcslen(Wide(http->headers[i])) + 2;
  headerBlock = static_cast<wchar_t*>(malloc(length * sizeof(wchar_t)));
  if (!headerBlock) return false;
  headerBlock[0] = 0;
  for (size_t i = 0; i < http->headerCount; i++) {
    wcscat(headerBlock, Wide(http->headers[i]));
    wcscat(headerBlock, L"\r\n");
  }
  return true;
}

static bool ReadPassword() {
  if (!http->user) return true;
  if (http->password) {
    password = _wcsdup(Wide(http->password));
  } else {
    DWORD length = GetEnvironmentVariableW(Wide(http->passwordVariable), nullptr, 0);
    if (length == 0) {
      ReportProblemAbout("the environment variable ", Wide(http->passwordVariable), " of --http-password-env is not set");
      return false;
    }
    password = static_cast<wchar_t*>(malloc(length * sizeof(wchar_t)));
    if (password && GetEnvironmentVariableW(Wide(http->passwordVariable), password, length) >= length) {
      free(password);
      password = nullptr;
    }
  }
  userUtf8 = Utf8FromWide(Wide(http->user));
  passwordUtf8 = password ? Utf8FromWide(password) : nullptr;
  if (userUtf8 && passwordUtf8) return true;
  ReportProblem("out of memory");
  return false;
}

static void ReleaseAll() {
  if (connection) WinHttpCloseHandle(connection);
  if (session) WinHttpCloseHandle(session);
  connection = session = nullptr;
  if (passwordUtf8) SecureZeroMemory(passwordUtf8, strlen(passwordUtf8));
  if (password) SecureZeroMemory(password, wcslen(password) * sizeof(wchar_t));
  free(headerBlock);
  free(userUtf8);
  free(passwordUtf8);
  free(password);
  headerBlock = nullptr;
  userUtf8 = passwordUtf8 = nullptr;
  password = nullptr;
}

static int PrepareHttp(const SinkOptions& options) {
  http = &options.http;
  // A sink finished before may be prepared again, with other settings.
  stopping = false;
  if (!ReadPassword()) {
    ReleaseAll();
    return 2;
  }
  if (!BuildHeaderBlock()) {
    ReportProblem("out of memory");
    ReleaseAll();
    return 1;
  }
  // No proxy: a desk phone or a PBX sits in the same network.
  session = WinHttpOpen(L"teldial-dial-service/1.0", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                        WINHTTP_NO_PROXY_BYPASS, 0);
  connection = session ? WinHttpConnect(session, Wide(http->target.host), http->target.port, 0) : nullptr;
  if (connection) worker = CreateThread(nullptr, 0, Work, nullptr, 0, nullptr);
  if (!worker) {
    ReportProblem("WinHTTP cannot be started, error %lu", GetLastError());
    ReleaseAll();
    return 1;
  }
  return 0;
}

static void Deliver(const char* number) {
  AcquireSRWLockExclusive(&queueLock);
  bool queued = queueCount < kQueueLimit;
  if (queued) {
    Job& job = queue[(queueHead + queueCount) % kQueueLimit];
    strncpy(job.number, number, kMaxNumberLength);
    job.number[kMaxNumberLength] = 0;
    queueCount++;
    WakeAllConditionVariable(&queueChanged);
  }
  ReleaseSRWLockExclusive(&queueLock);
  if (!queued) LogLine("http %s: not requested, %u requests are already waiting", number, unsigned(kQueueLimit));
}

// The worker logs by itself; the loop has nothing to look at.
static bool NeverBusy() { return false; }
static void CheckNothing() {}

// Every waiting request still gets its turn, each bounded by its time-outs.
static void Finish(unsigned long timeoutMs) {
  AcquireSRWLockExclusive(&queueLock);
  size_t pending = queueCount + (working ? 1 : 0);
  stopping = true;
  WakeAllConditionVariable(&queueChanged);
  ReleaseSRWLockExclusive(&queueLock);
  // A request may send twice (for authentication), each send bounded by four
  // time-outs; an idle worker needs a moment to see that it may end.
  unsigned long long bound = 1000ULL + timeoutMs + pending * 8ULL * http->timeoutMs;
  DWORD wait = bound > 0x7FFFFFFF ? 0x7FFFFFFF : DWORD(bound);
  if (WaitForSingleObject(worker, wait) != WAIT_OBJECT_0) {
    LogLine("http: requests still under way are given up");
    return;  // the worker may still use the handles, so they stay
  }
  CloseHandle(worker);
  worker = nullptr;
  ReleaseAll();
}

const NumberSink kHttpSink = {"http", PrepareHttp, Deliver, NeverBusy, CheckNothing, Finish};
