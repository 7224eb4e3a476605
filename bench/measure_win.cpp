// measure: times teldial.exe the way a user starts it, while playing the dial
// service itself on 127.0.0.1:20000-20019 so that it sees every datagram with
// its arrival time. For comparison it starts an empty GUI program the same way,
// alternating with teldial so that both meet the same machine.
//
//   measure <teldial.exe> <empty-gui.exe> [dial runs] [search runs]
//
// Prints one table; every figure is the mean, minimum and maximum over the runs.
#include <winsock2.h>
#include <windows.h>
#include <mmsystem.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

static const int kFirstPort = 20000;
static const int kPortCount = 20;
static const int kMaxRuns = 100;
static const DWORD kRunTimeoutMs = 30000;

struct Run {
  bool ended;
  double processMs;         // CreateProcessW until the process has ended
  double pingAt[kPortCount];  // ms after the start, per port; < 0 when no ping came
  double dialAt;            // ms after the start; < 0 when no command came
  size_t peakWorkingSet;    // bytes
};

struct Figure {
  double values[kMaxRuns];
  int count;
};

static SOCKET sockets[kPortCount];
static double ticksPerMs;

static double NowMs() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return double(now.QuadPart) / ticksPerMs;
}

static bool OpenServiceSockets() {
  for (int i = 0; i < kPortCount; i++) {
    sockets[i] = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(u_short(kFirstPort + i));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (sockets[i] == INVALID_SOCKET || bind(sockets[i], reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      fprintf(stderr, "measure: port %d is taken; stop every dial service first\n", kFirstPort + i);
      return false;
    }
  }
  return true;
}

static void Answer(SOCKET s, const sockaddr_in& to, const char* text) {
  sendto(s, text, int(strlen(text)), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

// Takes every waiting datagram in; the socket of answeringPort plays the service.
static void ServeWaiting(int answeringPort, double startMs, Run* run) {
  fd_set readable;
  FD_ZERO(&readable);
  for (int i = 0; i < kPortCount; i++) FD_SET(sockets[i], &readable);
  timeval wait = {0, 500};
  if (select(0, &readable, nullptr, nullptr, &wait) <= 0) return;
  double now = NowMs() - startMs;
  for (int i = 0; i < kPortCount; i++) {
    if (!FD_ISSET(sockets[i], &readable)) continue;
    char buffer[2048];
    sockaddr_in sender = {};
    int senderLength = sizeof sender;
    int received = recvfrom(sockets[i], buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (received < 0) continue;
    bool isPing = received == 4 && memcmp(buffer, "ping", 4) == 0;
    bool isDial = received >= 5 && memcmp(buffer, "dial ", 5) == 0;
    if (isPing && run->pingAt[i] < 0) run->pingAt[i] = now;
    if (isDial && run->dialAt < 0) run->dialAt = now;
    if (kFirstPort + i != answeringPort) continue;
    if (isPing) Answer(sockets[i], sender, "pong");
    if (isDial) Answer(sockets[i], sender, "ok");
  }
}

static void SampleMemory(HANDLE process, Run* run) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(process, &counters, sizeof counters) && counters.PeakWorkingSetSize > run->peakWorkingSet)
    run->peakWorkingSet = counters.PeakWorkingSetSize;
}

static Run RunProgram(const wchar_t* program, const wchar_t* arguments, int answeringPort) {
  Run run = {};
  run.dialAt = -1;
  for (int i = 0; i < kPortCount; i++) run.pingAt[i] = -1;

  wchar_t commandLine[2 * MAX_PATH];
  _snwprintf(commandLine, 2 * MAX_PATH, L"\"%ls\"%ls%ls", program, arguments[0] ? L" " : L"", arguments);
  commandLine[2 * MAX_PATH - 1] = 0;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  double startMs = NowMs();
  if (!CreateProcessW(program, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    fwprintf(stderr, L"measure: cannot start %ls (error %lu)\n", program, GetLastError());
    return run;
  }
  CloseHandle(info.hThread);
  for (;;) {
    ServeWaiting(answeringPort, startMs, &run);
    SampleMemory(info.hProcess, &run);
    if (WaitForSingleObject(info.hProcess, 0) == WAIT_OBJECT_0) {
      run.processMs = NowMs() - startMs;
      run.ended = true;
      break;
    }
    if (NowMs() - startMs > kRunTimeoutMs) {
      TerminateProcess(info.hProcess, 1);
      break;
    }
  }
  SampleMemory(info.hProcess, &run);
  CloseHandle(info.hProcess);
  // A late datagram must not count for the next run.
  Run discard = run;
  ServeWaiting(0, startMs, &discard);
  return run;
}

static void Add(Figure* figure, double value) {
  if (figure->count < kMaxRuns) figure->values[figure->count++] = value;
}

// The build's name leads every row, so that the rows of several builds make
// one table (bench/run prints its heading).
static const char* buildName = "";

static void PrintFigure(const char* name, const Figure& figure, double design) {
  if (figure.count == 0) {
    printf("%-7s %-44s %9s\n", buildName, name, "n/a");
    return;
  }
  double sum = 0, low = figure.values[0], high = figure.values[0];
  for (int i = 0; i < figure.count; i++) {
    sum += figure.values[i];
    if (figure.values[i] < low) low = figure.values[i];
    if (figure.values[i] > high) high = figure.values[i];
  }
  double mean = sum / figure.count;
  printf("%-7s %-44s %9.1f %9.1f %9.1f", buildName, name, mean, low, high);
  if (design > 0) printf(" %9.0f %7.3f", design, mean / design);
  printf("\n");
}


int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: measure <teldial.exe> <empty-gui.exe> [dial runs] [search runs] [build name]\n");
    return 2;
  }
  int dialRuns = argc > 3 ? _wtoi(argv[3]) : 10;
  int searchRuns = argc > 4 ? _wtoi(argv[4]) : 3;
  dialRuns = dialRuns < 1 ? 1 : dialRuns > kMaxRuns ? kMaxRuns : dialRuns;
  searchRuns = searchRuns < 1 ? 1 : searchRuns > kMaxRuns ? kMaxRuns : searchRuns;
  static char buildNameText[16];
  if (argc > 5) {
    WideCharToMultiByte(CP_UTF8, 0, argv[5], -1, buildNameText, sizeof buildNameText - 1, nullptr, nullptr);
    buildName = buildNameText;
  }

  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  ticksPerMs = double(frequency.QuadPart) / 1000.0;
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0 || !OpenServiceSockets()) return 1;
  timeBeginPeriod(1);

  Figure pingToDial = {}, dialProcess = {}, emptyProcess = {}, dialPeak = {}, emptyPeak = {};
  Figure portCost = {}, searchProcess = {}, searchPings = {};
  int failures = 0;
  for (int i = 0; i < dialRuns; i++) {
    Run empty = RunProgram(argv[2], L"", 0);
    Run dial = RunProgram(argv[1], L"0555501230", kFirstPort);
    if (!empty.ended || !dial.ended || dial.pingAt[0] < 0 || dial.dialAt < 0) {
      failures++;
      continue;
    }
    Add(&emptyProcess, empty.processMs);
    // A process can end before the first sample; Wine cannot read a dead one.
    if (empty.peakWorkingSet) Add(&emptyPeak, double(empty.peakWorkingSet) / 1024);
    Add(&dialProcess, dial.processMs);
    if (dial.peakWorkingSet) Add(&dialPeak, double(dial.peakWorkingSet) / 1024);
    Add(&pingToDial, dial.dialAt - dial.pingAt[0]);
  }
  for (int i = 0; i < searchRuns; i++) {
    Run search = RunProgram(argv[1], L"0555501230", 0);
    int pings = 0;
    for (int p = 0; p < kPortCount; p++) pings += search.pingAt[p] >= 0;
    if (!search.ended || pings != kPortCount) {
      failures++;
      continue;
    }
    Add(&portCost, (search.pingAt[kPortCount - 1] - search.pingAt[0]) / (kPortCount - 1));
    Add(&searchProcess, search.processMs);
    Add(&searchPings, search.processMs - search.pingAt[0]);
  }

  PrintFigure("cost of one probed port (ms)", portCost, 200);
  PrintFigure("\"ping\" to \"dial\", service on 20000 (ms)", pingToDial, 0);
  PrintFigure("no service: first \"ping\" to exit (ms)", searchPings, 4000);
  PrintFigure("no service: whole process (ms)", searchProcess, 4000);
  PrintFigure("service on 20000: whole process (ms)", dialProcess, 0);
  PrintFigure("empty GUI program: whole process (ms)", emptyProcess, 0);
  PrintFigure("service on 20000: peak working set (KB)", dialPeak, 0);
  PrintFigure("empty GUI program: peak working set (KB)", emptyPeak, 0);
  if (failures) printf("%-7s %d runs failed and are not counted\n", buildName, failures);
  WSACleanup();
  return failures ? 1 : 0;
}
