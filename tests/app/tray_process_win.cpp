#include "tray_process_win.h"

#include <wchar.h>

#include "service_process_win.h"

#ifndef DIAL_SERVICE_TRAY_EXE
#error "DIAL_SERVICE_TRAY_EXE must name the built dial-service-tray.exe"
#endif

namespace {
std::wstring TrayPath() { return WindowsPath(DIAL_SERVICE_TRAY_EXE); }

struct WindowSearch {
  DWORD processId;
  const wchar_t* className;  // or null for any
  const wchar_t* titlePart;  // or null for any
  HWND found;
};

BOOL CALLBACK VisitWindow(HWND window, LPARAM parameter) {
  WindowSearch* search = reinterpret_cast<WindowSearch*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t className[128] = {}, title[512] = {};
  GetClassNameW(window, className, 128);
  GetWindowTextW(window, title, 512);
  if ((!search->processId || owner == search->processId) &&
      (!search->className || wcscmp(className, search->className) == 0) &&
      (!search->titlePart || wcsstr(title, search->titlePart))) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}
}  // namespace

TrayFolders FreshTrayFolders() {
  std::wstring local = FreshTempFolder(L"tray-local");
  std::wstring roaming = FreshTempFolder(L"tray-roaming");
  SetEnvironmentVariableW(L"LOCALAPPDATA", local.c_str());
  SetEnvironmentVariableW(L"APPDATA", roaming.c_str());
  return {local + L"\\teldial\\dial-service.log", roaming + L"\\teldial\\dial-service.ini"};
}

bool StartTray(const std::wstring& options, ProgramRun* run) {
  return StartProgram(TrayPath(), L"\"" + TrayPath() + L"\" " + options, run);
}

void ClickAt(int x, int y) {
  SetCursorPos(x, y);
  Sleep(200);
  INPUT clicks[2] = {};
  clicks[0].type = clicks[1].type = INPUT_MOUSE;
  clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, clicks, sizeof(INPUT));
}

HWND AwaitWindow(DWORD processId, const wchar_t* className, const wchar_t* titlePart, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    WindowSearch search = {processId, className, titlePart, nullptr};
    EnumWindows(VisitWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found || GetTickCount() - start > timeoutMs) return search.found;
    Sleep(50);
  }
}

HWND AwaitConfirmationWindow(DWORD processId, DWORD timeoutMs) {
  HWND window = AwaitWindow(processId, L"#32770", kConfirmationTitle, timeoutMs);
  for (int i = 0; window && !IsWindowVisible(window) && i < 100; i++) Sleep(50);
  return window;
}

std::wstring Title(HWND window) {
  wchar_t title[512] = {};
  GetWindowTextW(window, title, 512);
  return title;
}

std::wstring AwaitTitle(HWND window, const std::wstring& part, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (Title(window).find(part) == std::wstring::npos && GetTickCount() - start < timeoutMs) Sleep(50);
  return Title(window);
}

void PressKeys(std::initializer_list<WORD> keys) {
  for (WORD key : keys) {
    INPUT strokes[2] = {};
    strokes[0].type = strokes[1].type = INPUT_KEYBOARD;
    strokes[0].ki.wVk = strokes[1].ki.wVk = key;
    strokes[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, strokes, sizeof(INPUT));
    Sleep(150);
  }
}

void TypeText(const std::wstring& text) {
  for (wchar_t character : text) {
    INPUT strokes[2] = {};
    strokes[0].type = strokes[1].type = INPUT_KEYBOARD;
    strokes[0].ki.wScan = strokes[1].ki.wScan = character;
    strokes[0].ki.dwFlags = KEYEVENTF_UNICODE;
    strokes[1].ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
    SendInput(2, strokes, sizeof(INPUT));
    Sleep(20);
  }
}
