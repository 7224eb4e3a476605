// The dial key's time: dial-service-tray.exe runs with --http to a server in
// this program, Notepad holds "Call +49 5555 0123-0 today" with the number
// selected, and the key is pressed through the system's input queue. Each
// press is timed to the clipboard's change (the copy the tray asked for, which
// includes the wait for the keys' release and the other program's own copy)
// and to the request's first bytes at the server; the goal is the time beyond
// that wait.
//
//   measure-hotkey.exe <dial-service-tray.exe> [presses] [build name]
//
// Ports: 20054 (TCP, the phone) and 20055 (UDP, the tray's service port).
#include <winsock2.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <algorithm>
#include <vector>

static const int kPhonePort = 20054;
static const double kGoalBeyondCopyMs = 150.0;

static double NowMs() {
  static LARGE_INTEGER frequency;
  if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return double(now.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

static HWND AwaitTopWindow(DWORD processId, const wchar_t* className, DWORD timeoutMs) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
    for (HWND window = FindWindowExW(nullptr, nullptr, className, nullptr); window;
         window = FindWindowExW(nullptr, window, className, nullptr)) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      if (owner == processId) return window;
    }
    Sleep(50);
  }
  return nullptr;
}

static bool Start(const wchar_t* program, wchar_t* commandLine, PROCESS_INFORMATION* started) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  return CreateProcessW(program, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, started);
}

static void PressDialKey() {
  const WORD keys[] = {VK_CONTROL, VK_MENU, VK_SHIFT, VK_F8};
  INPUT strokes[8] = {};
  for (int i = 0; i < 4; i++) {
    strokes[i].type = strokes[7 - i].type = INPUT_KEYBOARD;
    strokes[i].ki.wVk = strokes[7 - i].ki.wVk = keys[i];
    strokes[7 - i].ki.dwFlags = KEYEVENTF_KEYUP;
  }
  SendInput(8, strokes, sizeof(INPUT));
}

// The clipboard watched on a thread of its own, closely: the first change
// after a press is when the copy came. A wait in select is too coarse for it.
namespace {
struct CopyWatch {
  volatile LONG watching;
  DWORD sequence;
  volatile double changedAt;
};
}  // namespace

static DWORD WINAPI WatchClipboard(void* parameter) {
  CopyWatch* watch = static_cast<CopyWatch*>(parameter);
  while (watch->watching) {
    if (!watch->changedAt && GetClipboardSequenceNumber() != watch->sequence) watch->changedAt = NowMs();
    SwitchToThread();
  }
  return 0;
}

// Waits for the tray's request: the time its first bytes came, answered 200 and closed.
static bool AwaitRequest(SOCKET listener, double* requestAt) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(listener, &readable);
  timeval wait = {5, 0};
  if (select(0, &readable, nullptr, nullptr, &wait) != 1) return false;
  SOCKET connection = accept(listener, nullptr, nullptr);
  if (connection == INVALID_SOCKET) return false;
  char request[4096];
  int got = recv(connection, request, sizeof request - 1, 0);
  *requestAt = NowMs();
  for (int total = got; got > 0 && total < int(sizeof request) - 1; total += got) {
    request[total] = 0;
    if (strstr(request, "\r\n\r\n")) break;
    got = recv(connection, request + total, int(sizeof request) - 1 - total, 0);
  }
  const char answer[] = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  send(connection, answer, int(sizeof answer - 1), 0);
  closesocket(connection);
  return true;
}

static void Row(const char* build, const char* figure, std::vector<double> values) {
  if (values.empty()) {
    printf("%-7s %-44s %9s %9s %9s\n", build, figure, "n/a", "n/a", "n/a");
    return;
  }
  std::sort(values.begin(), values.end());
  printf("%-7s %-44s %9.1f %9.1f %9.1f\n", build, figure, values[values.size() / 2], values.front(), values.back());
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: measure-hotkey.exe <dial-service-tray.exe> [presses] [build name]\n");
    return 2;
  }
  int presses = argc > 2 ? std::max(1, std::min(50, _wtoi(argv[2]))) : 10;
  char build[16] = "";
  if (argc > 3) snprintf(build, sizeof build, "%ls", argv[3]);
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(kPhonePort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) || listen(listener, 4)) {
    fprintf(stderr, "measure-hotkey: port %d is taken\n", kPhonePort);
    return 1;
  }
  // A fresh %LOCALAPPDATA% for the tray's log, so that no earlier run counts.
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  wcscat(folder, L"teldial-measure-hotkey");
  CreateDirectoryW(folder, nullptr);
  SetEnvironmentVariableW(L"LOCALAPPDATA", folder);
  SetEnvironmentVariableW(L"APPDATA", folder);

  static wchar_t trayLine[1024];
  _snwprintf(trayLine, 1024,
             L"\"%ls\" --no-settings --port 20055 --max-calls 0 --http http://127.0.0.1:%d/dial?n={number}", argv[1],
             kPhonePort);
  PROCESS_INFORMATION tray = {}, notepad = {};
  static wchar_t notepadLine[] = L"notepad.exe";
  int status = 1;
  std::vector<double> toCopy, toRequest, beyondCopy;
  HWND trayWindow = nullptr, editor = nullptr, text = nullptr;
  if (!Start(argv[1], trayLine, &tray) ||
      !(trayWindow = AwaitTopWindow(tray.dwProcessId, L"teldial-dial-service-tray", 20000)) ||
      !Start(L"C:\\windows\\system32\\notepad.exe", notepadLine, &notepad) ||
      !(editor = AwaitTopWindow(notepad.dwProcessId, L"Notepad", 20000)) ||
      !(text = FindWindowExW(editor, nullptr, L"Edit", nullptr))) {
    fprintf(stderr, "measure-hotkey: the tray or Notepad did not start\n");
  } else {
    SetWindowTextW(text, L"Call +49 5555 0123-0 today");
    SetForegroundWindow(editor);
    SetFocus(text);
    SendMessageW(text, EM_SETSEL, 5, 20);
    Sleep(1000);  // the tray has registered its key by the time its window shows; Notepad settles
    status = 0;
    for (int i = 0; i < presses; i++) {
      double requestAt = 0;
      CopyWatch watch = {1, GetClipboardSequenceNumber(), 0};
      HANDLE watcher = CreateThread(nullptr, 0, WatchClipboard, &watch, 0, nullptr);
      double pressedAt = NowMs();
      PressDialKey();
      bool requested = AwaitRequest(listener, &requestAt);
      watch.watching = 0;
      if (watcher) WaitForSingleObject(watcher, INFINITE), CloseHandle(watcher);
      double copiedAt = watch.changedAt;
      if (!requested) {
        fprintf(stderr, "measure-hotkey: press %d made no request\n", i + 1);
        status = 1;
        break;
      }
      toRequest.push_back(requestAt - pressedAt);
      if (copiedAt) {
        toCopy.push_back(copiedAt - pressedAt);
        beyondCopy.push_back(requestAt - copiedAt);
      }
      Sleep(300);
    }
  }
  Row(build, "dial key: key to the copy (ms)", toCopy);
  Row(build, "dial key: copy to the request (ms)", beyondCopy);
  Row(build, "dial key: key to the request (ms)", toRequest);
  std::sort(beyondCopy.begin(), beyondCopy.end());
  const char* goal = "dial key to request beyond the copy (median) <= 150 ms";
  if (beyondCopy.empty()) {
    printf("%-7s goal: %-52s not measured\n", build, goal);
  } else {
    double median = beyondCopy[beyondCopy.size() / 2];
    if (median <= kGoalBeyondCopyMs)
      printf("%-7s goal: %-52s met: %.3f ms <= %.3f ms\n", build, goal, median, kGoalBeyondCopyMs);
    else
      printf("%-7s goal: %-52s MISSED by %.3f ms (%.3f ms > %.3f ms)\n", build, goal, median - kGoalBeyondCopyMs,
             median, kGoalBeyondCopyMs);
  }
  fflush(stdout);
  if (trayWindow) PostMessageW(trayWindow, WM_CLOSE, 0, 0);
  if (tray.hProcess && WaitForSingleObject(tray.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(tray.hProcess, 1);
  if (notepad.hProcess) TerminateProcess(notepad.hProcess, 0);
  closesocket(listener);
  return status;
}
