// dial-service: the program that the dialer hands its numbers to. It listens on
// one UDP port of 127.0.0.1, answers "ping" with "pong", logs every "dial "
// command with a time stamp and answers it with "ok". Everything else that
// arrives is ignored. It runs until it is killed, or until --count commands
// have been served. Every line of output is flushed at once, because scripts
// read it through a pipe.
#include <winsock2.h>
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "dial_requests.h"

static const int kFirstServicePort = 20000;
static const int kServicePortCount = 20;
// Larger than any UDP datagram, so no datagram is ever cut.
static const int kReceiveBufferSize = 65536;

struct Options {
  int port;        // 0: the first free port of the service range
  long count;      // 0: serve until killed
  bool verbose;    // also log pings and ignored datagrams
};

static char receiveBuffer[kReceiveBufferSize];
static char logText[4 * kReceiveBufferSize + 1];

static void PrintUsage() {
  fprintf(stderr,
          "usage: dial-service [--port N] [--count N] [--verbose]\n"
          "  --port N   listen on 127.0.0.1:N (default: the first free port of %d-%d)\n"
          "  --count N  end after N dial commands (default: run until killed)\n"
          "  --verbose  also log every ping and every ignored datagram\n",
          kFirstServicePort, kFirstServicePort + kServicePortCount - 1);
}

static bool ParseNumber(const char* text, long low, long high, long* value) {
  char* end = nullptr;
  long parsed = strtol(text, &end, 10);
  if (end == text || *end != 0 || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

static bool ParseOptions(int argc, char** argv, Options* options) {
  *options = Options{0, 0, false};
  for (int i = 1; i < argc; i++) {
    long value = 0;
    if (strcmp(argv[i], "--verbose") == 0) {
      options->verbose = true;
    } else if (strcmp(argv[i], "--port") == 0 && i + 1 < argc && ParseNumber(argv[i + 1], 1, 65535, &value)) {
      options->port = int(value);
      i++;
    } else if (strcmp(argv[i], "--count") == 0 && i + 1 < argc && ParseNumber(argv[i + 1], 1, 0x7FFFFFFF, &value)) {
      options->count = value;
      i++;
    } else {
      return false;
    }
  }
  return true;
}

// Local time with milliseconds: "2024-05-01 12:34:56.789".
static void PrintTimeStamp() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  printf("%04u-%02u-%02u %02u:%02u:%02u.%03u ", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
         now.wSecond, now.wMilliseconds);
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

// Everything the service does with a number happens here.
static void HandleDial(SOCKET service, const char* number, size_t length, const sockaddr_in& client) {
  FormatNumberForLog(number, length, logText, sizeof logText);
  PrintTimeStamp();
  printf("dial %s (from port %u)\n", logText, unsigned(ntohs(client.sin_port)));
  fflush(stdout);
  Answer(service, client, kDialAnswer);
}

static void LogPing(const sockaddr_in& client) {
  PrintTimeStamp();
  printf("ping (from port %u)\n", unsigned(ntohs(client.sin_port)));
  fflush(stdout);
}

static void LogIgnored(int length, const sockaddr_in& client) {
  PrintTimeStamp();
  printf("ignored %d bytes (from port %u)\n", length, unsigned(ntohs(client.sin_port)));
  fflush(stdout);
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

int main(int argc, char** argv) {
  // Lines end in "\n" alone, also in a pipe: scripts on other systems read them.
  _setmode(_fileno(stdout), _O_BINARY);
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    PrintUsage();
    return 2;
  }
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
  closesocket(service);
  WSACleanup();
  return result;
}
