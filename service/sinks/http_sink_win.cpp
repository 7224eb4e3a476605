// --http and --phone: each accepted number becomes one HTTP(S) request, made by
// one worker thread in order of arrival, so that the dialer is answered at
// once and a slow phone never holds up the next "pong". The outcome of each
// request (the status and the time taken, or the error and its reason) goes to
// the log.
#include <windows.h>

#include <string.h>

#include "service/log/service_log_win.h"
#include "service/number/phone_number.h"
#include "service/sinks/http_requester_win.h"
#include "service/sinks/number_sinks.h"

// Clicks that may wait for the worker; more would mean the phone is gone for
// good, and each further number is logged as not requested.
static const size_t kQueueLimit = 64;
// An outcome line: the number, the status text and a reason.
static const size_t kMaxOutcome = 1024;

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

static unsigned long requestTimeoutMs;
static HttpRequester* requester;
static HANDLE worker;

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
    char outcome[kMaxOutcome];
    RequestDialledNumber(requester, job.number, outcome, sizeof outcome);
    LogLine("%s", outcome);
    AcquireSRWLockExclusive(&queueLock);
    working = false;
    WakeAllConditionVariable(&queueChanged);
  }
  ReleaseSRWLockExclusive(&queueLock);
  return 0;
}

static int PrepareHttp(const SinkOptions& options) {
  char problem[512];
  requester = OpenHttpRequester(options.http, problem, sizeof problem);
  if (!requester) {
    ReportProblem("%s", problem);
    return 2;
  }
  requestTimeoutMs = options.http.timeoutMs;
  stopping = false;
  worker = CreateThread(nullptr, 0, Work, nullptr, 0, nullptr);
  if (!worker) {
    ReportProblem("the HTTP worker cannot be started, error %lu", GetLastError());
    CloseHttpRequester(requester);
    requester = nullptr;
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
  unsigned long long bound = 1000ULL + timeoutMs + pending * 8ULL * requestTimeoutMs;
  DWORD wait = bound > 0x7FFFFFFF ? 0x7FFFFFFF : DWORD(bound);
  if (WaitForSingleObject(worker, wait) != WAIT_OBJECT_0) {
    LogLine("http: requests still under way are given up");
    return;  // the worker may still use the requester, so it stays
  }
  CloseHandle(worker);
  worker = nullptr;
  CloseHttpRequester(requester);
  requester = nullptr;
}

const NumberSink kHttpSink = {"http", PrepareHttp, Deliver, NeverBusy, CheckNothing, Finish};
