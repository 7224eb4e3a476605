// The tray's menu items that dial, chosen from its real menu with the keyboard
// under Xvfb as a user would, each step a row: what is set up first, the
// item's access key, what the user then does in the Dial window it opens,
// and the one request that reaches http_test_server.py (or none) and what the
// window says. The rows run in order on one tray, so that the Dial window's
// drop-down holds the numbers dialled by the rows before.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "http_record_win.h"
#include "service/tray/dial_window_ids.h"
#include "service_process_win.h"
#include "tray_process_win.h"

namespace {
const wchar_t kDialTitle[] = L"teldial: Dial";

// The clipboard holds text (null: nothing). The test's own window owns it:
// with none, EmptyClipboard leaves it without an owner and SetClipboardData fails.
bool PutOnClipboard(const wchar_t* text) {
  static HWND owner = CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  if (!OpenClipboard(owner)) return false;
  bool done = EmptyClipboard();
  if (done && text) {
    size_t size = (wcslen(text) + 1) * sizeof(wchar_t);
    HGLOBAL data = GlobalAlloc(GMEM_MOVEABLE, size);
    void* bytes = data ? GlobalLock(data) : nullptr;
    if (bytes) {
      memcpy(bytes, text, size);
      GlobalUnlock(data);
    }
    done = bytes && SetClipboardData(CF_UNICODETEXT, data);
    if (!done && data) GlobalFree(data);
  }
  CloseClipboard();
  return done;
}

void TypeAndDial(const wchar_t* text) {
  TypeText(text);
  PressKeys({VK_RETURN});
}

struct Step {
  const char* item;
  void (*setUp)();  // before the menu opens; may be null
  WORD key;         // the item's access key in the menu
  // The keys in the Dial window it opens; null: it opens none.
  void (*inWindow)();
  const char* request;  // the request line of the one request made; null: none
  const wchar_t* said;  // what the Dial window then says; null: it has closed
};

const Step kSteps[] = {
    {"Dial clipboard", [] { ASSERT_TRUE(PutOnClipboard(L"Call +49 5555 0123-0 today")); }, 'C', nullptr,
     "GET /dial?n=%2B49555501230 HTTP/1.1", nullptr},
    // Greyed: its access key does nothing.
    {"Hang up", nullptr, 'H', nullptr, "GET /hangup HTTP/1.1", nullptr},
    {"Dial clipboard without text", [] { ASSERT_TRUE(PutOnClipboard(nullptr)); }, 'C', nullptr, nullptr, nullptr},
    {"Dial... typed", nullptr, 'D', [] { TypeAndDial(L"Ring 030 1234-567 back"); }, "GET /dial?n=0301234567 HTTP/1.1",
     nullptr},
    // The drop-down holds the recent numbers, newest first: the second is the clipboard's.
    {"Dial... from the drop-down", nullptr, 'D', [] { PressKeys({VK_F4, VK_DOWN, VK_DOWN, VK_RETURN, VK_RETURN}); },
     "GET /dial?n=%2B49555501230 HTTP/1.1", nullptr},
    {"Dial... empty", nullptr, 'D', [] { PressKeys({VK_RETURN}); }, nullptr, L"Number is missing"},
    {"Dial... without a number", nullptr, 'D', [] { TypeAndDial(L"tomorrow"); }, nullptr,
     L"Number: no phone number in it"},
};

// Opens the icon's menu and presses an item's access key.
void ChooseFromMenu(HWND tray, WORD key) {
  PostMessageW(tray, kTrayIconMessage, 1, WM_RBUTTONUP);
  ASSERT_NE(nullptr, AwaitWindow(0, L"#32768", nullptr, 10000)) << "no menu opened";
  Sleep(300);
  PressKeys({key});
}

HWND AwaitDialWindow(DWORD processId) {
  HWND dial = AwaitWindow(processId, L"#32770", kDialTitle, 10000);
  for (int i = 0; dial && !IsWindowVisible(dial) && i < 100; i++) Sleep(50);
  return dial;
}

bool AwaitClosed(HWND window, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (IsWindow(window) && GetTickCount() - start < timeoutMs) Sleep(50);
  return !IsWindow(window);
}

std::wstring AwaitProblem(HWND dial, const std::wstring& said, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (WindowText(GetDlgItem(dial, IDC_DIAL_PROBLEM)) != said && GetTickCount() - start < timeoutMs) Sleep(50);
  return WindowText(GetDlgItem(dial, IDC_DIAL_PROBLEM));
}
}  // namespace

TEST(TrayMenu, HangUpDialClipboardAndTheDialWindowDoWhatTheySay) {
  std::wstring log = FreshTrayFolders().log;
  ProgramRun tray;
  EndedAtExit guard = {&tray};
  ASSERT_TRUE(StartTray(L"--no-settings --port 20150 --http http://127.0.0.1:" + Port(kOpenPort) + L"/dial?n={number}" +
                            L" --http-hang-up http://127.0.0.1:" + Port(kOpenPort) + L"/hangup",
                        &tray));
  HWND window = AwaitWindow(tray.processId, kTrayWindowClass, nullptr, 20000);
  ASSERT_NE(nullptr, window) << FileText(log);
  for (const Step& step : kSteps) {
    SCOPED_TRACE(step.item);
    Record record;
    if (step.setUp) step.setUp();
    ChooseFromMenu(window, step.key);
    if (step.inWindow) {
      HWND dial = AwaitDialWindow(tray.processId);
      ASSERT_NE(nullptr, dial) << "the item opens the Dial window";
      step.inWindow();
      if (step.said) {
        EXPECT_EQ(step.said, AwaitProblem(dial, step.said, 5000));
        EXPECT_TRUE(IsWindowVisible(dial)) << "the window stays open";
        PressKeys({VK_ESCAPE});
      }
      EXPECT_TRUE(AwaitClosed(dial, 5000)) << (step.said ? "Esc closes the window" : "Dial closes the window");
    } else if (HWND menu = AwaitWindow(0, L"#32768", nullptr, 0); menu && IsWindowVisible(menu)) {
      PressKeys({VK_ESCAPE});
    }
    std::vector<Recorded> requests = record.Await(step.request ? 1 : 0, 10000);
    requests = record.Await(requests.size() + 1, 1500);
    ASSERT_EQ(step.request ? 1u : 0u, requests.size()) << FileText(log);
    if (step.request) EXPECT_EQ(step.request, RequestLine(requests[0]));
  }

  // One Dial window at a time: choosing the item again brings it to the front.
  ChooseFromMenu(window, 'D');
  HWND dial = AwaitDialWindow(tray.processId);
  ASSERT_NE(nullptr, dial);
  ChooseFromMenu(window, 'D');
  Sleep(500);
  EXPECT_EQ(dial, AwaitDialWindow(tray.processId));
  EXPECT_EQ(dial, GetForegroundWindow());
  PressKeys({VK_ESCAPE});
  EXPECT_TRUE(AwaitClosed(dial, 5000));
  EXPECT_EQ(nullptr, AwaitWindow(tray.processId, L"#32770", kDialTitle, 0)) << "a second window was opened";

  PostMessageW(window, WM_COMMAND, kTrayQuitCommand, 0);
  EXPECT_EQ(0, WaitForExit(&tray, 20000));
  std::string logged = FileText(log);
  EXPECT_EQ(1u, Count(logged, "dial +49 5555 0123-0 (from the clipboard)\n")) << logged;
  EXPECT_EQ(1u, Count(logged, "dial 030 1234-567 (from the Dial window)\n")) << logged;
  EXPECT_EQ(1u, Count(logged, "dial +49555501230 (from the Dial window)\n")) << logged;
  EXPECT_EQ(0u, Count(logged, "the clipboard holds no text")) << "the greyed item did nothing" << logged;
}
