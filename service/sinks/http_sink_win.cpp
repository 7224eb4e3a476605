// --http and --phone: each accepted number becomes one HTTP(S) request, made by
// one worker thread in order of arrival, so that the dialer is answered at
// once and a slow phone never holds up the next "pong". Between clicks the
// worker keeps a connection to the phone open, so that a click finds it
// ready. The outcome of each request (the status and the time taken, or what
// went wrong) goes to the log.
#include <windows.h>

#include <stdlib.h>
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

// Everything one start of the sink uses, owned by its worker thread: a worker
// that Finish gives up on (after Save, say) still ends its request with its
// own requester and then frees it all, while the next start has its own.
struct HttpWork {
  SRWLOCK lock;
  HANDLE queueChanged;  // auto-reset: a job came, or the end
  Job queue[kQueueLimit];
  size_t queueHead;
  size_t queueCount;
  bool working;    // the worker is making a request
  bool stopping;   // the worker ends once the queue is empty
  bool givenUp;    // Finish waits no more: the worker frees the work when it ends
  bool ended;      // the worker has left its loop
  HttpRequester* requester;
  unsigned long requestTimeoutMs;
  HANDLE thread;
};

static HttpWork* current;
static const HttpOptions* http;  // for the warning at the start only

static void FreeWork(HttpWork* work) {
  if (work->thread) CloseHandle(work->thread);
  if (work->queueChanged) CloseHandle(work->queueChanged);
  CloseHttpRequester(work->requester);  // and wipes its password
  free(work);
}

static bool TakeJob(HttpWork* work, Job* job, bool* stop) {
  AcquireSRWLockExclusive(&work->lock);
  // A worker given up takes no further number: those belong to the settings before.
  bool taken = work->queueCount > 0 && !work->givenUp;
  if (taken) {
    *job = work->queue[work->queueHead];
    work->queueHead = (work->queueHead + 1) % kQueueLimit;
    work->queueCount--;
  }
  work->working = taken;
  *stop = !taken && (work->stopping || work->givenUp);
  ReleaseSRWLockExclusive(&work->lock);
  return taken;
}

// The connection is opened right away and again whenever it is dropped after
// it carried a request to the server; otherwise (the phone cannot be reached, or it closes
// unused connections) at most once per kReconnectSpacingMs.
static DWORD WINAPI Work(void* parameter) {
  HttpWork* work = static_cast<HttpWork*>(parameter);
  HttpRequester* requester = work->requester;
  unsigned long long nextConnect = 0;
  bool carriedRequest = false;
  for (;;) {
    Job job;
    bool stop = false;
    if (TakeJob(work, &job, &stop)) {
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
    HANDLE events[2] = {work->queueChanged, HttpConnectionActivity(requester)};
    WaitForMultipleObjects(open ? 2 : 1, events, FALSE, open ? INFINITE : DWORD(nextConnect - now));
  }
  AcquireSRWLockExclusive(&work->lock);
  work->ended = true;
  bool givenUp = work->givenUp;
  ReleaseSRWLockExclusive(&work->lock);
  if (givenUp) {
    LogLine("http: the request that was given up has ended");
    FreeWork(work);
  }
  return 0;
}

static int PrepareHttp(const SinkOptions& options) {
  char problem[512];
  HttpWork* work = static_cast<HttpWork*>(calloc(1, sizeof(HttpWork)));
  if (!work) {
    ReportProblem("out of memory");
    return 1;
  }
  InitializeSRWLock(&work->lock);
  work->requester = OpenHttpRequester(options.http, problem, sizeof problem);
  if (!work->requester) {
    ReportProblem("%s", problem);
    free(work);
    return 2;
  }
  work->requestTimeoutMs = options.http.timeoutMs;
  work->queueChanged = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  work->thread = work->queueChanged ? CreateThread(nullptr, 0, Work, work, 0, nullptr) : nullptr;
  if (!work->thread) {
    ReportProblem("the HTTP worker cannot be started, error %lu", GetLastError());
    FreeWork(work);
    return 1;
  }
  current = work;
  http = &options.http;
  return 0;
}

static void WarnOfReadablePassword() {
  if (http && PasswordTravelsReadable(*http))
    LogLine(
        "http: warning: the phone is reached over plain http, so its password crosses the network readable "
        "unless the phone asks for Digest (https keeps it private)");
}

static void Deliver(const char* number) {
  HttpWork* work = current;
  AcquireSRWLockExclusive(&work->lock);
  bool queued = work->queueCount < kQueueLimit;
  if (queued) {
    Job& job = work->queue[(work->queueHead + work->queueCount) % kQueueLimit];
    strncpy(job.number, number, kMaxDialledLength);
    job.number[kMaxDialledLength] = 0;
    work->queueCount++;
  }
  ReleaseSRWLockExclusive(&work->lock);
  if (queued)
    SetEvent(work->queueChanged);
  else
    LogLine("http %s: not requested, %u requests are already waiting", number, unsigned(kQueueLimit));
}

// The worker logs by itself; the loop has nothing to look at.
static bool NeverBusy() { return false; }
static void CheckNothing() {}

// Every waiting request still gets its turn, each bounded by --http-timeout,
// after a connection being made, bounded by it too.
static void Finish(unsigned long timeoutMs) {
  HttpWork* work = current;
  current = nullptr;
  AcquireSRWLockExclusive(&work->lock);
  size_t pending = work->queueCount + (work->working ? 1 : 0);
  work->stopping = true;
  ReleaseSRWLockExclusive(&work->lock);
  SetEvent(work->queueChanged);
  unsigned long long bound = 1000ULL + timeoutMs + (pending + 1) * 1ULL * work->requestTimeoutMs;
  http = nullptr;
  DWORD wait = bound > 0x7FFFFFFF ? 0x7FFFFFFF : DWORD(bound);
  if (WaitForSingleObject(work->thread, wait) != WAIT_OBJECT_0) {
    AcquireSRWLockExclusive(&work->lock);
    bool ended = work->ended;
    size_t dropped = work->queueCount;
    work->givenUp = !ended;
    ReleaseSRWLockExclusive(&work->lock);
    if (!ended) {
      // From here on the worker owns the work: it ends its request and frees it.
      LogLine("http: requests still under way are given up (%u waiting are not requested)", unsigned(dropped));
      return;
    }
    WaitForSingleObject(work->thread, INFINITE);  // it is on its way out
  }
  FreeWork(work);
}

const NumberSink kHttpSink = {"http", PrepareHttp, Deliver, NeverBusy, CheckNothing, Finish, WarnOfReadablePassword};
