// --http and --phone: each accepted number becomes one HTTP(S) request, made by
// one worker thread in order of arrival, so that the dialer is answered at
// once and a slow phone never holds up the next "pong". Between clicks the
// worker keeps a connection to the phone open, so that a click finds it
// ready. The outcome of each request (the status and the time taken, or what
// went wrong) goes to the log.
#include <windows.h>

#include <string.h>

#include "service/log/service_log_win.h"
#include "service/number/dialing_rules.h"
#include "service/sinks/http_requester_win.h"
#include "service/sinks/number_sinks.h"

// Clicks that may wait for the worker; more would mean the phone is gone for
// good, and each further number is logged as not requested.
static const size_t kQueueLimit = 64;
// An outcome line: the number, the status text and a reason.
static const size_t kMaxOutcome = 1024;
// How often a phone that cannot be reached, or that keeps closing an unused
// connection, is connected to between clicks.
static const unsigned long long kReconnectSpacingMs = 30000;

struct Job {
  char number[kMaxDialledLength + 1];
};

static SRWLOCK queueLock = SRWLOCK_INIT;
static HANDLE queueChanged;  // auto-reset: a job came, or the end
static Job queue[kQueueLimit];
static size_t queueHead;
static size_t queueCount;
static bool working;   // the worker is making a request
static bool stopping;  // the worker ends once the queue is empty

static const HttpOptions* http;
static HttpRequester* requester;
static HANDLE worker;

static bool TakeJob(Job* job, bool* stop) {
  AcquireSRWLockExclusive(&queueLock);
  bool taken = queueCount > 0;
  if (taken) {
    *job = queue[queueHead];
    queueHead = (queueHead + 1) % kQueueLimit;
    queueCount--;
  }
  working = taken;
  *stop = !taken && stopping;
  ReleaseSRWLockExclusive(&queueLock);
  return taken;
}

// The connection is opened right away and again whenever it is dropped after
// it carried a request to the server; otherwise (the phone cannot be reached, or it closes
// unused connections) at most once per kReconnectSpacingMs.
static DWORD WINAPI Work(void*) {
  unsigned long long nextConnect = 0;
  bool carriedRequest = false;
  for (;;) {
    Job job;
    bool stop = false;
    if (TakeJob(&job, &stop)) {
      char outcome[kMaxOutcome];
      bool accepted = RequestDialledNumber(requester, job.number, outcome, sizeof outcome);
      LogLine("%s", outcome);
      RequestEnd end = LastRequestEnd(requester);
      if (!accepted) TellFailedDelivery(job.number, outcome, end == kRequestUnanswered);
      carriedRequest = end != kRequestNotSent;
      continue;
    }
    if (stop) break;
    unsigned long long now = GetTickCount64();
    bool open = HttpConnectionOpen(requester);
    if (!open && carriedRequest) nextConnect = now;
    carriedRequest = false;
    if (!open && now >= nextConnect) {
      nextConnect = now + kReconnectSpacingMs;
      WarmHttpConnection(requester);
      continue;
    }
    HANDLE events[2] = {queueChanged, HttpConnectionActivity(requester)};
    WaitForMultipleObjects(open ? 2 : 1, events, FALSE, open ? INFINITE : DWORD(nextConnect - now));
  }
  return 0;
}

static int PrepareHttp(const SinkOptions& options) {
  char problem[512];
  requester = OpenHttpRequester(options.http, problem, sizeof problem);
  if (!requester) {
    ReportProblem("%s", problem);
    return 2;
  }
  http = &options.http;
  stopping = false;
  queueChanged = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  worker = queueChanged ? CreateThread(nullptr, 0, Work, nullptr, 0, nullptr) : nullptr;
  if (!worker) {
    ReportProblem("the HTTP worker cannot be started, error %lu", GetLastError());
    if (queueChanged) CloseHandle(queueChanged);
    queueChanged = nullptr;
    CloseHttpRequester(requester);
    requester = nullptr;
    return 1;
  }
  return 0;
}

static void WarnOfReadablePassword() {
  if (http && PasswordTravelsReadable(*http))
    LogLine(
        "http: warning: the phone is reached over plain http, so its password crosses the network readable "
        "unless the phone asks for Digest (https keeps it private)");
}

static void Deliver(const char* number) {
  AcquireSRWLockExclusive(&queueLock);
  bool queued = queueCount < kQueueLimit;
  if (queued) {
    Job& job = queue[(queueHead + queueCount) % kQueueLimit];
    strncpy(job.number, number, kMaxDialledLength);
    job.number[kMaxDialledLength] = 0;
    queueCount++;
  }
  ReleaseSRWLockExclusive(&queueLock);
  if (queued)
    SetEvent(queueChanged);
  else
    LogLine("http %s: not requested, %u requests are already waiting", number, unsigned(kQueueLimit));
}

// The worker logs by itself; the loop has nothing to look at.
static bool NeverBusy() { return false; }
static void CheckNothing() {}

// Every waiting request still gets its turn, each bounded by --http-timeout,
// after a connection being made, bounded by it too.
static void Finish(unsigned long timeoutMs) {
  AcquireSRWLockExclusive(&queueLock);
  size_t pending = queueCount + (working ? 1 : 0);
  stopping = true;
  ReleaseSRWLockExclusive(&queueLock);
  SetEvent(queueChanged);
  unsigned long long bound = 1000ULL + timeoutMs + (pending + 1) * 1ULL * http->timeoutMs;
  DWORD wait = bound > 0x7FFFFFFF ? 0x7FFFFFFF : DWORD(bound);
  if (WaitForSingleObject(worker, wait) != WAIT_OBJECT_0) {
    LogLine("http: requests still under way are given up");
    return;  // the worker may still use the requester, so it stays
  }
  CloseHandle(worker);
  worker = nullptr;
  CloseHandle(queueChanged);
  queueChanged = nullptr;
  CloseHttpRequester(requester);
  requester = nullptr;
  http = nullptr;
}

const NumberSink kHttpSink = {"http", PrepareHttp, Deliver, NeverBusy, CheckNothing, Finish, WarnOfReadablePassword};
