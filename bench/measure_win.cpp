// measure: times teldial.exe the way a user starts it, while playing the dial
// service itself on 127.0.0.1:20000-20019 so that it sees every datagram with
// its arrival time. For comparison it starts two baselines the same way,
// alternating with teldial so that all meet the same machine: an empty GUI
// program, and one that imports the same DLLs as teldial and does nothing.
//
//   measure <teldial.exe> <empty-gui.exe> <same-imports-gui.exe> [dial runs] [search runs] [build name]
//
// Prints the rows of one table, every figure the mean, minimum and maximum over
// the runs, then each goal with its verdict.
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
// Set when a datagram arrives at any of the sockets. The measuring loop sleeps
// on it and on the program's end rather than polling: under Wine every poll is
// a call into the one wineserver, which the measured program needs as well,
// and a busy loop here made each of its probed ports look 3 ms longer.
static WSAEVENT datagramArrived;
static double ticksPerMs;

static double NowMs() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return double(now.QuadPart) / ticksPerMs;
}

static bool OpenServiceSockets() {
  datagramArrived = WSACreateEvent();
  if (datagramArrived == WSA_INVALID_EVENT) return false;
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
    WSAEventSelect(sockets[i], datagramArrived, FD_READ);
  }
  return true;
}

static void Answer(SOCKET s, const sockaddr_in& to, const char* text) {
  sendto(s, text, int(strlen(text)), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

// Takes every waiting datagram in; the socket of answeringPort plays the service.
// How the socket of the answering port plays the service.
enum ServiceAnswers { kAnswerPingAndDial, kAnswerPingOnly };

static void ServeWaiting(int answeringPort, ServiceAnswers answers, double startMs, Run* run) {
  fd_set readable;
  FD_ZERO(&readable);
  for (int i = 0; i < kPortCount; i++) FD_SET(sockets[i], &readable);
  timeval noWait = {0, 0};
  WSAResetEvent(datagramArrived);
  if (select(0, &readable, nullptr, nullptr, &noWait) <= 0) return;
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
    if (isDial && answers == kAnswerPingAndDial) Answer(sockets[i], sender, "ok");
  }
}

static void SampleMemory(HANDLE process, Run* run) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(process, &counters, sizeof counters) && counters.PeakWorkingSetSize > run->peakWorkingSet)
    run->peakWorkingSet = counters.PeakWorkingSetSize;
}

static Run RunProgram(const wchar_t* program, const wchar_t* arguments, int answeringPort,
                      ServiceAnswers answers = kAnswerPingAndDial) {
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
  HANDLE events[2] = {info.hProcess, datagramArrived};
  for (;;) {
    // Wakes for a datagram or the end at once; every 10 ms to follow the
    // working set, whose peak a process that has ended no longer tells.
    DWORD woken = WaitForMultipleObjects(2, events, FALSE, 10);
    if (woken == WAIT_OBJECT_0) {
      run.processMs = NowMs() - startMs;
      run.ended = true;
      break;
    }
    ServeWaiting(answeringPort, answers, startMs, &run);
    SampleMemory(info.hProcess, &run);
    if (NowMs() - startMs > kRunTimeoutMs) {
      TerminateProcess(info.hProcess, 1);
      break;
    }
  }
  SampleMemory(info.hProcess, &run);
  CloseHandle(info.hProcess);
  // A late datagram must not count for the next run.
  Run discard = run;
  ServeWaiting(0, answers, startMs, &discard);
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


static double Mean(const Figure& figure) {
  double sum = 0;
  for (int i = 0; i < figure.count; i++) sum += figure.values[i];
  return figure.count ? sum / figure.count : 0;
}

// One goal: the measured value against its limit; "met", or by how much it
// misses.
static void PrintGoal(const char* goal, const Figure& figure, double measured, double limit, const char* unit) {
  if (figure.count == 0) {
    printf("%-7s goal: %-52s not measured\n", buildName, goal);
    return;
  }
  if (measured <= limit)
    printf("%-7s goal: %-52s met: %.3f%s <= %.3f%s\n", buildName, goal, measured, unit, limit, unit);
  else
    printf("%-7s goal: %-52s MISSED by %.3f%s (%.3f%s > %.3f%s)\n", buildName, goal, measured - limit, unit, measured,
           unit, limit, unit);
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    fprintf(stderr,
            "usage: measure <teldial.exe> <empty-gui.exe> <same-imports-gui.exe> [dial runs] [search runs] "
            "[build name]\n");
    return 2;
  }
  const wchar_t* teldial = argv[1];
  const wchar_t* empty = argv[2];
  const wchar_t* sameImports = argv[3];
  int dialRuns = argc > 4 ? _wtoi(argv[4]) : 10;
  int searchRuns = argc > 5 ? _wtoi(argv[5]) : 3;
  dialRuns = dialRuns < 1 ? 1 : dialRuns > kMaxRuns ? kMaxRuns : dialRuns;
  searchRuns = searchRuns < 1 ? 1 : searchRuns > kMaxRuns ? kMaxRuns : searchRuns;
  static char buildNameText[16];
  if (argc > 6) {
    WideCharToMultiByte(CP_UTF8, 0, argv[6], -1, buildNameText, sizeof buildNameText - 1, nullptr, nullptr);
    buildName = buildNameText;
  }

  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  ticksPerMs = double(frequency.QuadPart) / 1000.0;
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0 || !OpenServiceSockets()) return 1;
  timeBeginPeriod(1);

  Figure startToPing = {}, pingToDial = {}, dialToExit = {}, dialProcess = {}, emptyProcess = {}, importsProcess = {};
  Figure dialPeak = {}, emptyPeak = {}, importsPeak = {}, answerWait = {};
  Figure portCost = {}, searchProcess = {}, searchPings = {};
  int failures = 0;
  for (int i = 0; i < dialRuns; i++) {
    Run emptyRun = RunProgram(empty, L"", 0);
    Run importsRun = RunProgram(sameImports, L"", 0);
    Run dial = RunProgram(teldial, L"0555501230", kFirstPort);
    Run unanswered = RunProgram(teldial, L"0555501230", kFirstPort, kAnswerPingOnly);
    if (!emptyRun.ended || !importsRun.ended || !dial.ended || dial.pingAt[0] < 0 || dial.dialAt < 0 ||
        !unanswered.ended || unanswered.dialAt < 0) {
      failures++;
      continue;
    }
    Add(&emptyProcess, emptyRun.processMs);
    Add(&importsProcess, importsRun.processMs);
    // A process can end before the first sample; Wine cannot read a dead one.
    if (emptyRun.peakWorkingSet) Add(&emptyPeak, double(emptyRun.peakWorkingSet) / 1024);
    if (importsRun.peakWorkingSet) Add(&importsPeak, double(importsRun.peakWorkingSet) / 1024);
    Add(&dialProcess, dial.processMs);
    if (dial.peakWorkingSet) Add(&dialPeak, double(dial.peakWorkingSet) / 1024);
    Add(&startToPing, dial.pingAt[0]);
    Add(&pingToDial, dial.dialAt - dial.pingAt[0]);
    Add(&dialToExit, dial.processMs - dial.dialAt);
    Add(&answerWait, unanswered.processMs - unanswered.dialAt);
  }
  for (int i = 0; i < searchRuns; i++) {
    Run search = RunProgram(teldial, L"0555501230", 0);
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
  PrintFigure("service on 20000: start to \"ping\" (ms)", startToPing, 0);
  PrintFigure("service on 20000: \"ping\" to \"dial\" (ms)", pingToDial, 0);
  PrintFigure("service on 20000: \"dial\" to exit (ms)", dialToExit, 0);
  PrintFigure("unanswered \"dial\" to exit (ms)", answerWait, 1000);
  PrintFigure("no service: first \"ping\" to exit (ms)", searchPings, 4000);
  PrintFigure("no service: whole process (ms)", searchProcess, 4000);
  PrintFigure("service on 20000: whole process (ms)", dialProcess, 0);
  PrintFigure("empty GUI program: whole process (ms)", emptyProcess, 0);
  PrintFigure("same imports, does nothing: whole process (ms)", importsProcess, 0);
  PrintFigure("service on 20000: peak working set (KB)", dialPeak, 0);
  PrintFigure("empty GUI program: peak working set (KB)", emptyPeak, 0);
  PrintFigure("same imports: peak working set (KB)", importsPeak, 0);
  if (failures) printf("%-7s %d runs failed and are not counted\n", buildName, failures);

  PrintGoal("one probed port <= 1.01 x 200 ms", portCost, Mean(portCost) / 200, 1.01, "");
  PrintGoal("no service: whole process <= 4.06 s", searchProcess, Mean(searchProcess) / 1000, 4.06, " s");
  double waitOff = Mean(answerWait) > 1000 ? Mean(answerWait) - 1000 : 1000 - Mean(answerWait);
  PrintGoal("unanswered wait within 1 % of 1 s", answerWait, waitOff, 10, " ms off");
  PrintGoal("service on 20000 <= empty program + 15 ms", dialProcess, Mean(dialProcess) - Mean(emptyProcess), 15,
            " ms more");
  PrintGoal("peak working set <= 1.5 x the empty program's", dialPeak,
            Mean(emptyPeak) > 0 ? Mean(dialPeak) / Mean(emptyPeak) : 0, 1.5, " x");
  WSACleanup();
  return failures ? 1 : 0;
}
