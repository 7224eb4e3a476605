// The tray's dial key under Xvfb: Wine's Notepad holds a text with a number
// selected, the key is pressed through the system's input queue, and the
// number reaches the test server once, while the clipboard ends up holding
// what it held before. A key another program holds is said in a balloon, and
// the settings window offers a free one; once it is free, it hangs up.
//
// Where Wine is not Windows: Wine has no integrity levels, so the refusal of
// an elevated window in front (UIPI, which SendInput's result does not show)
// cannot be made here; the tray compares the foreground process's integrity
// level with its own and says so in a balloon instead of copying. Wine keeps
// no clipboard history or cloud clipboard either: the
// ExcludeClipboardContentFromMonitorProcessing format the tray adds when it
// puts the clipboard back is a registered format like any other here, so the
// check below is that the user's formats come back, not what the history
// service makes of them. The balloon itself is not readable under Xvfb
// (there is no notification area); its log line, written with it, is.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "http_record_win.h"
#include "processes_win.h"
#include "service/settings/settings_window_ids.h"
#include "service_process_win.h"
#include "tray_process_win.h"

namespace {
const char kSecondFormatBytes[] = "\x01teldial\0" "bytes\xff";

// The test's own clipboard content: a text and a registered format of bytes.
// The window that owned it is gone before the tray runs, so that no message
// to it can hold up another program's copy.
bool PutOnClipboard(const wchar_t* text, UINT secondFormat) {
  HWND owner = CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  if (!owner || !OpenClipboard(owner)) return false;
  EmptyClipboard();
  size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
  HGLOBAL textData = GlobalAlloc(GMEM_MOVEABLE, bytes);
  memcpy(GlobalLock(textData), text, bytes);
  GlobalUnlock(textData);
  HGLOBAL second = GlobalAlloc(GMEM_MOVEABLE, sizeof kSecondFormatBytes);
  memcpy(GlobalLock(second), kSecondFormatBytes, sizeof kSecondFormatBytes);
  GlobalUnlock(second);
  bool put = SetClipboardData(CF_UNICODETEXT, textData) && SetClipboardData(secondFormat, second);
  CloseClipboard();
  DestroyWindow(owner);
  return put;
}

std::wstring ClipboardText() {
  std::wstring text = L"(not open)";
  if (!OpenClipboard(nullptr)) return text;
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  const wchar_t* held = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
  text = held ? held : L"(no text)";
  if (held) GlobalUnlock(data);
  CloseClipboard();
  return text;
}

std::string ClipboardBytes(UINT format) {
  std::string bytes = "(not open)";
  if (!OpenClipboard(nullptr)) return bytes;
  HANDLE data = GetClipboardData(format);
  const char* held = data ? static_cast<const char*>(GlobalLock(data)) : nullptr;
  bytes = held ? std::string(held, GlobalSize(data)) : "(none)";
  if (held) GlobalUnlock(data);
  CloseClipboard();
  return bytes;
}

// The chord pressed and let go as a hand would, through the input queue.
void PressChord(std::initializer_list<WORD> keys) {
  std::vector<INPUT> strokes;
  for (WORD key : keys) {
    INPUT down = {};
    down.type = INPUT_KEYBOARD;
    down.ki.wVk = key;
    strokes.push_back(down);
  }
  for (auto key = keys.end(); key != keys.begin();) {
    INPUT up = {};
    up.type = INPUT_KEYBOARD;
    up.ki.wVk = *--key;
    up.ki.dwFlags = KEYEVENTF_KEYUP;
    strokes.push_back(up);
  }
  SendInput(UINT(strokes.size()), strokes.data(), sizeof(INPUT));
}

std::string AwaitLogLine(const std::wstring& log, const std::string& part, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < timeoutMs) {
    for (const std::string& entry : LogEntries(Lines(FileText(log))))
      if (entry.find(part) != std::string::npos) return entry;
    Sleep(100);
  }
  return "";
}

struct Killed {
  ProgramRun* run;
  ~Killed() {
    if (run->process) TerminateProcess(run->process, 0), CloseHandle(run->process);
  }
};
}  // namespace

TEST(DialHotkey, TheSelectionInNotepadIsDialledOnceAndTheClipboardIsPutBack) {
  std::wstring log = FreshTrayFolders().log;
  // The hang-up key is held by this test, as another program would hold it.
  ASSERT_TRUE(RegisterHotKey(nullptr, 1, MOD_CONTROL | MOD_ALT | MOD_SHIFT, VK_F9));
  ProgramRun tray;
  EndedAtExit guard = {&tray};
  ASSERT_TRUE(StartTray(L"--no-settings --port 20007 --max-calls 0 --hang-up-hotkey ctrl+alt+shift+f9 --http "
                        L"http://127.0.0.1:" + Port(kOpenPort) + L"/dial?n={number} --http-hang-up http://127.0.0.1:" +
                            Port(kOpenPort) + L"/hangup",
                        &tray));
  HWND window = AwaitWindow(tray.processId, kTrayWindowClass, nullptr, 20000);
  ASSERT_NE(nullptr, window) << FileText(log);
  EXPECT_EQ("the dial key is Ctrl+Alt+Shift+F8", AwaitLogLine(log, "the dial key is", 10000)) << FileText(log);
  EXPECT_EQ("the notification area says: the hang-up key Ctrl+Alt+Shift+F9 is taken by another program",
            AwaitLogLine(log, "hang-up key", 10000))
      << FileText(log);

  UINT secondFormat = RegisterClipboardFormatW(L"teldial test format");
  ASSERT_TRUE(PutOnClipboard(L"before", secondFormat));

  ProgramRun notepad;
  Killed notepadKilled = {&notepad};
  ASSERT_TRUE(StartProgram(L"C:\\windows\\system32\\notepad.exe", L"notepad.exe", &notepad));
  HWND editor = AwaitWindow(notepad.processId, L"Notepad", nullptr, 20000);
  ASSERT_NE(nullptr, editor);
  HWND text = FindWindowExW(editor, nullptr, L"Edit", nullptr);
  ASSERT_NE(nullptr, text);
  SetWindowTextW(text, L"Call +49 5555 0123-0 today");
  SetForegroundWindow(editor);
  SetFocus(text);
  SendMessageW(text, EM_SETSEL, 5, 20);  // "+49 5555 0123-0"
  Sleep(300);

  Record record;
  PressChord({VK_CONTROL, VK_MENU, VK_SHIFT, VK_F8});
  std::vector<Recorded> requests = record.Await(1, 10000);
  ASSERT_EQ(1u, requests.size()) << FileText(log);
  EXPECT_EQ("GET /dial?n=%2B49555501230 HTTP/1.1", RequestLine(requests[0]));
  Sleep(1000);
  EXPECT_EQ(1u, record.Requests().size()) << "exactly one request";
  EXPECT_EQ(L"before", ClipboardText());
  EXPECT_EQ(std::string(kSecondFormatBytes, sizeof kSecondFormatBytes), ClipboardBytes(secondFormat));
  EXPECT_NE("", AwaitLogLine(log, "dial +49 5555 0123-0 (from the dial key)", 1000)) << FileText(log);

  // Nothing selected: nothing is copied, and a balloon says so.
  SendMessageW(text, EM_SETSEL, 0, 0);
  PressChord({VK_CONTROL, VK_MENU, VK_SHIFT, VK_F8});
  EXPECT_EQ("the notification area says: nothing dialled with the dial key: nothing was copied from the window in "
            "front: select the number first",
            AwaitLogLine(log, "nothing dialled", 10000));
  EXPECT_EQ(L"before", ClipboardText());

  // The settings window names the taken key and offers a free one.
  PostMessageW(window, WM_COMMAND, kTraySettingsCommand, 0);
  HWND settings = AwaitWindow(tray.processId, L"#32770", L"teldial settings", 20000);
  ASSERT_NE(nullptr, settings);
  std::wstring state;
  for (int i = 0; i < 100 && state.empty(); i++, Sleep(50)) state = WindowText(GetDlgItem(settings, IDC_HOTKEY_STATE));
  EXPECT_EQ(L"Hang-up key: another program already uses Ctrl+Alt+Shift+F9. Ctrl+Alt+Shift+F7 is free: type it in "
            L"instead.",
            state);

  // Let go, the key is the tray's once the settings window closes, and it hangs up.
  UnregisterHotKey(nullptr, 1);
  SendMessageW(settings, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ("the hang-up key is Ctrl+Alt+Shift+F9", AwaitLogLine(log, "the hang-up key is", 10000)) << FileText(log);
  PressChord({VK_CONTROL, VK_MENU, VK_SHIFT, VK_F9});
  requests = record.Await(2, 10000);
  ASSERT_EQ(2u, requests.size()) << FileText(log);
  EXPECT_EQ("GET /hangup HTTP/1.1", RequestLine(requests[1]));
  PostMessageW(window, WM_COMMAND, kTrayQuitCommand, 0);
  EXPECT_EQ(0, WaitForExit(&tray, 20000));
  EXPECT_EQ(2u, record.Requests().size()) << FileText(log);
}
