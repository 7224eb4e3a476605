// dial-service: the program that the dialer hands its numbers to. It listens on
// one UDP port of 127.0.0.1 and answers "ping" with "pong". Each "dial "
// command is logged as it came, normalised to a dialable number, and answered
// "ok", or "rejected" when no number is left. The dialing rules turn each
// accepted number into what the phone system dials, which then goes to a
// number sink: the log alone, a program (--exec) or an HTTP request (--http).
// Everything else that arrives is ignored. It runs until it is stopped, or
// until --count commands have been served. Two programs run it:
// dial-service.exe in a console, dial-service-tray.exe in the background with
// a notification-area icon.
#include <winsock2.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "service/confirm/confirmation_window_win.h"
#include "service/loop/dial_service_win.h"
#include "service/loop/sender_owner_win.h"
#include "service/number/call_guard.h"
#include "service/number/dial_requests.h"
#include "service/number/log_text.h"
#include "service/number/dialing_rules.h"
#include "service/sinks/number_sinks.h"
#include "service/number/phone_number.h"
#include "service/number/shown_number.h"
#include "service/log/service_log_win.h"

static const int kFirstServicePort = 20000;
static const int kServicePortCount = 20;
// Larger than any UDP datagram, so no datagram is ever cut.
static const int kReceiveBufferSize = 65536;
// How often started commands are looked at while no datagram comes.
static const int kCommandCheckMs = 100;
// How many refused senders' ports are remembered so as not to log them again.
static const unsigned kRememberedRefusals = 8;

static char receiveBuffer[kReceiveBufferSize];
static char logText[kMaxFormattedTextSize];
static NormalizedNumber number;
static char dialled[kMaxDialledLength + 1];
// The number handling (rules, sink, the buffers above, the recent numbers)
// is used by the serving thread and, for a replacement or a number dialled
// again, by the window's thread; this lock takes turns between them.
static SRWLOCK handlingLock = SRWLOCK_INIT;
static DialingRules rules;
static const NumberSink* sink;
static const ServiceOptions* handling;  // what sink was prepared with
static RecentNumbers recentNumbers;
static CallBrake brake;
static ServiceHooks hooks;
static bool confirmationsStarted;

// Each kind of refusal is summarised on its own, so that a flood of one kind
// cannot hide another: a number that cannot be dialled by its verdict, a
// blocked one by its prefix.
enum RefusalKind {
  kRefusedFeatureCode,
  kRefusedTooMany,
  kRefusedSender,
  kRefusedUnconfirmable,
  kRefusedNumber,  // + NumberVerdict
  kRefusedBlocked = kRefusedNumber + kNumberVerdicts,  // + the prefix's place in the list
  kRefusalKinds = kRefusedBlocked + kMaxBlockPrefixes
};
static RefusalTally refusals[kRefusalKinds];
// While a run of refusals is counted, the serving thread looks this often
// whether it has ended, so that its summary is not left waiting for the next datagram.
static const unsigned kRefusalCheckMs = 1000;
static SOCKET serviceSocket = INVALID_SOCKET;
static volatile LONG stopRequested;
// A wake-up datagram to ourselves that is not a client's.
static volatile LONG wakeRequested;
// How long a replaced sink gets for deliveries under way.
static const unsigned long kReplacedFinishWaitMs = 2000;

static const char kUsageFormat[] =
    "usage: %s [--port N] [--count N] [--verbose] [--log-size KB]\n"
    "       [--exec COMMAND | --http URL [--http-... options] |\n"
    "        --phone KIND --phone-address HOST[:PORT] [--phone-... options]]\n"
    "       [--country CC [--area AREA] [--outside PREFIX] [--national-prefix P]\n"
    "        [--international-prefix P] [--extension-digits N]]\n"
    "       [--confirm] [--allow-codes] [--block PREFIX]... [--max-calls N/SECONDS|0]\n"
    "       [--any-user]\n"
    "  --port N        listen on 127.0.0.1:N (default: the first free port of %d-%d)\n"
    "  --count N       end after N dial commands (default: run until stopped)\n"
    "  --verbose       also log every ping and every ignored datagram\n"
    "  --log-size KB   dial-service-tray.exe's log file is renamed to .old\n"
    "                  beyond this size (default 1024)\n"
    "  --exec COMMAND  start COMMAND without a shell for each accepted number, for\n"
    "                  example --exec \"phone.exe --call {number}\": blanks separate\n"
    "                  words, double quotes group them, \"\" inside quotes is one\n"
    "                  quote, {number} in an argument becomes the number dialled\n"
    "  --country CC    dialing rules for a phone in country CC: a number in\n"
    "                  international form (+...) is dialled the way the phone\n"
    "                  system here needs it, one written with the national or\n"
    "                  international prefix behind the outside line, any other\n"
    "                  as it stands\n"
    "    --area AREA                the phone's area code, left off numbers in that area\n"
    "    --outside PREFIX           dialled first, for an outside line (default none)\n"
    "    --national-prefix P        dialled before a national number (default 0)\n"
    "    --international-prefix P   dialled before a number abroad (default 00)\n"
    "    --extension-digits N       numbers of up to N digits are internal and dialled\n"
    "                               as written; longer ones without a prefix get the\n"
    "                               outside line (default: all stay as written)\n"
    "  --http URL      one HTTP or HTTPS request for each accepted number; {number}\n"
    "                  in the URL becomes the number percent-encoded (+ as %%2B)\n"
    "    --http-method GET|POST       (default GET)\n"
    "    --http-body TEXT             the POST body, {number} as it is\n"
    "    --http-header \"Name: value\"  an extra header, may be repeated\n"
    "    --http-user USER             for Basic or Digest, as the server asks\n"
    "    --http-password PASSWORD     or --http-password-env VARIABLE\n"
    "    --http-timeout MS            (default 5000)\n"
    "    --http-insecure              accept any certificate (a phone's self-signed one)\n"
    "    --http-password-protected B  a password kept protected (--store-password)\n"
    "    --http-hang-up URL           the GET request that ends the current call, with\n"
    "                                 the same credentials and headers; {call} is the\n"
    "                                 id {call} in --http gave the last call\n"
    "  --phone KIND    the request a known phone or PBX wants: yealink, snom,\n"
    "                  grandstream, poly, fritzbox, asterisk or baresip; with the\n"
    "                  --http-user, --http-password... and --http-header options\n"
    "    --phone-address HOST[:PORT]  the phone's address; a port replaces the preset's\n"
    "    --phone-https                HTTPS instead of HTTP\n"
    "    --phone-line N               the phone's line (grandstream, poly; default 1)\n"
    "    --phone-account URI          the account to call from (yealink, snom)\n"
    "    --phone-endpoint E           the phone rung first (asterisk, e.g. PJSIP/201)\n"
    "    --phone-context C            the dialplan context (default from-internal)\n"
    "  (default: only log the number)\n"
    "  --confirm       ask in a window before each number is dialled (Call/Cancel,\n"
    "                  cancelled by itself after 20 s)\n"
    "  --block PREFIX  refuse numbers starting with PREFIX (digits, +, *, #), as\n"
    "                  dialled or as written; with --country, 0900 and +49900 alike;\n"
    "                  may be repeated, or list several: --block \"0900,0137\"\n"
    "  --max-calls N/SECONDS  refuse numbers beyond N within SECONDS until SECONDS\n"
    "                  pass without one (default 5/10; 0: never)\n"
    "  --allow-codes   dial feature codes (numbers starting with * or #) without\n"
    "                  confirmation\n"
    "  --any-user      answer every user's programs, not only this user's\n"
    "  --dial-hotkey KEYS      dial-service-tray.exe: the key that dials the number\n"
    "                  selected in the window in front, for example Ctrl+Shift+F11\n"
    "                  (default Ctrl+Alt+Shift+F8; none: no key)\n"
    "  --hang-up-hotkey KEYS   dial-service-tray.exe: the key that ends the phone's\n"
    "                  call (default none)\n"
    "  --show-request NUMBER  print the request the settings make for NUMBER, then end\n"
    "  --show-secrets         with --show-request: --http-header values as given,\n"
    "                         not as ***\n"
    "  --test-call NUMBER     make that request now and print its outcome\n"
    "  --hang-up              end the phone's current call now and print the outcome\n"
    "  --store-password       read the password from standard input and keep it\n"
    "                         protected for this user in the settings file\n"
    "  --settings FILE        read FILE instead of the user's settings file\n"
    "  --no-settings          read no settings file\n"
    "  Settings files: %%ProgramData%%\\teldial\\dial-service.ini, then\n"
    "  %%APPDATA%%\\teldial\\dial-service.ini, then the command line; each line\n"
    "  key=value under [dial-service], the keys being the options without --.\n";

size_t FormatUsage(const char* program, char* text, size_t size) {
  int length = snprintf(text, size, kUsageFormat, program, kFirstServicePort,
                        kFirstServicePort + kServicePortCount - 1);
  return length < 0 ? 0 : size_t(length);
}

static bool BindLoopback(SOCKET service, int port) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(u_short(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return bind(service, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

// The socket bound to the requested port, or to the first free one of the
// service range; INVALID_SOCKET when none could be had.
static SOCKET OpenServiceSocket(int requestedPort, int* boundPort) {
  int first = requestedPort ? requestedPort : kFirstServicePort;
  int last = requestedPort ? requestedPort : kFirstServicePort + kServicePortCount - 1;
  for (int port = first; port <= last; port++) {
    SOCKET service = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (service == INVALID_SOCKET) return INVALID_SOCKET;
    // Without this, another program could bind the same port with SO_REUSEADDR
    // and take our datagrams.
    BOOL exclusive = TRUE;
    setsockopt(service, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
    if (BindLoopback(service, port)) {
      *boundPort = port;
      return service;
    }
    closesocket(service);
  }
  return INVALID_SOCKET;
}

// A datagram to ourselves wakes the receive; closing the socket under it is
// not something every Windows Sockets version reports.
static void WakeServingThread() {
  SOCKET waker = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in self = {};
  int length = sizeof self;
  if (waker != INVALID_SOCKET && getsockname(serviceSocket, reinterpret_cast<sockaddr*>(&self), &length) == 0)
    sendto(waker, "", 0, 0, reinterpret_cast<const sockaddr*>(&self), length);
  if (waker != INVALID_SOCKET) closesocket(waker);
}

static void Answer(SOCKET service, const sockaddr_in& client, const char* text) {
  sendto(service, text, int(strlen(text)), 0, reinterpret_cast<const sockaddr*>(&client), sizeof client);
}

// Where a number came from: a dialer (to be answered), the recent numbers
// menu, or the screen (the user took it from a selection, the clipboard or a
// window of the background program).
struct NumberSource {
  SOCKET service;
  const sockaddr_in* client;  // a dialer's; null otherwise
  const char* screen;         // how it was taken from the screen, for the log; null otherwise
};

static void LogArrival(const char* raw, size_t length, const NumberSource& source) {
  FormatTextForLog(raw, length, logText, sizeof logText);
  if (source.client)
    LogLine("dial %s (from port %u)", logText, unsigned(ntohs(source.client->sin_port)));
  else if (source.screen)
    LogLine("dial %s (from %s)", logText, source.screen);
  else
    LogLine("dial %s (from the recent numbers menu)", logText);
}

static void LogRefusalSummary(const RefusalSummary& summary) {
  if (!summary.count) return;
  char text[96];
  FormatRefusalSummary(summary, text, sizeof text);
  LogLine("%s", text);
}

// How a refusal answers the dialer: today's plain "rejected" for a number
// that cannot be dialled, "rejected: <reason>" for one refused on purpose.
enum RefusalAnswer { kAnswerRejected, kAnswerWithReason };

// A refused number: answered each time, but of a run of refusals of one kind
// from dialers only the first is logged and the rest are counted, so that a
// flood cannot push the record of a real call out of the log.
static void Refuse(RefusalKind kind, const char* reason, RefusalAnswer answer, const char* raw, size_t length,
                   const NumberSource& source) {
  const sockaddr_in* client = source.client;
  bool logged = true;
  if (client) {
    RefusalSummary due;
    logged = NoteRefusal(&refusals[kind], GetTickCount64(), 1, &due);
    LogRefusalSummary(due);
  }
  if (logged) {
    LogArrival(raw, length, source);
    LogLine("rejected: %s", reason);
  }
  if (kind != kRefusedTooMany && hooks.numberRefused) {
    char shown[kMaxFormattedTextSize];
    FormatTextForLog(raw, length, shown, sizeof shown);
    hooks.numberRefused(shown, reason);
  }
  if (!client) return;
  char text[128];
  if (answer == kAnswerWithReason)
    snprintf(text, sizeof text, "%s: %s", kRejectAnswer, reason);
  else
    snprintf(text, sizeof text, "%s", kRejectAnswer);
  Answer(source.service, *client, text);
}

static void LogEndedRefusals() {
  unsigned long long now = GetTickCount64();
  for (RefusalTally& tally : refusals) LogRefusalSummary(TakeEndedRefusals(&tally, now));
}

static bool RefusalsCounted() {
  for (const RefusalTally& tally : refusals)
    if (tally.active) return true;
  return false;
}

// accepted: the number as it was accepted, before the dialing rules, which
// "Recent numbers" keeps so that a number dialled again meets the rules then in effect.
static void DeliverConfirmed(ConfirmationOutcome outcome, const char* number, const char* accepted) {
  switch (outcome) {
    case kConfirmationCalled:
      AcquireSRWLockExclusive(&handlingLock);
      LogLine("confirmed %s", number);
      sink->deliver(number);
      NoteRecentNumber(&recentNumbers, accepted);
      ReleaseSRWLockExclusive(&handlingLock);
      // A sink that is busy now wants its checks, which a blocking receive would hold up.
      InterlockedExchange(&wakeRequested, 1);
      WakeServingThread();
      break;
    case kConfirmationCancelled: LogLine("cancelled %s", number); break;
    case kConfirmationTimedOut: LogLine("timed out %s", number); break;
    case kConfirmationReplaced: LogLine("not confirmed %s: a newer number took its place", number); break;
  }
}

// Whether the window that asks the user can be shown; it is started the first
// time a number needs it.
static bool ConfirmationsAvailable() {
  if (!confirmationsStarted) confirmationsStarted = StartConfirmations(DeliverConfirmed);
  return confirmationsStarted;
}

// Whether the brake lets one more number through; a refused one is refused here.
static bool PassesBrake(const char* raw, size_t length, const NumberSource& source) {
  BrakeVerdict verdict = NoteNumberArrival(&brake, GetTickCount64());
  if (verdict == kBrakeEngaged && hooks.brakeEngaged) hooks.brakeEngaged();
  if (verdict == kBrakeOpen) return true;
  Refuse(kRefusedTooMany, "too many numbers at once", kAnswerWithReason, raw, length, source);
  return false;
}

// Everything the service does with a number happens here, under
// handlingLock. A number the user chose from the recent numbers menu, which
// any program of the user can choose too by posting the menu's command, is a
// plain number the user had dialled before and now chose by hand: it needs
// neither the brake nor a confirmation. A feature code there is asked about
// (unless --allow-codes) and braked like one from a dialer. A number taken
// from the screen is new, and text on the screen may come from anyone: it
// goes the way of a dialer's, except that a feature code is always asked
// about, since the user sits at the screen. The dialer (if any) is answered before the sink gets the number or
// the user is asked, so that it never waits for either. A number goes into
// the recent numbers only once the sink has it.
static void HandleNumber(const char* raw, size_t length, const NumberSource& source) {
  const sockaddr_in* client = source.client;
  bool chosenBefore = !client && !source.screen;
  if (!chosenBefore && !PassesBrake(raw, length, source)) return;
  char reason[96];
  NormalizePhoneNumber(raw, length, &number);
  if (number.verdict != kNumberAccepted) {
    if (number.position)
      snprintf(reason, sizeof reason, "%s at byte %lu", DescribeNumberVerdict(number.verdict),
               (unsigned long)number.position);
    else
      snprintf(reason, sizeof reason, "%s", DescribeNumberVerdict(number.verdict));
    Refuse(RefusalKind(kRefusedNumber + number.verdict), reason, kAnswerRejected, raw, length, source);
    return;
  }
  DialForm form = ApplyDialingRules(rules, number.digits, dialled);
  if (const char* prefix = FindBlockingPrefix(handling->blocked, rules, number.digits)) {
    snprintf(reason, sizeof reason, "blocked by %s", prefix);
    size_t place = size_t(prefix - handling->blocked.prefixes[0]) / sizeof handling->blocked.prefixes[0];
    Refuse(RefusalKind(kRefusedBlocked + place), reason, kAnswerWithReason, raw, length, source);
    return;
  }
  bool ask = !chosenBefore && handling->confirm;
  bool featureCode = IsFeatureCode(number.digits) && !handling->allowCodes;
  if (chosenBefore && featureCode && !PassesBrake(raw, length, source)) return;
  if (featureCode) {
    if (client && !handling->confirm && !hooks.askForFeatureCodes) {
      Refuse(kRefusedFeatureCode, "a feature code needs confirmation", kAnswerWithReason, raw, length, source);
      return;
    }
    ask = true;
  }
  if (ask && !ConfirmationsAvailable()) {
    Refuse(kRefusedUnconfirmable, "the window that asks for confirmation cannot be shown", kAnswerRejected, raw, length,
           source);
    return;
  }
  LogArrival(raw, length, source);
  if (form == kDialledAsWritten)
    LogLine("number %s", number.digits);
  else
    LogLine("number %s dialled %s (%s)", number.digits, dialled, DescribeDialForm(form));
  if (client) Answer(source.service, *client, kDialAnswer);
  if (ask) {
    LogLine("asking the user to confirm %s", dialled);
    static char written[kMaxWrittenNumberSize];
    FormatWrittenNumber(raw, length, written, sizeof written);
    char meaning[128];
    bool isCode = DescribeFeatureCode(number.digits, meaning, sizeof meaning);
    ConfirmationQuestion question = {written, dialled, isCode ? meaning : nullptr, logText, number.digits};
    AskForConfirmation(question);
  } else {
    sink->deliver(dialled);
    NoteRecentNumber(&recentNumbers, number.digits);
  }
}

static void HandleDial(SOCKET service, const char* raw, size_t length, const sockaddr_in& client) {
  AcquireSRWLockExclusive(&handlingLock);
  HandleNumber(raw, length, NumberSource{service, &client, nullptr});
  ReleaseSRWLockExclusive(&handlingLock);
}

static void LogPing(const sockaddr_in& client) { LogLine("ping (from port %u)", unsigned(ntohs(client.sin_port))); }

static void LogIgnored(int length, const sockaddr_in& client) {
  LogLine("ignored %d bytes (from port %u)", length, unsigned(ntohs(client.sin_port)));
}

// Waits for the next datagram; while the sink is busy, it looks at it every
// kCommandCheckMs, and while refusals are counted, every kRefusalCheckMs
// whether their run has ended. False when nothing came.
static bool AwaitDatagram(SOCKET service) {
  AcquireSRWLockShared(&handlingLock);
  bool busy = sink->busy();
  bool counting = RefusalsCounted();
  ReleaseSRWLockShared(&handlingLock);
  if (!busy && !counting) return true;
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(service, &readable);
  unsigned waitMs = busy ? kCommandCheckMs : kRefusalCheckMs;
  timeval wait = {long(waitMs / 1000), long(waitMs % 1000 * 1000)};
  int ready = select(0, &readable, nullptr, nullptr, &wait);
  // A failed wait must not turn into a blocking receive that stops the checks.
  if (ready < 0) Sleep(waitMs);
  AcquireSRWLockExclusive(&handlingLock);
  if (busy) sink->check();
  LogEndedRefusals();
  ReleaseSRWLockExclusive(&handlingLock);
  return ready > 0;
}

// Errors that concern one datagram or one earlier answer, not the socket: an
// ICMP refusal of an answer sent to a client that has gone (WSAECONNRESET), a
// datagram larger than the buffer.
static bool IsPassingError(int error) {
  return error == WSAECONNRESET || error == WSAEMSGSIZE || error == WSAENETRESET || error == WSAEINTR;
}

// Whether a datagram from client may be answered: only the service's own
// user's programs are, unless the service serves every user (--any-user). A
// refused sender is logged once, not for each datagram it keeps sending; the
// last few ports logged are remembered for that.
static bool MayAnswer(const sockaddr_in& client, bool anyUser) {
  if (anyUser) return true;
  SenderOwner owner = FindSenderOwner(client);
  if (owner == kSenderOwnUser) return true;
  static u_short refusedPorts[kRememberedRefusals];
  static unsigned nextRefused;
  for (u_short port : refusedPorts)
    if (port == client.sin_port) return false;
  refusedPorts[nextRefused++ % kRememberedRefusals] = client.sin_port;
  // Each of the first few ports of a run gets its line; a program that sends
  // from ever new ports is then summed up like any flood.
  AcquireSRWLockExclusive(&handlingLock);
  RefusalSummary due;
  bool logged = NoteRefusal(&refusals[kRefusedSender], GetTickCount64(), kRememberedRefusals, &due);
  LogRefusalSummary(due);
  ReleaseSRWLockExclusive(&handlingLock);
  if (!logged) return false;
  const unsigned char* address = reinterpret_cast<const unsigned char*>(&client.sin_addr);
  LogLine("no answer to %u.%u.%u.%u:%u: %s", address[0], address[1], address[2], address[3],
          unsigned(ntohs(client.sin_port)),
          owner == kSenderOtherUser ? "its program belongs to another user" : "the program that sent it is unknown");
  return false;
}

// What Save may change while the loop serves, read for each datagram from
// the options in effect; --port and --count stay as they were at the start.
struct ServingChoices {
  bool verbose;
  bool anyUser;
};
static ServingChoices ChoicesInEffect() {
  AcquireSRWLockShared(&handlingLock);
  ServingChoices choices = {handling->verbose, handling->anyUser};
  ReleaseSRWLockShared(&handlingLock);
  return choices;
}

static int Serve(SOCKET service, long count) {
  long served = 0;
  for (;;) {
    if (stopRequested) return 0;
    if (!AwaitDatagram(service)) continue;
    sockaddr_in client = {};
    int clientLength = sizeof client;
    int received = recvfrom(service, receiveBuffer, kReceiveBufferSize, 0, reinterpret_cast<sockaddr*>(&client),
                            &clientLength);
    if (received == SOCKET_ERROR) {
      int error = WSAGetLastError();
      if (stopRequested) return 0;
      if (IsPassingError(error)) continue;
      LogLine("receive failed, error %d", error);
      return 1;
    }
    if (stopRequested) return 0;
    if (received == 0 && InterlockedExchange(&wakeRequested, 0)) continue;
    Request request = ParseRequest(receiveBuffer, size_t(received));
    ServingChoices choices = ChoicesInEffect();
    if (request.kind != kRequestIgnored && !MayAnswer(client, choices.anyUser)) continue;
    if (request.kind == kRequestPing) {
      Answer(service, client, kPongAnswer);
      if (choices.verbose) LogPing(client);
    } else if (request.kind == kRequestDial) {
      HandleDial(service, request.number, request.numberLength, client);
      served++;
      if (count && served >= count) return 0;
    } else if (choices.verbose) {
      LogIgnored(received, client);
    }
  }
}

int StartService(const ServiceOptions& options, const NumberSink& chosen, int* port) {
  sink = &chosen;
  handling = &options;
  rules = options.rules;
  InitCallBrake(&brake, options.maxCalls, options.maxCallsSeconds);
  if (int failure = sink->prepare(options.sink)) return failure;
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    ReportProblem("Windows Sockets cannot be started");
    sink->finish(0);
    return 1;
  }
  serviceSocket = OpenServiceSocket(options.port, port);
  if (serviceSocket != INVALID_SOCKET) return 0;
  if (options.port)
    ReportProblem("cannot listen on 127.0.0.1:%d", options.port);
  else
    ReportProblem("every port of %d-%d is taken", kFirstServicePort, kFirstServicePort + kServicePortCount - 1);
  sink->finish(0);
  WSACleanup();
  return 1;
}

void SetServiceHooks(const ServiceHooks& chosen) { hooks = chosen; }

int ServeDialRequests(const ServiceOptions& options) {
  AcquireSRWLockShared(&handlingLock);
  sink->started();
  ReleaseSRWLockShared(&handlingLock);
  return Serve(serviceSocket, options.count);
}

void StopService() {
  InterlockedExchange(&stopRequested, 1);
  WakeServingThread();
}

void EndService(unsigned long finishWaitMs) {
  // The window's thread delivers what the user confirms: it ends before the sink does.
  if (confirmationsStarted) EndConfirmations();
  confirmationsStarted = false;
  AcquireSRWLockExclusive(&handlingLock);
  for (RefusalTally& tally : refusals) LogRefusalSummary(TakeEndedRefusals(&tally, ~0ull));
  ReleaseSRWLockExclusive(&handlingLock);
  sink->finish(finishWaitMs);
  closesocket(serviceSocket);
  serviceSocket = INVALID_SOCKET;
  WSACleanup();
}

int ReplaceNumberHandling(const ServiceOptions& options, const NumberSink& chosen) {
  AcquireSRWLockExclusive(&handlingLock);
  sink->finish(kReplacedFinishWaitMs);
  int failure = chosen.prepare(options.sink);
  if (failure) {
    if (sink->prepare(handling->sink)) LogLine("the settings before cannot be taken up again either");
  } else {
    sink = &chosen;
    handling = &options;
    rules = options.rules;
    InitCallBrake(&brake, options.maxCalls, options.maxCallsSeconds);
    sink->started();
  }
  ReleaseSRWLockExclusive(&handlingLock);
  // A sink that is busy now wants its checks, which a blocking receive would hold up.
  InterlockedExchange(&wakeRequested, 1);
  WakeServingThread();
  return failure;
}

static void HandleNumberFromDesk(const char* raw, size_t length, const NumberSource& source) {
  AcquireSRWLockExclusive(&handlingLock);
  HandleNumber(raw, length, source);
  ReleaseSRWLockExclusive(&handlingLock);
  InterlockedExchange(&wakeRequested, 1);
  WakeServingThread();
}

void DialAgain(const char* number) { HandleNumberFromDesk(number, strlen(number), NumberSource{INVALID_SOCKET, nullptr, nullptr}); }

void DialFromScreen(const char* text, size_t length, const char* taken) {
  HandleNumberFromDesk(text, length, NumberSource{INVALID_SOCKET, nullptr, taken});
}

void CopyRecentNumbers(RecentNumbers* recent) {
  AcquireSRWLockShared(&handlingLock);
  *recent = recentNumbers;
  ReleaseSRWLockShared(&handlingLock);
}
