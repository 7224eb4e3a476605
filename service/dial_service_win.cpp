// dial-service: the program that the dialer hands its numbers to. It listens on
// one UDP port of 127.0.0.1 and answers "ping" with "pong". Each "dial "
// command is logged as it came, normalised to a dialable number, and answered
// "ok", or "rejected" when no number is left. The dialing rules turn each
// accepted number into what the phone system dials, which --exec hands to a
// program. Everything else that arrives is ignored. It runs until it is
// killed, or until --count commands have been served.
#include <winsock2.h>
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "command_runner_win.h"
#include "command_template.h"
#include "dial_requests.h"
#include "dialing_rules.h"
#include "phone_number.h"
#include "service_log_win.h"

static const int kFirstServicePort = 20000;
static const int kServicePortCount = 20;
// Larger than any UDP datagram, so no datagram is ever cut.
static const int kReceiveBufferSize = 65536;
// How often started commands are looked at while no datagram comes.
static const int kCommandCheckMs = 100;
// How long the end of a --count run waits for started commands to end.
static const unsigned long kFinishWaitMs = 5000;

struct Options {
  int port;        // 0: the first free port of the service range
  long count;      // 0: serve until killed
  bool verbose;    // also log pings and ignored datagrams
  const wchar_t* command;  // the --exec template, or null
  DialingRules rules;
};

static char receiveBuffer[kReceiveBufferSize];
static char logText[4 * kReceiveBufferSize + 1];
static NormalizedNumber number;
static char dialled[kMaxDialledLength + 1];
static DialingRules rules;
static CommandTemplate command;

static void PrintUsage() {
  fprintf(stderr,
          "usage: dial-service [--port N] [--count N] [--verbose] [--exec COMMAND]\n"
          "         [--country CC [--area AREA] [--outside PREFIX] [--national-prefix P]\n"
          "          [--international-prefix P]]\n"
          "  --port N        listen on 127.0.0.1:N (default: the first free port of %d-%d)\n"
          "  --count N       end after N dial commands (default: run until killed)\n"
          "  --verbose       also log every ping and every ignored datagram\n"
          "  --exec COMMAND  start COMMAND without a shell for each accepted number, for\n"
          "                  example --exec \"phone.exe --call {number}\": blanks separate\n"
          "                  words, double quotes group them, \"\" inside quotes is one\n"
          "                  quote, {number} in an argument becomes the number dialled\n"
          "                  (default: only log the number)\n"
          "  --country CC    dialing rules for a phone in country CC: a number in\n"
          "                  international form (+...) is dialled the way the phone\n"
          "                  system here needs it; one without \"+\" as it stands\n"
          "  --area AREA     the phone's area code, left off the numbers in that area\n"
          "  --outside PREFIX           dialled first, for an outside line (default none)\n"
          "  --national-prefix P        dialled before a national number (default 0)\n"
          "  --international-prefix P   dialled before a number abroad (default 00)\n",
          kFirstServicePort, kFirstServicePort + kServicePortCount - 1);
}

static bool ParseNumber(const wchar_t* text, long low, long high, long* value) {
  wchar_t* end = nullptr;
  long parsed = wcstol(text, &end, 10);
  if (end == text || *end != 0 || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

// False for options that cannot serve; problem then says why, or is empty
// when the usage alone says it.
static bool ParseOptions(int argc, wchar_t** argv, Options* options, char* problem, size_t size) {
  *options = Options{0, 0, false, nullptr, {}};
  InitDialingRules(&options->rules);
  problem[0] = 0;
  for (int i = 1; i < argc; i++) {
    long value = 0;
    DialingRule rule = DialingRuleOfOption(reinterpret_cast<const char16_t*>(argv[i]));
    if (rule != kRuleCount) {
      if (i + 1 == argc) {
        snprintf(problem, size, "%s needs a value", DialingRuleOption(rule));
        return false;
      }
      if (!SetDialingRule(&options->rules, rule, reinterpret_cast<const char16_t*>(argv[++i]), problem, size))
        return false;
    } else if (wcscmp(argv[i], L"--verbose") == 0) {
      options->verbose = true;
    } else if (wcscmp(argv[i], L"--port") == 0 && i + 1 < argc && ParseNumber(argv[i + 1], 1, 65535, &value)) {
      options->port = int(value);
      i++;
    } else if (wcscmp(argv[i], L"--count") == 0 && i + 1 < argc &&
               ParseNumber(argv[i + 1], 1, 0x7FFFFFFF, &value)) {
      options->count = value;
      i++;
    } else if (wcscmp(argv[i], L"--exec") == 0 && i + 1 < argc && !options->command) {
      options->command = argv[i + 1];
      i++;
    } else {
      return false;
    }
  }
  return CheckDialingRules(options->rules, problem, size);
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

static void Answer(SOCKET service, const sockaddr_in& client, const char* text) {
  sendto(service, text, int(strlen(text)), 0, reinterpret_cast<const sockaddr*>(&client), sizeof client);
}

// Everything the service does with a number happens here. The dialer is
// answered before the command starts, so that it never waits for a process
// start.
static void HandleDial(SOCKET service, const char* raw, size_t length, const sockaddr_in& client) {
  FormatNumberForLog(raw, length, logText, sizeof logText);
  LogLine("dial %s (from port %u)", logText, unsigned(ntohs(client.sin_port)));
  NormalizePhoneNumber(raw, length, &number);
  if (number.verdict != kNumberAccepted) {
    if (number.position)
      LogLine("rejected: %s at byte %lu", DescribeNumberVerdict(number.verdict), (unsigned long)number.position);
    else
      LogLine("rejected: %s", DescribeNumberVerdict(number.verdict));
    Answer(service, client, kRejectAnswer);
    return;
  }
  DialForm form = ApplyDialingRules(rules, number.digits, dialled);
  if (form == kDialledAsWritten)
    LogLine("number %s", number.digits);
  else
    LogLine("number %s dialled %s (%s)", number.digits, dialled, DescribeDialForm(form));
  Answer(service, client, kDialAnswer);
  RunDialCommand(dialled);
}

static void LogPing(const sockaddr_in& client) { LogLine("ping (from port %u)", unsigned(ntohs(client.sin_port))); }

static void LogIgnored(int length, const sockaddr_in& client) {
  LogLine("ignored %d bytes (from port %u)", length, unsigned(ntohs(client.sin_port)));
}

// Waits for the next datagram; while started commands run, it looks at them
// every kCommandCheckMs. False when nothing came.
static bool AwaitDatagram(SOCKET service) {
  if (!DialCommandsRunning()) return true;
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(service, &readable);
  timeval wait = {0, kCommandCheckMs * 1000};
  int ready = select(0, &readable, nullptr, nullptr, &wait);
  // A failed wait must not turn into a blocking receive that stops the checks.
  if (ready < 0) Sleep(kCommandCheckMs);
  CheckDialCommands();
  return ready > 0;
}

// Errors that concern one datagram or one earlier answer, not the socket: an
// ICMP refusal of an answer sent to a client that has gone (WSAECONNRESET), a
// datagram larger than the buffer.
static bool IsPassingError(int error) {
  return error == WSAECONNRESET || error == WSAEMSGSIZE || error == WSAENETRESET || error == WSAEINTR;
}

static int Serve(SOCKET service, const Options& options) {
  long served = 0;
  for (;;) {
    if (!AwaitDatagram(service)) continue;
    sockaddr_in client = {};
    int clientLength = sizeof client;
    int received = recvfrom(service, receiveBuffer, kReceiveBufferSize, 0, reinterpret_cast<sockaddr*>(&client),
                            &clientLength);
    if (received == SOCKET_ERROR) {
      int error = WSAGetLastError();
      if (IsPassingError(error)) continue;
      fprintf(stderr, "dial-service: receive failed, error %d\n", error);
      return 1;
    }
    Request request = ParseRequest(receiveBuffer, size_t(received));
    if (request.kind == kRequestPing) {
      Answer(service, client, kPongAnswer);
      if (options.verbose) LogPing(client);
    } else if (request.kind == kRequestDial) {
      HandleDial(service, request.number, request.numberLength, client);
      served++;
      if (options.count && served >= options.count) return 0;
    } else if (options.verbose) {
      LogIgnored(received, client);
    }
  }
}

// The --exec template, split and its program found; 0 when there is none, else
// the exit code for a template that cannot serve.
static int PrepareCommand(const wchar_t* text) {
  if (!text) return 0;
  TemplateError error = ParseCommandTemplate(reinterpret_cast<const char16_t*>(text), &command);
  if (error != kTemplateParsed) {
    fprintf(stderr, "dial-service: the --exec command %s\n", DescribeTemplateError(error));
    PrintUsage();
    return 2;
  }
  return PrepareDialCommand(&command) ? 0 : 1;
}

int wmain(int argc, wchar_t** argv) {
  // Lines end in "\n" alone, also in a pipe: scripts on other systems read them.
  _setmode(_fileno(stdout), _O_BINARY);
  Options options;
  char problem[160];
  if (!ParseOptions(argc, argv, &options, problem, sizeof problem)) {
    if (problem[0]) fprintf(stderr, "dial-service: %s\n", problem);
    PrintUsage();
    return 2;
  }
  rules = options.rules;
  if (int failure = PrepareCommand(options.command)) return failure;
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    fprintf(stderr, "dial-service: Windows Sockets cannot be started\n");
    return 1;
  }
  int port = 0;
  SOCKET service = OpenServiceSocket(options.port, &port);
  if (service == INVALID_SOCKET) {
    if (options.port)
      fprintf(stderr, "dial-service: cannot listen on 127.0.0.1:%d\n", options.port);
    else
      fprintf(stderr, "dial-service: every port of %d-%d is taken\n", kFirstServicePort,
              kFirstServicePort + kServicePortCount - 1);
    WSACleanup();
    return 1;
  }
  printf("dial-service: listening on 127.0.0.1:%d\n", port);
  fflush(stdout);

  int result = Serve(service, options);
  FinishDialCommands(kFinishWaitMs);
  FreeCommandTemplate(&command);
  closesocket(service);
  WSACleanup();
  return result;
}
