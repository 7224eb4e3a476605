// The confirmation window on a thread of its own. Numbers reach the thread as
// messages posted to a message-only window: a window's messages, unlike a
// thread's, are not lost while the user drags the dialog. The number waiting
// is owned by that thread from its arrival to its outcome.
#include "service/confirm/confirmation_window_win.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "service/confirm/confirmation_window_ids.h"

static const wchar_t kMessageWindowClass[] = L"teldial-confirmations";
static const UINT kAskMessage = WM_APP + 1;
static const UINT kEndMessage = WM_APP + 2;
static const UINT kFitMessage = WM_APP + 3;
enum { kTimeoutTimer = 1, kCountdownTimer = 2, kArmTimer = 3 };
static const UINT kCountdownStepMs = 250;
// "Call" waits this long after each number appears, so that an Enter or a
// click meant for another window, or for the number it replaced, calls no one;
// after a replacement long enough to read the new number.
static const UINT kArmDelayMs = 500;
static const UINT kReplacedArmDelayMs = 1500;
// The number's type, tried from the largest down until the number fits.
static const int kLargestPoints = 20;
static const int kSmallestPoints = 9;
static const int kMarginPixelsAt96Dpi = 12;
// Longer than any number the service dials.
static const int kMaxShownNumber = 512;

struct Question {
  char* written;
  char* dialled;
  char* featureCode;  // null for a number
  char* arrivedShown;
  char* note;
};

static ConfirmationDone confirmationDone;
static HANDLE confirmationThread;
// Asks post under the shared lock, so that once EndConfirmations has taken the
// window away under the exclusive one, every ask posted before it is queued
// ahead of the end and none can come after.
static SRWLOCK postLock = SRWLOCK_INIT;
static HWND messageWindow;
static unsigned long timeoutMs = kConfirmationTimeoutMs;

// The window's thread only, from here on.
static HWND dialog;
static Question* waiting;
static HFONT numberFont;
static DWORD deadline;  // GetTickCount() when the waiting number times out
static bool armed;      // "Call" is taken

static void FreeQuestion(Question* question) {
  free(question->written);
  free(question->dialled);
  free(question->featureCode);
  free(question->arrivedShown);
  free(question->note);
  free(question);
}

static char* Copy(const char* text) {
  size_t size = strlen(text) + 1;
  char* copy = static_cast<char*>(malloc(size));
  if (copy) memcpy(copy, text, size);
  return copy;
}

typedef UINT(WINAPI* GetDpiForWindowFunction)(HWND);

// The DPI of the monitor the window is on; GetDpiForWindow is there from
// Windows 10 1607 on, before it the system DPI is the only one.
static UINT WindowDpi(HWND window) {
  FARPROC found = GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow");
  if (found)
    if (UINT dpi = reinterpret_cast<GetDpiForWindowFunction>(reinterpret_cast<void*>(found))(window)) return dpi;
  HDC screen = GetDC(nullptr);
  int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? UINT(dpi) : 96;
}

// prefix and the UTF-8 text into the control, converted rather than handed to
// the "A" function, which would read the text in the user's code page.
static void SetUtf8Text(HWND control, const wchar_t* prefix, const char* text) {
  size_t prefixLength = wcslen(prefix);
  int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  wchar_t* wide = static_cast<wchar_t*>(malloc((prefixLength + size_t(length > 0 ? length : 0) + 1) * sizeof(wchar_t)));
  if (!wide) {
    SetWindowTextW(control, L"?");
    return;
  }
  wcscpy(wide, prefix);
  if (length <= 0 || !MultiByteToWideChar(CP_UTF8, 0, text, -1, wide + prefixLength, length)) wide[prefixLength] = 0;
  SetWindowTextW(control, wide);
  free(wide);
}

static int LineHeight(HDC dc) {
  TEXTMETRICW metrics = {};
  GetTextMetricsW(dc, &metrics);
  return metrics.tmHeight > 0 ? int(metrics.tmHeight) : 1;
}

// The lines the text takes in the width, in the font selected into dc: as
// many characters on each as fit, at least one. starts gets the first
// character of each of the first maxLines lines.
static int SplitLines(HDC dc, const wchar_t* text, int length, int width, int* starts, int maxLines) {
  int lines = 0;
  for (int at = 0; at < length; lines++) {
    if (lines < maxLines) starts[lines] = at;
    int fit = 0;
    SIZE size;
    if (!GetTextExtentExPointW(dc, text + at, length - at, width, &fit, nullptr, &size) || fit < 1) fit = 1;
    at += fit;
  }
  return lines;
}

// What the number field shows: its text, in its font, wrapped.
struct NumberLines {
  wchar_t text[kMaxShownNumber];
  int length;
  int starts[kMaxShownNumber];
  int count;
};

static void SplitNumber(HWND number, HDC dc, NumberLines* lines) {
  lines->length = GetWindowTextW(number, lines->text, kMaxShownNumber);
  RECT client;
  GetClientRect(number, &client);
  lines->count = SplitLines(dc, lines->text, lines->length, client.right, lines->starts, kMaxShownNumber);
}

// The number in the largest type in which it fits its field, wrapped at any
// character if need be.
static void FitNumber() {
  HWND number = GetDlgItem(dialog, IDC_CONFIRM_NUMBER);
  LOGFONTW face = {};
  HGDIOBJ dialogFont = reinterpret_cast<HGDIOBJ>(SendMessageW(dialog, WM_GETFONT, 0, 0));
  if (!dialogFont || !GetObjectW(dialogFont, sizeof face, &face)) wcscpy(face.lfFaceName, L"MS Shell Dlg 2");
  face.lfWeight = FW_SEMIBOLD;
  face.lfWidth = 0;
  UINT dpi = WindowDpi(dialog);
  RECT client;
  GetClientRect(number, &client);
  HDC dc = GetDC(number);
  if (!dc) return;
  static NumberLines lines;
  HFONT chosen = nullptr;
  for (int points = kLargestPoints; points >= kSmallestPoints; points--) {
    face.lfHeight = -MulDiv(points, int(dpi), 72);
    HFONT font = CreateFontIndirectW(&face);
    if (!font) break;
    if (chosen) DeleteObject(chosen);
    chosen = font;
    HGDIOBJ old = SelectObject(dc, font);
    SplitNumber(number, dc, &lines);
    bool fits = lines.count * LineHeight(dc) <= client.bottom;
    SelectObject(dc, old);
    if (fits) break;
  }
  ReleaseDC(number, dc);
  if (!chosen) return;
  SendMessageW(number, WM_SETFONT, reinterpret_cast<WPARAM>(chosen), FALSE);
  if (numberFont) DeleteObject(numberFont);
  numberFont = chosen;
  InvalidateRect(number, nullptr, TRUE);
}

// The lines in the middle of the field; whatever does not fit even in the
// smallest type goes below it, never away unseen from the front.
static void DrawNumber(const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;
  RECT area = item.rcItem;
  FillRect(dc, &area, GetSysColorBrush(COLOR_3DFACE));
  HGDIOBJ old = SelectObject(dc, numberFont ? numberFont : reinterpret_cast<HGDIOBJ>(SendMessageW(item.hwndItem, WM_GETFONT, 0, 0)));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  static NumberLines lines;
  SplitNumber(item.hwndItem, dc, &lines);
  int lineHeight = LineHeight(dc);
  int top = area.top + (area.bottom - area.top - lines.count * lineHeight) / 2;
  if (top < area.top) top = area.top;
  for (int i = 0; i < lines.count && i < kMaxShownNumber; i++) {
    int end = i + 1 < lines.count ? lines.starts[i + 1] : lines.length;
    RECT line = {area.left, top + i * lineHeight, area.right, top + (i + 1) * lineHeight};
    DrawTextW(dc, lines.text + lines.starts[i], end - lines.starts[i], &line, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  SelectObject(dc, old);
}

static bool LinesFit(HWND edit) {
  RECT client;
  GetClientRect(edit, &client);
  HDC dc = GetDC(edit);
  if (!dc) return true;
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(edit, WM_GETFONT, 0, 0)));
  int lineHeight = LineHeight(dc);
  SelectObject(dc, old);
  ReleaseDC(edit, dc);
  return SendMessageW(edit, EM_GETLINECOUNT, 0, 0) * lineHeight <= client.bottom;
}

static void FitTexts() {
  FitNumber();
  // What does not fit is never cut: the field can then be scrolled.
  HWND arrived = GetDlgItem(dialog, IDC_CONFIRM_ARRIVED);
  ShowScrollBar(arrived, SB_VERT, !LinesFit(arrived));
}

// A number that lost every digit to the dialing rules, or a window left
// without its number, has nothing that Call could dial.
static bool NothingToDial() {
  if (!waiting) return true;
  for (const char* c = waiting->dialled; *c; c++)
    if (*c >= '0' && *c <= '9') return false;
  return true;
}

// Call answers Enter for a number; for a feature code Cancel does, so that a
// key pressed without reading cannot turn on call forwarding.
static void ChooseDefaultButton(bool featureCode) {
  int chosen = featureCode ? IDCANCEL : IDOK;
  SendMessageW(dialog, DM_SETDEFID, WPARAM(chosen), 0);
  SendDlgItemMessageW(dialog, IDOK, BM_SETSTYLE, featureCode ? BS_PUSHBUTTON : BS_DEFPUSHBUTTON, TRUE);
  SendDlgItemMessageW(dialog, IDCANCEL, BM_SETSTYLE, featureCode ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
  if (featureCode) SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDCANCEL)), TRUE);
}

static void ShowCountdown() {
  LONG left = LONG(deadline - GetTickCount());
  wchar_t text[64];
  _snwprintf(text, 64, L"Cancels itself in %ld s", left > 0 ? (left + 999) / 1000 : 0L);
  text[63] = 0;
  SetDlgItemTextW(dialog, IDC_CONFIRM_COUNTDOWN, text);
}

// The bottom-right corner of the primary monitor's work area, beside the
// notification area where the taskbar is at the bottom, as it mostly is.
static void PlaceNearNotificationArea() {
  RECT window;
  GetWindowRect(dialog, &window);
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  POINT origin = {0, 0};
  if (!GetMonitorInfoW(MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY), &monitor))
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &monitor.rcWork, 0);
  int margin = MulDiv(kMarginPixelsAt96Dpi, int(WindowDpi(dialog)), 96);
  SetWindowPos(dialog, HWND_TOPMOST, monitor.rcWork.right - (window.right - window.left) - margin,
               monitor.rcWork.bottom - (window.bottom - window.top) - margin, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
}

static void Answer(ConfirmationOutcome outcome) {
  Question* answered = waiting;
  waiting = nullptr;
  if (!answered) return;
  confirmationDone(outcome, answered->dialled, answered->note);
  FreeQuestion(answered);
}

static void Close(ConfirmationOutcome outcome) {
  Answer(outcome);
  if (!dialog) return;
  DestroyWindow(dialog);
  dialog = nullptr;
  if (numberFont) DeleteObject(numberFont);
  numberFont = nullptr;
}

static INT_PTR CALLBACK ConfirmationProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      // Enter and the default button, Esc and the close box.
      if (LOWORD(wParam) == IDOK && armed && NothingToDial())
        SetDlgItemTextW(window, IDC_CONFIRM_NOTICE,
                        L"Nothing to dial: no digit is left of this number once the dialing rules are applied. "
                        L"Cancel closes this window.");
      else if (LOWORD(wParam) == IDOK && armed)
        Close(kConfirmationCalled);
      if (LOWORD(wParam) == IDCANCEL) Close(kConfirmationCancelled);
      return TRUE;
    case WM_TIMER:
      if (wParam == kTimeoutTimer) {
        Close(kConfirmationTimedOut);
      } else if (wParam == kArmTimer) {
        KillTimer(window, kArmTimer);
        armed = true;
        EnableWindow(GetDlgItem(window, IDOK), TRUE);
        if (waiting && !waiting->featureCode)
          SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(window, IDOK)), TRUE);
      } else {
        ShowCountdown();
      }
      return TRUE;
    case WM_DRAWITEM:
      if (wParam != IDC_CONFIRM_NUMBER) return FALSE;
      DrawNumber(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_DPICHANGED:
      // The dialog manager scales the window and its own font after this;
      // the number's type is made again once it has.
      PostMessageW(window, kFitMessage, 0, 0);
      return FALSE;
    case kFitMessage:
      if (dialog) FitTexts();
      return TRUE;
  }
  return FALSE;
}

static void Show(Question* question) {
  bool replacing = waiting != nullptr;
  Answer(kConfirmationReplaced);
  waiting = question;
  bool opened = false;
  if (!dialog) {
    dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CONFIRMATION), nullptr,
                                ConfirmationProcedure, 0);
    if (!dialog) {
      Answer(kConfirmationCancelled);
      return;
    }
    opened = true;
  }
  SetUtf8Text(GetDlgItem(dialog, IDC_CONFIRM_NUMBER), L"", question->written[0] ? question->written : question->dialled);
  if (NothingToDial())
    SetDlgItemTextW(dialog, IDC_CONFIRM_DIALLED, L"nothing to dial");
  else
    SetUtf8Text(GetDlgItem(dialog, IDC_CONFIRM_DIALLED), L"dials ", question->dialled);
  if (!question->featureCode)
    SetDlgItemTextW(dialog, IDC_CONFIRM_FEATURE, L"");
  else if (question->featureCode[0])
    SetUtf8Text(GetDlgItem(dialog, IDC_CONFIRM_FEATURE), L"A feature code, not a call: it ", question->featureCode);
  else
    SetDlgItemTextW(dialog, IDC_CONFIRM_FEATURE, L"A feature code, not a call: the phone system carries it out.");
  SetUtf8Text(GetDlgItem(dialog, IDC_CONFIRM_ARRIVED), L"Received: ", question->arrivedShown);
  SetDlgItemTextW(dialog, IDC_CONFIRM_NOTICE,
                  replacing ? L"The number changed: check it again before you call." : L"");
  FitTexts();
  deadline = GetTickCount() + timeoutMs;
  SetTimer(dialog, kTimeoutTimer, timeoutMs, nullptr);
  SetTimer(dialog, kCountdownTimer, kCountdownStepMs, nullptr);
  ShowCountdown();
  armed = false;
  EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
  ChooseDefaultButton(question->featureCode != nullptr);
  SetTimer(dialog, kArmTimer, replacing ? kReplacedArmDelayMs : kArmDelayMs, nullptr);
  if (opened) {
    PlaceNearNotificationArea();
    ShowWindow(dialog, SW_SHOWNORMAL);
  }
  // Windows may refuse to bring it forward; it is on top all the same.
  SetForegroundWindow(dialog);
}

static LRESULT CALLBACK MessageWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kAskMessage) {
    Show(reinterpret_cast<Question*>(lParam));
    return 0;
  }
  if (message == kEndMessage) {
    Close(kConfirmationCancelled);
    DestroyWindow(window);
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

static DWORD WINAPI RunConfirmations(void* ready) {
  HINSTANCE module = GetModuleHandleW(nullptr);
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = MessageWindowProcedure;
  windowClass.hInstance = module;
  windowClass.lpszClassName = kMessageWindowClass;
  if (!RegisterClassW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return 1;
  HWND window = CreateWindowW(kMessageWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
  if (!window) return 1;
  AcquireSRWLockExclusive(&postLock);
  messageWindow = window;
  ReleaseSRWLockExclusive(&postLock);
  SetEvent(static_cast<HANDLE>(ready));
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (dialog && IsDialogMessageW(dialog, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

bool StartConfirmations(ConfirmationDone done) {
  if (confirmationThread || !done) return false;
  confirmationDone = done;
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!ready) return false;
  confirmationThread = CreateThread(nullptr, 0, RunConfirmations, ready, 0, nullptr);
  DWORD started = WAIT_FAILED;
  if (confirmationThread) {
    HANDLE either[] = {ready, confirmationThread};
    started = WaitForMultipleObjects(2, either, FALSE, INFINITE);
  }
  CloseHandle(ready);
  if (started == WAIT_OBJECT_0) return true;
  if (confirmationThread) {
    WaitForSingleObject(confirmationThread, INFINITE);
    CloseHandle(confirmationThread);
    confirmationThread = nullptr;
  }
  return false;
}

void AskForConfirmation(const ConfirmationQuestion& asked) {
  Question* question = static_cast<Question*>(calloc(1, sizeof(Question)));
  bool copied = false;
  if (question) {
    question->written = Copy(asked.written);
    question->dialled = Copy(asked.dialled);
    question->featureCode = asked.featureCode ? Copy(asked.featureCode) : nullptr;
    question->arrivedShown = Copy(asked.arrivedShown);
    question->note = Copy(asked.note);
    copied = question->written && question->dialled && (question->featureCode || !asked.featureCode) &&
             question->arrivedShown && question->note;
  }
  bool posted = false;
  AcquireSRWLockShared(&postLock);
  if (copied && messageWindow) posted = PostMessageW(messageWindow, kAskMessage, 0, reinterpret_cast<LPARAM>(question));
  ReleaseSRWLockShared(&postLock);
  if (posted) return;
  if (question) FreeQuestion(question);
  if (confirmationDone) confirmationDone(kConfirmationCancelled, asked.dialled, asked.note);
}

void EndConfirmations() {
  if (!confirmationThread) return;
  AcquireSRWLockExclusive(&postLock);
  HWND window = messageWindow;
  messageWindow = nullptr;
  ReleaseSRWLockExclusive(&postLock);
  // A queue full of asks takes the end once the thread has read some of them.
  while (!PostMessageW(window, kEndMessage, 0, 0) && IsWindow(window)) Sleep(10);
  WaitForSingleObject(confirmationThread, INFINITE);
  CloseHandle(confirmationThread);
  confirmationThread = nullptr;
}

void SetConfirmationTimeoutForTests(unsigned long ms) { timeoutMs = ms; }
