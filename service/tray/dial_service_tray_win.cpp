// dial-service-tray.exe: the dial service in the background, a GUI program so
// that starting it from the Run key or Explorer opens no console window. It
// shows an icon in the notification area whose tooltip gives the port and the
// last number, with a menu for the settings window, to dial a number typed in
// the Dial window or the one in the clipboard, to hang up, to dial a recent
// number again, open the log or quit; the log is a file under
// %LOCALAPPDATA%\teldial. A global key dials the number selected in the
// window in front, another may hang up.
// One instance runs per user and session. The settings window opens by itself
// at the first start, and when a settings file is at fault.
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "service/log/service_log_win.h"
#include "service/loop/dial_service_win.h"
#include "service/number/dialing_rules.h"
#include "service/number/log_text.h"
#include "service/number/number_in_text.h"
#include "service/number/phone_number.h"
#include "service/settings/desk_names_win.h"
#include "service/settings/field_wording.h"
#include "service/settings/settings_win.h"
#include "service/settings/settings_window_win.h"
#include "service/sinks/command_template.h"
#include "service/sinks/http_requester_win.h"
#include "service/tray/clipboard_text_win.h"
#include "service/tray/dial_window_win.h"
#include "service/tray/screen_keys_win.h"

static const wchar_t kWindowClass[] = L"teldial-dial-service-tray";
static const wchar_t kTitle[] = L"teldial dial service";
static const UINT kIconMessage = WM_APP + 1;
static const UINT kNumberMessage = WM_APP + 2;
static const UINT kServiceEndedMessage = WM_APP + 3;
static const UINT kOpenSettingsMessage = WM_APP + 4;
static const UINT kBrakeMessage = WM_APP + 5;
static const UINT kFailureMessage = WM_APP + 6;
static const UINT kRefusalMessage = WM_APP + 7;
static const UINT kHangUpFailedMessage = WM_APP + 8;
enum {
  kOpenLogCommand = 1,
  kQuitCommand = 2,
  kSettingsCommand = 3,
  kHangUpCommand = 4,
  kDialClipboardCommand = 5,
  kDialWindowCommand = 6,
  kFirstRecentCommand = 16
};

static int programArgc;
static wchar_t** programArgv;
// What the service started with, which the serving thread reads to its end,
// and what Save made of the settings since (or null).
static LoadedOptions* startedWith;
static LoadedOptions* applied;
static wchar_t settingsPath[MAX_PATH];
static const NumberSink* deliverer;  // the sink the options chose
static HWND window;
static NOTIFYICONDATAW icon;
static bool iconShown;
static UINT taskbarCreatedMessage;
static int port;
static wchar_t logPath[MAX_PATH];
static SRWLOCK numberLock = SRWLOCK_INIT;
static char lastNumber[kMaxDialledLength + 1];
static int serviceResult;
// The numbers the menu showed last, which its commands name by position.
static RecentNumbers menuNumbers;

// The tray stands in front of the chosen sink: it notes each number for the
// tooltip (on the window's thread) and hands it on. Settings taken up while
// it serves bring their own sink.
static int PrepareInFront(const SinkOptions& chosen) {
  deliverer = &ChooseNumberSink(chosen);
  return deliverer->prepare(chosen);
}
static void DeliverInFront(const char* number) {
  AcquireSRWLockExclusive(&numberLock);
  strncpy(lastNumber, number, kMaxDialledLength);
  ReleaseSRWLockExclusive(&numberLock);
  PostMessageW(window, kNumberMessage, 0, 0);
  deliverer->deliver(number);
}
static bool BusyBehind() { return deliverer->busy(); }
static void CheckBehind() { deliverer->check(); }
static void FinishBehind(unsigned long timeoutMs) { deliverer->finish(timeoutMs); }
static void StartedBehind() { deliverer->started(); }
static const NumberSink kTraySink = {"tray",      PrepareInFront, DeliverInFront, BusyBehind,
                                     CheckBehind, FinishBehind,   StartedBehind};

static void Tell(const wchar_t* text, UINT type) { MessageBoxW(nullptr, text, kTitle, type | MB_SETFOREGROUND); }

// The usage text alone is longer than any fixed buffer would be for long.
static void TellUtf8(const char* text, UINT type) {
  int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  wchar_t* wide = length > 0 ? static_cast<wchar_t*>(malloc(size_t(length) * sizeof(wchar_t))) : nullptr;
  if (wide && MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, length))
    Tell(wide, type);
  else
    Tell(L"?", type);
  free(wide);
}

// The tooltip, also the hidden window's title, where tests and tools can read it.
static void ShowState() {
  char number[kMaxDialledLength + 1];
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

// A balloon by the icon, its UTF-8 text cut with "..." where a balloon holds
// less; the caller logs what it says.
static void ShowBalloon(DWORD infoFlags, const wchar_t* title, const char* text) {
  if (!iconShown) return;
  NOTIFYICONDATAW balloon = icon;
  balloon.uFlags = NIF_INFO;
  balloon.dwInfoFlags = infoFlags;
  const size_t kTitleSize = sizeof balloon.szInfoTitle / sizeof balloon.szInfoTitle[0];
  const size_t kTextSize = sizeof balloon.szInfo / sizeof balloon.szInfo[0];
  _snwprintf(balloon.szInfoTitle, kTitleSize, L"%ls", title);
  balloon.szInfoTitle[kTitleSize - 1] = 0;
  int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  wchar_t* wide = units > 0 ? static_cast<wchar_t*>(malloc(size_t(units) * sizeof(wchar_t))) : nullptr;
  if (!wide || !MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, units))
    wcscpy(balloon.szInfo, L"?");
  else if (size_t(units) <= kTextSize)
    wcscpy(balloon.szInfo, wide);
  else
    _snwprintf(balloon.szInfo, kTextSize, L"%.*ls...", int(kTextSize - 4), wide);
  free(wide);
  balloon.szInfo[kTextSize - 1] = 0;
  if (!Shell_NotifyIconW(NIM_MODIFY, &balloon)) LogLine("the notification area cannot show the balloon");
}

static const LoadedOptions& LoadedInEffect() { return *(applied ? applied : startedWith); }

// What stops a global key, by the icon; the caller has logged it.
static void WarnInBalloon(const wchar_t* title, const char* text) { ShowBalloon(NIIF_WARNING, title, text); }

// Posted from the serving thread, which must not wait for the shell.
static void PostBrakeNews() { PostMessageW(window, kBrakeMessage, 0, 0); }

static void ShowBrakeBalloon() {
  LogLine("the notification area says: numbers are coming too fast, the rest are refused");
  ShowBalloon(NIIF_WARNING, L"teldial: too many numbers at once",
              "Numbers are arriving faster than anyone clicks. They are refused until none has come for a "
              "while; the log has the details.");
}

// A number the phone did not take, for a balloon; posted with the message.
struct FailureNews {
  bool mayStillDial;
  char number[kMaxDialledLength + 1];
  char text[1024];
};

// Called on the HTTP worker's thread, which must not wait for the shell.
static void PostFailureNews(const char* number, const char* outcome, bool mayStillDial) {
  HWND shownBy = window;
  FailureNews* news = shownBy ? static_cast<FailureNews*>(calloc(1, sizeof(FailureNews))) : nullptr;
  if (!news) return;
  news->mayStillDial = mayStillDial;
  snprintf(news->number, sizeof news->number, "%s", number);
  // The log line without "http NUMBER: ", which the balloon says otherwise.
  char prefix[kMaxDialledLength + 16];
  snprintf(prefix, sizeof prefix, "http %s: ", number);
  const char* what = strncmp(outcome, prefix, strlen(prefix)) == 0 ? outcome + strlen(prefix) : outcome;
  snprintf(news->text, sizeof news->text,
           mayStillDial ? "%s: %s. Look at the phone before you click again." : "%s: %s", number, what);
  if (!PostMessageW(shownBy, kFailureMessage, 0, reinterpret_cast<LPARAM>(news))) free(news);
}

static void ShowFailureBalloon(FailureNews* news) {
  LogLine("the notification area says: %s %s", news->mayStillDial ? "the phone may still dial" : "not dialled",
          news->number);
  ShowBalloon(NIIF_WARNING,
              news->mayStillDial ? L"teldial: the phone may still dial" : L"teldial: the number was not dialled",
              news->text);
  free(news);
}

// A refused number, for a balloon; posted with the message.
struct RefusalNews {
  char arrived[kMaxFormattedTextSize];
  char reason[128];
};

// A page can send refused links as fast as it likes; the service sums those
// up in the log, and the user gets at most one balloon in this time (for the
// first refusal; the log keeps the rest), so that a flood of refusals cannot
// become a flood of balloons. A balloon stays about as long.
static const ULONGLONG kRefusalBalloonGapMs = 5000;

// Called under the loop's lock (see ServiceHooks), which also guards lastRefusalBalloon.
static void PostRefusalNews(const char* arrivedShown, const char* reason) {
  static ULONGLONG lastRefusalBalloon;
  static bool refusalBalloonShown;
  ULONGLONG now = GetTickCount64();
  if (refusalBalloonShown && now - lastRefusalBalloon < kRefusalBalloonGapMs) return;
  RefusalNews* news = window ? static_cast<RefusalNews*>(calloc(1, sizeof(RefusalNews))) : nullptr;
  if (!news) return;
  snprintf(news->arrived, sizeof news->arrived, "%s", arrivedShown);
  snprintf(news->reason, sizeof news->reason, "%s", reason);
  if (!PostMessageW(window, kRefusalMessage, 0, reinterpret_cast<LPARAM>(news))) {
    free(news);
    return;
  }
  lastRefusalBalloon = now;
  refusalBalloonShown = true;
}

static void ShowRefusalBalloon(RefusalNews* news) {
  LogLine("the notification area says: not dialled %s: %s", news->arrived, news->reason);
  // A long link is cut before the reason would be: a balloon holds 255
  // characters, and no UTF-8 byte makes more than one of them.
  const size_t kBalloonText = 255;
  size_t room = kBalloonText - strlen(news->reason) - 8;
  size_t cut = strlen(news->arrived);
  bool cutShort = cut > room;
  if (cutShort)
    for (cut = room; cut > 0 && (static_cast<unsigned char>(news->arrived[cut]) & 0xC0) == 0x80;) cut--;
  char text[kMaxFormattedTextSize + 160];
  snprintf(text, sizeof text, "%.*s%s: %s.", int(cut), news->arrived, cutShort ? "..." : "", news->reason);
  ShowBalloon(NIIF_WARNING, L"teldial: the number was not dialled", text);
  free(news);
}

// One hang-up at a time: a second click while the phone is asked changes nothing.
static volatile LONG hangingUp;

// The outcome line of a hang-up that did not end the call, for a balloon;
// posted with the message.
struct HangUpNews {
  char text[1024];
};

static DWORD WINAPI HangUpInBackground(void* parameter) {
  HttpRequester* requester = static_cast<HttpRequester*>(parameter);
  char outcome[1024];
  bool ended = RequestHangUp(requester, outcome, sizeof outcome);
  CloseHttpRequester(requester);
  LogLine("%s", outcome);
  HangUpNews* news = ended ? nullptr : static_cast<HangUpNews*>(calloc(1, sizeof(HangUpNews)));
  if (news) {
    const char* what = strncmp(outcome, "hang-up: ", 9) == 0 ? outcome + 9 : outcome;
    snprintf(news->text, sizeof news->text, "%s.", what);
    if (!PostMessageW(window, kHangUpFailedMessage, 0, reinterpret_cast<LPARAM>(news))) free(news);
  }
  InterlockedExchange(&hangingUp, 0);
  return 0;
}

static void ShowHangUpBalloon(HangUpNews* news) {
  LogLine("the notification area says: the call was not ended");
  ShowBalloon(NIIF_WARNING, L"teldial: the call was not ended", news->text);
  free(news);
}

static bool CanHangUp() { return LoadedInEffect().options.sink.http.hangUp.url != nullptr; }

// The request is made ready here, from the settings in effect, so that a Save
// meanwhile takes nothing from under it; the phone is asked on a thread of
// its own, which may wait for --http-timeout.
static void HangUp() {
  // The hang-up key comes here without a menu that would be grayed.
  if (InterlockedCompareExchange(&hangingUp, 1, 0) != 0) {
    LogLine("hang-up: one is under way already");
    return;
  }
  char problem[kMaxOptionProblem];
  HttpRequester* requester = OpenHangUpRequester(LoadedInEffect().options.sink.http, problem, sizeof problem);
  HANDLE worker = requester ? CreateThread(nullptr, 0, HangUpInBackground, requester, 0, nullptr) : nullptr;
  if (worker) {
    CloseHandle(worker);
    return;
  }
  InterlockedExchange(&hangingUp, 0);
  if (requester) {
    CloseHttpRequester(requester);
    snprintf(problem, sizeof problem, "no thread can be started for it");
  }
  LogLine("hang-up: not sent: %s", problem);
  HangUpNews* news = static_cast<HangUpNews*>(calloc(1, sizeof(HangUpNews)));
  if (!news) return;
  snprintf(news->text, sizeof news->text, "Not sent: %s.", problem);
  ShowHangUpBalloon(news);
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
  AppendMenuW(menu, MF_STRING, kDialWindowCommand, L"&Dial\u2026");
  AppendMenuW(menu, MF_STRING | (ClipboardHoldsText() ? 0 : MF_GRAYED), kDialClipboardCommand, L"Dial &clipboard");
  AppendMenuW(menu, MF_STRING | (CanHangUp() ? 0 : MF_GRAYED), kHangUpCommand, L"&Hang up");
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

// Whether the command line says how numbers go (or that it alone counts).
static bool CommandLineDecides() {
  static const wchar_t* const requestOptions[] = {L"--http", L"--exec", L"--phone", L"--no-settings"};
  for (int i = 1; i < programArgc; i++)
    for (const wchar_t* option : requestOptions)
      if (wcscmp(programArgv[i], option) == 0) return true;
  return false;
}

static bool Names(const SettingsFile& file, const wchar_t* key) {
  for (size_t i = 0; i < file.count; i++)
    if (wcscmp(reinterpret_cast<const wchar_t*>(file.entries[i].key), key) == 0) return true;
  return false;
}

// A click on a page does not dial by itself until the user's own file (the
// settings window writes it), the command line, or the machine's file in so
// many words turns confirmation off: a roll-out that says nothing of it
// leaves it on.
static void KeepConfirmationOn(LoadedOptions* loaded) {
  bool turnedOff = (loaded->userPath[0] && Names(loaded->user, L"confirm")) ||
                   (loaded->machinePath[0] && Names(loaded->machine, L"confirm")) || CommandLineDecides();
  if (!turnedOff) loaded->options.confirm = true;
}

// The keys that the running service cannot take up (the port it listens on,
// the number of commands it serves, the log's limit) and that Save changed in
// a file: said in the log and a balloon, so that nobody waits for them.
static void TellWhatWaitsForRestart(const ServiceOptions& saved) {
  const ServiceOptions& running = startedWith->options;
  char keys[64] = "";
  if (saved.port != running.port) strcat(keys, ", port");
  if (saved.count != running.count) strcat(keys, ", count");
  if (saved.logSizeKb != running.logSizeKb) strcat(keys, ", log-size");
  if (!keys[0]) return;
  LogLine("saved, but taken up only at the next start: %s", keys + 2);
  char text[160];
  snprintf(text, sizeof text,
           "These keys of the settings file take effect when the dial service starts again (Quit, then start it): "
           "%s.", keys + 2);
  ShowBalloon(NIIF_INFO, L"teldial: settings saved", text);
}

// After Save: the files are read again and taken up at once.
static bool ApplySavedSettings(char* problem, size_t size) {
  int exitCode = 0;
  LoadedOptions* loaded = LoadServiceOptions(programArgc, programArgv, problem, size, &exitCode);
  if (!loaded) return false;
  KeepConfirmationOn(loaded);
  if (ReplaceNumberHandling(loaded->options, kTraySink)) {
    snprintf(problem, size, "%s", ReportedProblem());
    FreeLoadedOptions(loaded);
    return false;
  }
  if (applied) FreeLoadedOptions(applied);
  applied = loaded;
  LogLine("settings saved, handing numbers to: %s", deliverer->name);
  TellWhatWaitsForRestart(loaded->options);
  return true;
}

// While the settings window is open, the keys are let go, so that its check
// of a key finds it free or taken as any program would; they are taken
// again, as saved, when it closes.
static void OpenSettings() {
  if (HWND open = OpenSettingsWindow()) {
    SetForegroundWindow(open);
    return;
  }
  ReleaseHotkeys(window);
  RunSettingsWindow(LoadedInEffect(), settingsPath, programArgc, programArgv, ApplySavedSettings,
                    LoadedInEffect().passwordMissing ? "Password: the phone asks for one" : nullptr);
  TakeHotkeys(window, LoadedInEffect().options, WarnInBalloon);
}

// Bounds the clipboard's text that is searched for a number.
static const size_t kMaxClipboardText = 64 * 1024;
// The start of a text without a number that a balloon shows, in bytes.
static const size_t kShownClipboardStart = 60;

static void SayNothingDialled(const char* logged, const char* said) {
  LogLine("the notification area says: nothing dialled: %s", logged);
  ShowBalloon(NIIF_INFO, L"teldial: nothing dialled", said);
}

// "Dial clipboard": the first phone number in the clipboard's text goes the
// way of a number from a dialer; without one, a balloon says why.
static void DialClipboard() {
  static char text[kMaxClipboardText];
  size_t length = 0;
  ClipboardText copied = CopyClipboardText(text, sizeof text, &length);
  size_t start = 0, size = 0;
  if (copied == kClipboardBusy) {
    SayNothingDialled("another program holds the clipboard",
                      "Another program holds the clipboard. Try again in a moment.");
  } else if (copied == kClipboardHoldsNoText) {
    SayNothingDialled("the clipboard holds no text", "The clipboard holds no text.");
  } else if (!FindPhoneNumberInText(text, length, &start, &size)) {
    // Its start, cut at a character, so that the user sees what was copied.
    size_t shown = length;
    if (shown > kShownClipboardStart)
      for (shown = kShownClipboardStart; shown > 0 && (static_cast<unsigned char>(text[shown]) & 0xC0) == 0x80;)
        shown--;
    char beginning[kMaxFormattedTextSize];
    FormatTextForLog(text, shown, beginning, sizeof beginning);
    char said[kMaxFormattedTextSize + 64];
    snprintf(said, sizeof said, "No phone number in the clipboard's text: %s%s", beginning,
             shown < length ? "..." : "");
    SayNothingDialled("no phone number in the clipboard's text", said);
  } else {
    DialFromScreen(text + start, size, "the clipboard");
  }
}

static void Command(WORD command) {
  if (command == kSettingsCommand) OpenSettings();
  if (command == kDialWindowCommand && !OpenDialWindow()) LogLine("the Dial window cannot be opened");
  if (command == kDialClipboardCommand) DialClipboard();
  if (command == kOpenLogCommand) OpenLog();
  if (command == kHangUpCommand) HangUp();
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
  if (message == kBrakeMessage) {
    ShowBrakeBalloon();
    return 0;
  }
  if (message == kRefusalMessage) {
    ShowRefusalBalloon(reinterpret_cast<RefusalNews*>(lParam));
    return 0;
  }
  if (message == kHangUpFailedMessage) {
    ShowHangUpBalloon(reinterpret_cast<HangUpNews*>(lParam));
    return 0;
  }
  if (message == kFailureMessage) {
    ShowFailureBalloon(reinterpret_cast<FailureNews*>(lParam));
    return 0;
  }
  if (message == kOpenSettingsMessage) {
    OpenSettings();
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
    case WM_HOTKEY:
      if (wParam == kDialHotkeyId) DialSelection(hwnd, WarnInBalloon);
      // The hang-up key does what the menu's Hang up does.
      if (wParam == kHangUpHotkeyId) PostMessageW(hwnd, WM_COMMAND, kHangUpCommand, 0);
      return 0;
    case WM_CLOSE:
      StopService();
      return 0;
    case WM_DESTROY:
      ReleaseHotkeys(hwnd);
      if (iconShown) Shell_NotifyIconW(NIM_DELETE, &icon);
      iconShown = false;
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

static DWORD WINAPI Serve(void*) {
  serviceResult = ServeDialRequests(startedWith->options);
  PostMessageW(window, kServiceEndedMessage, 0, 0);
  return 0;
}

// %LOCALAPPDATA%\teldial\dial-service.log, the folder made when missing.
static bool FindLogPath() { return UserDataPath(L"dial-service.log", true, logPath); }

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
  static ServiceOptions options;
  static DeskNames names;
  ReadDeskNames(&names);
  if (!ParseServiceOptions(argc - first + 1, reinterpret_cast<const char16_t* const*>(optionArguments), &options,
                           problem, nullptr, &names)) {
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

// The file that Save writes: the one --settings names, or else the user's.
static bool FindSettingsPath() {
  for (int i = 1; i + 1 < programArgc; i++)
    if (wcscmp(programArgv[i], L"--settings") == 0) {
      _snwprintf(settingsPath, MAX_PATH, L"%ls", programArgv[i + 1]);
      settingsPath[MAX_PATH - 1] = 0;
      return true;
    }
  return UserSettingsPath(settingsPath, MAX_PATH);
}

// Before the service serves, the settings window's Save only reads the files again.
static bool ApplySettingsAtStart(char* problem, size_t size) {
  int exitCode = 0;
  startedWith = LoadServiceOptions(programArgc, programArgv, problem, size, &exitCode);
  return startedWith != nullptr;
}

// The command line without its settings files, so that the settings window
// can show what it gives when a file is at fault; null when the command line
// itself is.
static LoadedOptions* LoadCommandLineOnly() {
  const wchar_t** arguments = static_cast<const wchar_t**>(calloc(size_t(programArgc) + 1, sizeof(wchar_t*)));
  if (!arguments) return nullptr;
  int count = 0;
  for (int i = 0; i < programArgc; i++) {
    if (i > 0 && wcscmp(programArgv[i], L"--settings") == 0) {
      i++;
      continue;
    }
    arguments[count++] = programArgv[i];
  }
  arguments[count++] = L"--no-settings";
  char problem[kMaxOptionProblem];
  int exitCode = 0;
  LoadedOptions* loaded = LoadServiceOptions(count, arguments, problem, sizeof problem, &exitCode);
  free(arguments);
  return loaded;
}

// The options as the files and the command line give them. When a settings
// file is at fault, the line goes into a box that offers the settings window
// to put it right, which opens with the file's good lines in its fields. Left
// unsaved, the service runs on the good lines. Null when the program ends,
// with *exitCode.
static LoadedOptions* LoadOptions(int* exitCode) {
  char problem[kMaxOptionProblem + 2 * MAX_PATH];
  if (LoadedOptions* loaded = LoadServiceOptions(programArgc, programArgv, problem, sizeof problem, exitCode))
    return loaded;
  char ignored[kMaxOptionProblem + 2 * MAX_PATH];
  int ignoredExit = 0;
  LoadedOptions* goodLines = LoadServiceOptions(programArgc, programArgv, ignored, sizeof ignored, &ignoredExit, true);
  LoadedOptions* commandLine = goodLines ? goodLines : LoadCommandLineOnly();
  if (!commandLine || !FindSettingsPath()) {
    TellUtf8(problem, MB_ICONERROR);
    if (commandLine) FreeLoadedOptions(commandLine);
    return nullptr;
  }
  size_t length = strlen(problem);
  snprintf(problem + length, sizeof problem - length, "\n\nOpen the settings window to put it right?");
  wchar_t text[2048];
  if (!MultiByteToWideChar(CP_UTF8, 0, problem, -1, text, 2048)) wcscpy(text, L"?");
  if (MessageBoxW(nullptr, text, kTitle, MB_YESNO | MB_ICONERROR | MB_SETFOREGROUND) == IDYES)
    RunSettingsWindow(*commandLine, settingsPath, programArgc, programArgv, ApplySettingsAtStart);
  if (startedWith || !goodLines) {
    FreeLoadedOptions(commandLine);
    return startedWith;
  }
  return goodLines;
}

// The first start: no settings file yet, and no request given on the command line.
static bool IsFirstStart(const ServiceOptions& options) {
  return !options.settingsFile && !AnySettingsFileExists() && !CommandLineDecides();
}

static void LogMachineNote(const char* line) { LogLine("%s", line); }

// The machine's file was not read: its first note says why.
static void ShowDistrustBalloon(const LoadedOptions& loaded) {
  if (!loaded.machineDistrusted || !loaded.machineNotes) return;
  char why[512];
  snprintf(why, sizeof why, "%s", loaded.machineNotes);
  if (char* end = strchr(why, '\n')) *end = 0;
  LogLine("the notification area says: the machine's settings file was not read");
  char text[640];
  snprintf(text, sizeof text, "%s. Only a file that administrators alone may change is used; your own settings apply.",
           why);
  ShowBalloon(NIIF_WARNING, L"teldial: the machine's settings are not used", text);
}

// Lines of the user's file left out at the start: the first is said in a
// balloon, every one in the log.
static void ShowSettingsFaultBalloon(const LoadedOptions& loaded) {
  for (size_t i = 0; i < loaded.userFaultCount; i++)
    LogLine("%ls:%u: %s; the line is left out", loaded.userPath, loaded.userFaults[i].line,
            loaded.userFaults[i].problem);
  if (!loaded.userFaultCount) return;
  LogLine("the notification area says: a line of the settings file is left out");
  const SettingsFault& fault = loaded.userFaults[0];
  char words[kMaxOptionProblem];
  FieldWording(fault.problem, words, sizeof words);
  char text[512];
  snprintf(text, sizeof text, "Line %u: %s: %s. Open Settings from this icon to put it right.", fault.line,
           fault.text, words);
  ShowBalloon(NIIF_WARNING, L"teldial: a line of your settings is left out", text);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, wchar_t*, int) {
  programArgv = CommandLineToArgvW(GetCommandLineW(), &programArgc);
  if (!programArgv) return 1;
  if (programArgc > 1 && wcscmp(programArgv[1], L"--start-at-logon") == 0)
    return StartAtLogon(programArgc, programArgv);
  int exitCode = 0;
  startedWith = LoadOptions(&exitCode);
  if (!startedWith) return exitCode;
  bool firstStart = IsFirstStart(startedWith->options);
  KeepConfirmationOn(startedWith);
  const ServiceOptions& options = startedWith->options;
  if (options.help) {
    static char usage[8192];
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
  FindSettingsPath();
  deliverer = &ChooseNumberSink(options.sink);
  LogLine("dial-service-tray started, handing numbers to: %s", deliverer->name);
  ForEachMachineNote(startedWith, LogMachineNote);
  ServiceHooks hooks = {PostBrakeNews, true, PostRefusalNews};
  SetServiceHooks(hooks);
  ListenForFailedDeliveries(PostFailureNews);
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
  ShowDistrustBalloon(*startedWith);
  ShowSettingsFaultBalloon(*startedWith);
  TakeHotkeys(window, options, WarnInBalloon);
  HANDLE serving = CreateThread(nullptr, 0, Serve, nullptr, 0, nullptr);
  if (!serving) {
    DestroyWindow(window);
    EndService(0);
    return 1;
  }
  // After a roll-out, the user's first start asks for what the phone needs.
  if (firstStart || startedWith->passwordMissing) PostMessageW(window, kOpenSettingsMessage, 0, 0);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (HandleDialWindowMessage(&message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  WaitForSingleObject(serving, INFINITE);
  CloseHandle(serving);
  EndService(kFinishWaitMs);
  LogLine("dial-service-tray ended");
  CloseHandle(instanceLock);
  return serviceResult;
}
