#pragma once
// The window, GDI, common-controls and COM functions of the message requester.
// They are bound when the first box is about to be shown instead of being
// imported: loading these libraries is most of what starting the program would
// cost, and the dial path never shows a box. Each library comes from the
// system folder only, once per process, and stays loaded until the process
// ends, since COM and the common-control classes keep referring to it.
#include <windows.h>
#include <commctrl.h>

struct WindowFunctions {
  // user32.dll
  int(WINAPI* MessageBoxW)(HWND, LPCWSTR, LPCWSTR, UINT);
  BOOL(WINAPI* EnumWindows)(WNDENUMPROC, LPARAM);
  HWND(WINAPI* GetForegroundWindow)();
  DWORD(WINAPI* GetWindowThreadProcessId)(HWND, LPDWORD);
  LONG(WINAPI* GetWindowLongW)(HWND, int);
  BOOL(WINAPI* IsWindowVisible)(HWND);
  BOOL(WINAPI* IsWindowEnabled)(HWND);
  BOOL(WINAPI* EnableWindow)(HWND, BOOL);
  BOOL(WINAPI* SetWindowPos)(HWND, HWND, int, int, int, int, UINT);
  HDC(WINAPI* GetDC)(HWND);
  int(WINAPI* ReleaseDC)(HWND, HDC);
  // gdi32.dll
  int(WINAPI* GetDeviceCaps)(HDC, int);
  // comctl32.dll (version 6, through the manifest)
  BOOL(WINAPI* InitCommonControlsEx)(const INITCOMMONCONTROLSEX*);
  // ole32.dll
  HRESULT(WINAPI* CoInitialize)(LPVOID);
};

// The bound functions; null when a library or one of its functions is missing,
// and then on every later call too. Safe to call from any thread.
const WindowFunctions* WindowLibrary();
