#pragma once
// The real dial-service-tray.exe under Xvfb for end-to-end tests: started
// with a fresh %LOCALAPPDATA% and %APPDATA% (handed down in the environment),
// its windows found and worked through the system's input queue.
#include <windows.h>

#include <initializer_list>
#include <string>

#include "processes_win.h"

const wchar_t kTrayWindowClass[] = L"teldial-dial-service-tray";
const UINT kTrayIconMessage = WM_APP + 1;
const WPARAM kTrayQuitCommand = 2;
const WPARAM kTraySettingsCommand = 3;

struct TrayFolders {
  std::wstring log;       // the log file's path
  std::wstring settings;  // the user's settings file's path
};
// New empty %LOCALAPPDATA% and %APPDATA% for the programs started from now on.
TrayFolders FreshTrayFolders();

bool StartTray(const std::wstring& options, ProgramRun* run);

// A tray left running by a failed check would make every later start a second one.
struct EndedAtExit {
  ProgramRun* run;
  ~EndedAtExit() {
    if (run->process) WaitForExit(run, 0);
  }
};

// A real click (through the system's input queue) at a point of the screen.
void ClickAt(int x, int y);
// Each key pressed and let go, through the system's input queue.
void PressKeys(std::initializer_list<WORD> keys);
// Each character typed as itself (KEYEVENTF_UNICODE), whatever the keyboard layout.
void TypeText(const std::wstring& text);

// The first top-level window of the process (0: any) with that class and a
// title holding titlePart (null: any of either), or null after timeoutMs.
HWND AwaitWindow(DWORD processId, const wchar_t* className, const wchar_t* titlePart, DWORD timeoutMs);
// The window that asks before a number is dialled, once it is on the screen.
const wchar_t kConfirmationTitle[] = L"call this number";
HWND AwaitConfirmationWindow(DWORD processId, DWORD timeoutMs);
std::wstring Title(HWND window);
// The title once it holds part, or what it holds after timeoutMs.
std::wstring AwaitTitle(HWND window, const std::wstring& part, DWORD timeoutMs);
