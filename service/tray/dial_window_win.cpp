// The Dial window: a modeless dialog on the tray's thread, so that the tray's
// menu and balloons go on while it is open.
#include "service/tray/dial_window_win.h"

#include <wchar.h>
#include <wctype.h>

#include "service/loop/dial_service_win.h"
#include "service/number/number_in_text.h"
#include "service/tray/dial_window_ids.h"

// More than anyone types or pastes around a number.
static const int kMaxFieldText = 256;

static HWND dialWindow;

static void FillRecentNumbers(HWND window) {
  HWND field = GetDlgItem(window, IDC_DIAL_NUMBER);
  SendMessageW(field, CB_LIMITTEXT, kMaxFieldText - 1, 0);
  RecentNumbers recent;
  CopyRecentNumbers(&recent);
  for (size_t i = 0; i < recent.count; i++) {
    wchar_t item[kMaxNumberLength + 1];
    _snwprintf(item, kMaxNumberLength + 1, L"%hs", recent.numbers[i]);
    item[kMaxNumberLength] = 0;
    SendMessageW(field, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
  }
}

static bool Blank(const wchar_t* text) {
  for (; *text; text++)
    if (!iswspace(*text)) return false;
  return true;
}

// The problem under the field, and the field's text selected to be typed over.
static void SayProblem(HWND window, const wchar_t* problem) {
  SetDlgItemTextW(window, IDC_DIAL_PROBLEM, problem);
  HWND field = GetDlgItem(window, IDC_DIAL_NUMBER);
  SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(field), TRUE);
  SendMessageW(field, CB_SETEDITSEL, 0, MAKELPARAM(0, -1));
}

static void Dial(HWND window) {
  wchar_t typed[kMaxFieldText];
  int units = GetDlgItemTextW(window, IDC_DIAL_NUMBER, typed, kMaxFieldText);
  if (units <= 0 || Blank(typed)) {
    SayProblem(window, L"Number is missing");
    return;
  }
  char text[3 * kMaxFieldText + 1];
  int length = WideCharToMultiByte(CP_UTF8, 0, typed, units, text, sizeof text - 1, nullptr, nullptr);
  text[length > 0 ? length : 0] = 0;
  size_t start = 0, size = 0;
  if (length <= 0 || !FindPhoneNumberInText(text, size_t(length), &start, &size)) {
    SayProblem(window, L"Number: no phone number in it");
    return;
  }
  DialFromScreen(text + start, size, "the Dial window");
  DestroyWindow(window);
}

static INT_PTR CALLBACK DialProcedure(HWND window, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      FillRecentNumbers(window);
      return TRUE;  // the focus goes to the field, the first in the tab order
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:  // Enter, the default button
          Dial(window);
          return TRUE;
        case IDCANCEL:  // Esc and the close box
          DestroyWindow(window);
          return TRUE;
        case IDC_DIAL_NUMBER:
          if (HIWORD(wParam) == CBN_EDITCHANGE || HIWORD(wParam) == CBN_SELCHANGE)
            SetDlgItemTextW(window, IDC_DIAL_PROBLEM, L"");
          return TRUE;
      }
      return FALSE;
    case WM_DESTROY:
      dialWindow = nullptr;
      return FALSE;
  }
  return FALSE;
}

bool OpenDialWindow() {
  if (!dialWindow) {
    dialWindow = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_DIAL), nullptr, DialProcedure, 0);
    if (!dialWindow) return false;
    ShowWindow(dialWindow, SW_SHOWNORMAL);
  }
  // The tray, which had the menu, may hand the foreground on.
  SetForegroundWindow(dialWindow);
  return true;
}

bool HandleDialWindowMessage(MSG* message) { return dialWindow && IsDialogMessageW(dialWindow, message); }
