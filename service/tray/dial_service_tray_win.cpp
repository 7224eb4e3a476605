// dial-service-tray.exe: the dial service in the background, a GUI program so
// that starting it from the Run key or Explorer opens no console window. It
// shows an icon in the notification area whose tooltip gives the port and the
// last number, with a menu to dial a recent number again, open the log or
// quit; the log is a file under %LOCALAPPDATA%\teldial. One instance runs per
// user and session.
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "service/sinks/command_template.h"
#include "service/loop/dial_service_win.h"
#include "service/number/phone_number.h"
#include "service/log/service_log_win.h"

static const wchar_t kWindowClass[] = L"teldial-dial-service-tray";
static const wchar_t kTitle[] = L"teldial dial service";
static const UINT kIconMessage = WM_APP + 1;
static const UINT kNumberMessage = WM_APP + 2;
static const UINT kServiceEndedMessage = WM_APP + 3;
enum { kOpenLogCommand = 1, kQuitCommand = 2, kSettingsCommand = 3, kFirstRecentCommand = 16 };

static ServiceOptions options;
static const NumberSink* deliverer;  // the sink the options chose
static HWND window;
static NOTIFYICONDATAW icon;
static bool iconShown;
static UINT taskbarCreatedMessage;
static int port;
static wchar_t logPath[MAX_PATH];
static SRWLOCK numberLock = SRWLOCK_INIT;
static char lastNumber[kMaxNumberLength + 1];
static int serviceResult;
// The numbers the menu showed last, which its commands name by position.
static RecentNumbers menuNumbers;

// The tray stands in front of the chosen sink: it notes each number for the
// tooltip (on the window's thread) and hands it on.
static int PrepareInFront(const SinkOptions& chosen) { return deliverer->prepare(chosen); }
static void DeliverInFront(const char* number) {
  AcquireSRWLockExclusive(&numberLock);
  strncpy(lastNumber, number, kMaxNumberLength);
  ReleaseSRWLockExclusive(&numberLock);
  PostMessageW(window, kNumberMessage, 0, 0);
  deliverer->deliver(number);
}
static bool BusyBehind() { return deliverer->busy(); }
static void CheckBehind() { deliverer->check(); }
static void FinishBehind(unsigned long timeoutMs) { deliverer->finish(timeoutMs); }
static const NumberSink kTraySink = {"tray", PrepareInFront, DeliverInFront, BusyBehind, CheckBehind, FinishBehind};

static void Tell(const wchar_t* text, UINT type) { MessageBoxW(nullptr, text, kTitle, type | MB_SETFOREGROUND); }

static void TellUtf8(const char* text, UINT type) {
  wchar_t wide[2048];
  if (!MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, 2048)) wcscpy(wide, L"?");
  Tell(wide, type);
}

// The tooltip, also the hidden window's title, where tests and tools can read it.
static void ShowState() {
  char number[kMaxNumberLength + 1];
  AcquireSRWLockShared(&numberLock);
  strcpy(number, lastNumber);
  ReleaseSRWLockShared(&numberLock);
  wchar_t text[128];
  if (number[0])
    _snwprintf(text, 128, L"teldial: port %d, last number %hs", port, number);
  else
    _snwprintf(text, 128, L"teldial: port %d, no number yet", port);
  text[127] = 0;
  SetWindowTextW(window, text);
  wcscpy(icon.szTip, text);
  if (iconShown) Shell_NotifyIconW(NIM_MODIFY, &icon);
}

static void AddIcon() {
  icon.cbSize = sizeof icon;
  icon.hWnd = window;
  icon.uID = 1;
  icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  icon.uCallbackMessage = kIconMessage;
  icon.hIcon = static_cast<HICON>(
      LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                 GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  iconShown = Shell_NotifyIconW(NIM_ADD, &icon);
  if (!iconShown) LogLine("the notification area cannot show the icon");
}

static void OpenLog() {
  HINSTANCE opened = ShellExecuteW(window, L"open", logPath, nullptr, nullptr, SW_SHOWNORMAL);
  // Without a program for .log files, Notepad, which every Windows has.
  if (reinterpret_cast<INT_PTR>(opened) <= 32) {
    wchar_t quoted[MAX_PATH + 2];
    _snwprintf(quoted, MAX_PATH + 2, L"\"%ls\"", logPath);
    quoted[MAX_PATH + 1] = 0;
    ShellExecuteW(window, L"open", L"notepad.exe", quoted, nullptr, SW_SHOWNORMAL);
  }
}

static HMENU MakeRecentNumbersMenu() {
  HMENU recent = CreatePopupMenu();
  CopyRecentNumbers(&menuNumbers);
  for (size_t i = 0; i < menuNumbers.count; i++) {
    wchar_t item[kMaxNumberLength + 1];
    _snwprintf(item, kMaxNumberLength + 1, L"%hs", menuNumbers.numbers[i]);
    item[kMaxNumberLength] = 0;
    AppendMenuW(recent, MF_STRING, kFirstRecentCommand + i, item);
  }
  if (menuNumbers.count == 0) AppendMenuW(recent, MF_STRING | MF_GRAYED, 0, L"(none)");
  return recent;
}

static void ShowMenu() {
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, kSettingsCommand, L"&Settings\u2026");
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(MakeRecentNumbersMenu()), L"&Recent numbers");
  AppendMenuW(menu, MF_STRING, kOpenLogCommand, L"Open &log");
  AppendMenuW(menu, MF_STRING, kQuitCommand, L"&Quit");
  POINT at;
  GetCursorPos(&at);
  // Without this, the menu stays open when the user clicks elsewhere.
  SetForegroundWindow(window);
  TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, at.x, at.y, 0, window, nullptr);
  PostMessageW(window, WM_NULL, 0, 0);
  DestroyMenu(menu);  // and the submenu with it
}

static void Command(WORD command) {
  if (command == kOpenLogCommand) OpenLog();
  if (command == kQuitCommand) {
    LogLine("quit from the menu");
    StopService();
  }
  if (command >= kFirstRecentCommand && command < kFirstRecentCommand + menuNumbers.count)
    DialAgain(menuNumbers.numbers[command - kFirstRecentCommand]);
}

static LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kIconMessage) {
    UINT event = UINT(LOWORD(lParam));
    if (event == WM_RBUTTONUP || event == WM_LBUTTONUP || event == WM_CONTEXTMENU) ShowMenu();
    return 0;
  }
  if (message == kNumberMessage) {
    ShowState();
    return 0;
  }
  if (message == kServiceEndedMessage) {
    DestroyWindow(hwnd);
    return 0;
  }
  if (message == taskbarCreatedMessage && taskbarCreatedMessage) {
    AddIcon();  // the notification area was started again
    return 0;
  }
  switch (message) {
    case WM_COMMAND:
      Command(LOWORD(wParam));
      return 0;
    case WM_CLOSE:
      StopService();
      return 0;
    case WM_DESTROY:
      if (iconShown) Shell_NotifyIconW(NIM_DELETE, &icon);
      iconShown = false;
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

static DWORD WINAPI Serve(void*) {
  serviceResult = ServeDialRequests(options);
  PostMessageW(window, kServiceEndedMessage, 0, 0);
  return 0;
}

// %LOCALAPPDATA%\teldial\dial-service.log, the folder made when missing.
static bool FindLogPath() {
  wchar_t folder[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", folder, MAX_PATH);
  if ((length == 0 || length >= MAX_PATH) && FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, folder)))
    return false;
  if (wcslen(folder) + 30 >= MAX_PATH) return false;
  wcscat(folder, L"\\teldial");
  SHCreateDirectoryExW(nullptr, folder, nullptr);
  _snwprintf(logPath, MAX_PATH, L"%ls\\dial-service.log", folder);
  return true;
}

// One instance per user in this session: a mutex named after the user.
static HANDLE TakeInstanceLock() {
  wchar_t user[257] = L"";
  DWORD size = 257;
  GetUserNameW(user, &size);
  wchar_t name[300];
  _snwprintf(name, 300, L"Local\\teldial-dial-service-tray-%ls", user);
  name[299] = 0;
  for (wchar_t* c = name + 6; *c; c++)
    if (*c == L'\\') *c = L'_';
  HANDLE lock = CreateMutexW(nullptr, FALSE, name);
  if (lock && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(lock);
    return nullptr;
  }
  return lock;
}

static bool CreateTrayWindow(HINSTANCE instance) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = WindowProcedure;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kWindowClass;
  if (!RegisterClassW(&windowClass)) return false;
  // A hidden top-level window rather than a message-only one: only those hear
  // that the notification area was started again.
  window = CreateWindowW(kWindowClass, kTitle, WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
  taskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
  return window != nullptr;
}

static const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
static const wchar_t kRunValue[] = L"teldial dial service";

// "--start-at-logon [/logon] OPTIONS": register.cmd /logon hands its own
// command line on. The options are checked like at any start, then this
// program and the options, each quoted by the Windows rules, become the user's
// Run value, which cmd could not quote reliably. 0, or 2 for bad options,
// or 1 when the value cannot be written.
static int StartAtLogon(int argc, wchar_t** argv) {
  int first = 2;
  if (first < argc && _wcsicmp(argv[first], L"/logon") == 0) first++;
  // The parser skips argv[0], so the options are handed on with one in front.
  wchar_t** optionArguments = argv + first - 1;
  char problem[kMaxOptionProblem];
  if (!ParseServiceOptions(argc - first + 1, reinterpret_cast<const char16_t* const*>(optionArguments), &options,
                           problem)) {
    TellUtf8(problem, MB_ICONERROR);
    return 2;
  }
  static wchar_t program[MAX_PATH];
  static char16_t line[kMaxCommandLine];
  DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  size_t used = 0;
  line[0] = 0;
  bool fits = AppendArgument(line, kMaxCommandLine, &used, reinterpret_cast<char16_t*>(program), length);
  for (int i = first; fits && i < argc; i++)
    fits = AppendArgument(line, kMaxCommandLine, &used, reinterpret_cast<char16_t*>(argv[i]), wcslen(argv[i]));
  HKEY run = nullptr;
  if (!fits || RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &run, nullptr))
    return 1;
  LONG written = RegSetValueExW(run, kRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(line),
                                DWORD((used + 1) * sizeof(char16_t)));
  RegCloseKey(run);
  return written == ERROR_SUCCESS ? 0 : 1;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, wchar_t*, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return 1;
  if (argc > 1 && wcscmp(argv[1], L"--start-at-logon") == 0) return StartAtLogon(argc, argv);
  char problem[kMaxOptionProblem];
  if (!ParseServiceOptions(argc, reinterpret_cast<const char16_t* const*>(argv), &options, problem)) {
    TellUtf8(problem, MB_ICONERROR);
    return 2;
  }
  if (options.help) {
    char usage[4096];
    FormatUsage("dial-service-tray", usage, sizeof usage);
    TellUtf8(usage, MB_ICONINFORMATION);
    return 0;
  }
  HANDLE instanceLock = TakeInstanceLock();
  if (!instanceLock) {
    Tell(L"The teldial dial service is already running for this user; its icon is in the notification area.",
         MB_ICONINFORMATION);
    return 1;
  }
  if (!FindLogPath() || !LogToFile(logPath, size_t(options.logSizeKb) * 1024)) {
    Tell(L"The log file under %LOCALAPPDATA%\\teldial cannot be opened.", MB_ICONERROR);
    return 1;
  }
  deliverer = &ChooseNumberSink(options.sink);
  LogLine("dial-service-tray started, handing numbers to: %s", deliverer->name);
  if (int failure = StartService(options, kTraySink, &port)) {
    TellUtf8(ReportedProblem(), MB_ICONERROR);
    return failure;
  }
  LogLine("listening on 127.0.0.1:%d", port);
  if (!CreateTrayWindow(instance)) {
    LogLine("the window for the notification area cannot be made, error %lu", GetLastError());
    EndService(0);
    return 1;
  }
  AddIcon();
  ShowState();
  HANDLE serving = CreateThread(nullptr, 0, Serve, nullptr, 0, nullptr);
  if (!serving) {
    DestroyWindow(window);
    EndService(0);
    return 1;
  }
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  WaitForSingleObject(serving, INFINITE);
  CloseHandle(serving);
  EndService(kFinishWaitMs);
  LogLine("dial-service-tray ended");
  CloseHandle(instanceLock);
  LocalFree(argv);
  return serviceResult;
}
