// The window between a link and the phone, end to end at the test server:
// Call makes the request, Cancel and the time-out make none, and a number that
// comes while one waits takes its place.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "http_record_win.h"
#include "service_process_win.h"
#include "tray_process_win.h"

namespace {
// Call is only taken once a number has been on the screen for a moment.
void Press(HWND window, int button) {
  for (int i = 0; i < 100 && !IsWindowEnabled(GetDlgItem(window, button)); i++) Sleep(50);
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), LPARAM(GetDlgItem(window, button)));
}

struct TextSearch {
  const std::wstring* text;
  bool found;
};

BOOL CALLBACK VisitChild(HWND child, LPARAM parameter) {
  TextSearch* search = reinterpret_cast<TextSearch*>(parameter);
  if (WindowText(child).find(*search->text) != std::wstring::npos) search->found = true;
  return !search->found;
}

// Whether a child of window shows text, waiting up to timeoutMs.
bool AwaitShown(HWND window, const std::wstring& text, DWORD timeoutMs) {
  TextSearch search = {&text, false};
  DWORD start = GetTickCount();
  do {
    EnumChildWindows(window, VisitChild, reinterpret_cast<LPARAM>(&search));
    if (!search.found) Sleep(50);
  } while (!search.found && GetTickCount() - start < timeoutMs);
  return search.found;
}
}  // namespace

TEST(Confirmation, OnlyANumberTheUserConfirmsReachesThePhone) {
  const int port = 20140;
  // The first window of a Wine session starts its desktop program, which
  // would hold the service's output pipe open past its end: it is started
  // from here instead.
  GetDesktopWindow();
  ServiceProcess service;
  ASSERT_TRUE(service.Start(L"--port 20140 --confirm --http http://127.0.0.1:" + Port(kOpenPort) +
                            L"/dial?n={number}"));
  ASSERT_EQ("dial-service: listening on 127.0.0.1:20140", service.FirstLine(10000));
  DWORD processId = GetProcessId(service.Handle());
  Record record;
  Client client;

  client.Send(port, "dial 0555501");
  EXPECT_EQ("ok", client.Receive()) << "the dialer does not wait for the user";
  HWND window = AwaitConfirmationWindow(processId, 20000);
  ASSERT_NE(nullptr, window);
  EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
  client.Send(port, "dial 0555502");
  EXPECT_EQ("ok", client.Receive());
  ASSERT_TRUE(AwaitShown(window, L"0555502", 5000)) << "the newer number takes the place of the waiting one";
  Press(window, IDOK);
  std::vector<Recorded> requests = record.Await(1, 10000);
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("GET /dial?n=0555502 HTTP/1.1", RequestLine(requests[0]));

  client.Send(port, "dial 0555503");
  EXPECT_EQ("ok", client.Receive());
  window = AwaitConfirmationWindow(processId, 20000);
  ASSERT_NE(nullptr, window);
  Press(window, IDCANCEL);
  client.Send(port, "dial 0555504");
  EXPECT_EQ("ok", client.Receive());
  EXPECT_TRUE(service.WaitForText("timed out 0555504", 30000)) << service.Output();
  EXPECT_EQ(1u, record.Await(2, 2000).size()) << "neither the cancelled nor the timed-out number is requested";

  DWORD exitCode = 0;
  std::string output = service.Finish(0, &exitCode);
  size_t at = 0;
  for (const char* line : {"not confirmed 0555501", "confirmed 0555502", "cancelled 0555503", "timed out 0555504"}) {
    at = output.find(line, at);
    EXPECT_NE(std::string::npos, at) << line << " in order in\n" << output;
    if (at == std::string::npos) break;
  }
}
