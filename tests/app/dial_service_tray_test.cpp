// dial-service-tray.exe, the service in the background, as a real GUI program
// under Xvfb: its notification-area window and tooltip text, its menu, its log
// file under %LOCALAPPDATA%\teldial (a fresh folder per test, handed down in
// the environment), one instance per user, its refusals in a message box, and
// its recent numbers, which hold only what reached the phone. Its settings
// window has a test of its own, beside the HTTP test server.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>
#include <sddl.h>
#include <aclapi.h>

#include <string>
#include <vector>

#include "service/confirm/confirmation_window_ids.h"
#include "service_process_win.h"
#include "tray_process_win.h"

namespace {
const WPARAM kOpenLogCommand = 1;

unsigned long long FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return ~0ULL;
  return (unsigned long long)data.nFileSizeHigh << 32 | data.nFileSizeLow;
}

}  // namespace

TEST(DialServiceTray, ShowsPortAndLastNumberLogsToAFileAndRunsOnce) {
  std::wstring log = FreshTrayFolders().log;
  ProgramRun tray;
  EndedAtExit guard = {&tray};
  ASSERT_TRUE(StartTray(L"--no-settings --allow-codes --port 20131", &tray));
  HWND window = AwaitWindow(tray.processId, kTrayWindowClass, nullptr, 20000);
  ASSERT_NE(nullptr, window) << FileText(log);
  EXPECT_FALSE(IsWindowVisible(window)) << "no window of its own on the screen";
  EXPECT_EQ(L"teldial: port 20131, no number yet", AwaitTitle(window, L"port", 5000));

  Client client;
  client.Send(20131, "dial tel:+49%205555%200123-0");
  EXPECT_EQ("ok", client.Receive());
  EXPECT_EQ(L"teldial: port 20131, last number +49555501230", AwaitTitle(window, L"+49", 5000));
  client.Send(20131, "dial 0555 abc");
  EXPECT_EQ("rejected", client.Receive());
  client.Send(20131, "dial *31#0555");
  EXPECT_EQ("ok", client.Receive());
  EXPECT_EQ(L"teldial: port 20131, last number *31#0555", AwaitTitle(window, L"*31", 5000));

  // A second start, also with other options, only says that one runs.
  ProgramRun second;
  ASSERT_TRUE(StartTray(L"--port 20132", &second));
  HWND box = FindMessageBox(second.processId, 20000);
  ASSERT_NE(nullptr, box);
  EXPECT_NE(std::wstring::npos, MessageBoxText(box).find(L"already running for this user")) << Utf8(MessageBoxText(box));
  PressOk(box);
  EXPECT_EQ(1, WaitForExit(&second, 10000));
  client.Send(20131, "ping");
  EXPECT_EQ("pong", client.Receive()) << "the first one serves on";

  // "Open log" shows the file in a program that can show text.
  PostMessageW(window, WM_COMMAND, kOpenLogCommand, 0);
  HWND viewer = AwaitWindow(0, nullptr, L"dial-service.log", 20000);
  EXPECT_NE(nullptr, viewer) << "no window shows the log";
  if (viewer) {
    DWORD viewerProcessId = 0;
    GetWindowThreadProcessId(viewer, &viewerProcessId);
    HANDLE viewerProcess = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, viewerProcessId);
    PostMessageW(viewer, WM_CLOSE, 0, 0);
    if (viewerProcess && WaitForSingleObject(viewerProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(viewerProcess, 0);
    if (viewerProcess) CloseHandle(viewerProcess);
  }

  // A click on the icon opens the menu; a click on its last item, Quit,
  // ends the program.
  PostMessageW(window, kTrayIconMessage, 1, WM_RBUTTONUP);
  HWND menu = AwaitWindow(0, L"#32768", nullptr, 10000);
  ASSERT_NE(nullptr, menu) << "no menu opened";
  Sleep(300);
  RECT area;
  ASSERT_TRUE(GetWindowRect(menu, &area));
  ClickAt((area.left + area.right) / 2, area.bottom - (area.bottom - area.top) / 10);
  EXPECT_EQ(0, WaitForExit(&tray, 20000)) << "Quit ends the program";
  EXPECT_FALSE(IsWindow(window));

  std::vector<std::string> entries = LogEntries(Lines(FileText(log)));
  ASSERT_GE(entries.size(), 10u) << FileText(log);
  EXPECT_EQ("dial-service-tray started, handing numbers to: log", entries[0]);
  EXPECT_EQ("listening on 127.0.0.1:20131", entries[1]);
  EXPECT_EQ("the dial key is Ctrl+Alt+Shift+F8", entries[2]) << "the default key, taken at the start";
  EXPECT_TRUE(StartsWith(entries[3], "dial tel:+49%205555%200123-0 (from port ")) << entries[3];
  EXPECT_EQ("number +49555501230", entries[4]);
  EXPECT_EQ("rejected: a character that has no place in a phone number at byte 6", entries[6]);
  EXPECT_EQ("the notification area says: not dialled 0555 abc: a character that has no place in a phone number at byte 6",
            entries[7]);
  EXPECT_EQ("number *31#0555", entries[9]);
  EXPECT_EQ("quit from the menu", entries[entries.size() - 2]);
  EXPECT_EQ("dial-service-tray ended", entries.back());
  EXPECT_EQ(0u, Count(FileText(log), "cannot show the icon")) << "the icon is in the notification area";
}

TEST(DialServiceTray, KeepsItsLogFileBounded) {
  std::wstring log = FreshTrayFolders().log;
  ProgramRun tray;
  EndedAtExit guard = {&tray};
  ASSERT_TRUE(StartTray(L"--no-settings --port 20133 --count 40 --log-size 1 --max-calls 0", &tray));
  ASSERT_NE(nullptr, AwaitWindow(tray.processId, kTrayWindowClass, nullptr, 20000));
  Client client;
  for (int i = 0; i < 40; i++) {
    client.Send(20133, "dial 05555" + std::to_string(10000 + i));
    EXPECT_EQ("ok", client.Receive());
  }
  EXPECT_EQ(0, WaitForExit(&tray, 20000)) << "--count ends it";
  EXPECT_LE(FileSize(log), 1024u);
  EXPECT_LE(FileSize(log + L".old"), 1024u);
  EXPECT_GT(FileSize(log + L".old"), 512u) << "the older lines are kept";
  std::string recent = FileText(log);
  EXPECT_NE(std::string::npos, recent.find("number 055551003")) << recent;
  EXPECT_NE(std::string::npos, recent.find("dial-service-tray ended\n")) << recent;
  EXPECT_EQ(std::string::npos, FileText(log + L".old").find("number 0555510000"))
      << "the oldest lines have gone";
}

TEST(DialServiceTray, RefusalsComeInAMessageBoxAndStartNothing) {
  FreshTrayFolders();
  struct Case {
    std::wstring options;
    long exitCode;
    std::wstring text;
  };
  const Case cases[] = {
      {L"--colour", 2, L"unknown option --colour (--help lists them)"},
      {L"--http 192.0.2.10/dial", 2, L"the --http URL 192.0.2.10/dial has no http:// or https:// in front"},
      {L"--port 20134 --exec \"phone.exe --call\"", 2, L"the --exec command has no {number} in any argument"},
      {L"--help", 0, L"the keys being the options without --."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8(c.options));
    ProgramRun tray;
    EndedAtExit guard = {&tray};
    ASSERT_TRUE(StartTray(c.options, &tray));
    HWND box = FindMessageBox(tray.processId, 20000);
    ASSERT_NE(nullptr, box);
    // The box ends with the row's text: the whole usage, too, not cut.
    std::wstring text = MessageBoxText(box);
    while (!text.empty() && text.back() == L'\n') text.pop_back();
    EXPECT_EQ(c.text, text.substr(text.size() - std::min(text.size(), c.text.size()))) << Utf8(text);
    EXPECT_EQ(nullptr, AwaitWindow(tray.processId, kTrayWindowClass, nullptr, 0)) << "no icon, no service";
    PressOk(box);
    EXPECT_EQ(c.exitCode, WaitForExit(&tray, 10000));
  }
}

namespace {
// Opens the icon's menu and works it with keys, as a user without a mouse would.
void ChooseFromMenu(HWND window, std::initializer_list<WORD> keys) {
  PostMessageW(window, kTrayIconMessage, 1, WM_RBUTTONUP);
  ASSERT_NE(nullptr, AwaitWindow(0, L"#32768", nullptr, 10000)) << "no menu opened";
  Sleep(300);
  PressKeys(keys);
}
}  // namespace

TEST(DialServiceTray, RecentNumbersAreTheLastTenEachOnceNewestFirstAndDialAgain) {
  std::wstring log = FreshTrayFolders().log;
  ProgramRun tray;
  EndedAtExit guard = {&tray};
  ASSERT_TRUE(StartTray(L"--no-settings --port 20135 --max-calls 0", &tray));
  HWND window = AwaitWindow(tray.processId, kTrayWindowClass, nullptr, 20000);
  ASSERT_NE(nullptr, window);
  Client client;
  // +49301100 to +49301110, then +49301109 again: the first has fallen off, and
  // the repeated one is only at the top.
  for (int last : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 9}) {
    client.Send(20135, "dial +49301" + std::to_string(100 + last));
    EXPECT_EQ("ok", client.Receive());
  }
  // The submenu opens on its first item; up from there is the last one.
  ChooseFromMenu(window, {'R', VK_UP, VK_RETURN});
  EXPECT_EQ(L"teldial: port 20135, last number +49301101", AwaitTitle(window, L"+49301101", 5000));
  // That one is now first; the one dialled again before it follows, then the newest.
  ChooseFromMenu(window, {'R', VK_DOWN, VK_DOWN, VK_RETURN});
  EXPECT_EQ(L"teldial: port 20135, last number +49301110", AwaitTitle(window, L"+49301110", 5000));
  PostMessageW(window, WM_COMMAND, kTrayQuitCommand, 0);
  EXPECT_EQ(0, WaitForExit(&tray, 20000));

  std::vector<std::string> entries = LogEntries(Lines(FileText(log)));
  std::vector<std::string> again;
  for (const std::string& entry : entries)
    if (entry.find("recent") != std::string::npos) again.push_back(entry);
  EXPECT_EQ((std::vector<std::string>{"dial +49301101 (from the recent numbers menu)",
                                      "dial +49301110 (from the recent numbers menu)"}),
            again)
      << FileText(log);
  EXPECT_EQ(2u, Count(FileText(log), "number +49301110\n")) << "dialled through the same path";
}

namespace {
struct ProcessUse {
  size_t bytes;
  DWORD handles;
};
ProcessUse UseOf(HANDLE process) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  ProcessUse use = {0, 0};
  if (K32GetProcessMemoryInfo(process, &counters, sizeof counters)) use.bytes = counters.PagefileUsage;
  GetProcessHandleCount(process, &use.handles);
  return use;
}
}  // namespace

// What a page that opens tel: links by script can do: the brake holds, the log
// keeps the call made before, and the program stays as it was.
TEST(DialServiceTray, AFloodOfNumbersIsRefusedAndLeavesTheLogAndTheProgramAsTheyWere) {
  std::wstring log = FreshTrayFolders().log;
  ProgramRun tray;
  EndedAtExit guard = {&tray};
  ASSERT_TRUE(StartTray(L"--no-settings --port 20136 --log-size 1", &tray));
  HWND window = AwaitWindow(tray.processId, kTrayWindowClass, nullptr, 20000);
  ASSERT_NE(nullptr, window);
  Client client;
  client.Send(20136, "dial +49 5555 01230");
  EXPECT_EQ("ok", client.Receive());
  for (int i = 0; i < 4; i++) {
    client.Send(20136, "dial 0555501231");
    EXPECT_EQ("ok", client.Receive());
  }
  client.Send(20136, "dial 0555501232");
  EXPECT_EQ("rejected: too many numbers at once", client.Receive()) << "the 6th within 10 s";
  ProcessUse before = UseOf(tray.process);

  const int kFlood = 10000;
  ULONGLONG floodStart = GetTickCount64();
  std::string flooding = "dial " + std::string(300, '9');
  for (int i = 0; i < kFlood; i++) {
    client.Send(20136, flooding);
    if (i % 500 == 0) {
      DWORD_PTR result = 0;
      EXPECT_TRUE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result))
          << "the window answers during the flood";
    }
  }
  // The flood overflows the service's receive buffer: once its answers stop,
  // it must still serve.
  while (client.Receive() == "rejected: too many numbers at once") {
  }
  client.Send(20136, "ping");
  EXPECT_EQ("pong", client.Receive());
  // Of each 10 s of refusals, one is logged in full and the rest summed up in one line.
  size_t runs = 2 + size_t((GetTickCount64() - floodStart) / 10000);
  ProcessUse after = UseOf(tray.process);
  EXPECT_LT(after.bytes, before.bytes + 4 * 1024 * 1024) << before.bytes << " before";
  EXPECT_LE(after.handles, before.handles + 8) << before.handles << " before";

  PostMessageW(window, WM_COMMAND, kTrayQuitCommand, 0);
  EXPECT_EQ(0, WaitForExit(&tray, 20000));
  std::string logged = FileText(log + L".old") + FileText(log);
  EXPECT_NE(std::string::npos, logged.find("dial +49 5555 01230 (from port ")) << logged;
  EXPECT_LE(Count(logged, "rejected: too many numbers at once\n"), runs) << logged;
  EXPECT_GE(Count(logged, "more like this in"), 1u) << logged;
  EXPECT_LE(Count(logged, "more like this in"), runs) << logged;
  EXPECT_EQ(1u, Count(logged, "the notification area says: numbers are coming too fast")) << logged;
}

// A roll-out that says nothing of confirmation leaves it on; only the machine's
// file in so many words turns it off, and only when administrators alone may
// change the file. Under Wine a file's DACL can give Everyone the right to
// write (it becomes a mode bit); other owners and entries cannot be made here
// (see SettingsFiles.TheMachinesFileIsReadOnlyWhenAdministratorsAloneMayChangeIt).
TEST(DialServiceTray, ARollOutLeavesConfirmationOnAndAFileOthersMayChangeIsNotRead) {
  struct Case {
    int port;
    std::string text;
    const wchar_t* everyone;  // what Everyone may do with the file, in SDDL
    bool asks;
    std::vector<std::string> logged;
  };
  const Case cases[] = {
      {20137, "[dial-service]\ncountry=49\n", L"FR", true, {}},
      {20138, "[dial-service]\ncountry=49\nconfirm=no\n", L"FR", false, {}},
      {20139, "[dial-service]\ncountry=49\nconfirm=no\n", L"FRFW", true,
       {"dial-service.ini: not read: Everyone may write to it\n",
        "the notification area says: the machine's settings file was not read\n"}},
  };
  wchar_t programData[MAX_PATH] = {};
  GetEnvironmentVariableW(L"ProgramData", programData, MAX_PATH);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::wstring log = FreshTrayFolders().log;
    std::wstring folder = FreshTempFolder(L"programdata");
    SetEnvironmentVariableW(L"ProgramData", folder.c_str());
    CreateDirectoryW((folder + L"\\teldial").c_str(), nullptr);
    std::wstring machineFile = folder + L"\\teldial\\dial-service.ini";
    HANDLE file = CreateFileW(machineFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, c.text.data(), DWORD(c.text.size()), &written, nullptr);
    CloseHandle(file);
    EXPECT_TRUE(SetAccessList(machineFile, std::wstring(L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;OW)(A;;") +
                                               c.everyone + L";;;WD)"));

    ProgramRun tray;
    EndedAtExit guard = {&tray};
    ASSERT_TRUE(StartTray(L"--port " + std::to_wstring(c.port), &tray));
    SetEnvironmentVariableW(L"ProgramData", programData);
    HWND window = AwaitWindow(tray.processId, kTrayWindowClass, nullptr, 20000);
    ASSERT_NE(nullptr, window) << FileText(log);
    Client client;
    client.Send(c.port, "dial +49 5555 01230");
    EXPECT_EQ("ok", client.Receive());
    if (c.asks) {
      HWND asking = AwaitConfirmationWindow(tray.processId, 20000);
      ASSERT_NE(nullptr, asking) << FileText(log);
      SendMessageW(GetDlgItem(asking, IDCANCEL), BM_CLICK, 0, 0);
    } else {
      EXPECT_NE(std::wstring::npos, AwaitTitle(window, L"0555501230", 5000).find(L"0555501230")) << FileText(log);
    }
    PostMessageW(window, WM_COMMAND, kTrayQuitCommand, 0);
    EXPECT_EQ(0, WaitForExit(&tray, 20000));
    std::string logged = FileText(log);
    EXPECT_EQ(c.asks, logged.find("asking the user to confirm") != std::string::npos) << logged;
    for (const std::string& line : c.logged) EXPECT_EQ(1u, Count(logged, line)) << logged;
  }
}

namespace {
const WPARAM kFirstRecentCommand = 16;

// The confirmation window once it shows number; null after timeoutMs.
HWND AwaitAskingFor(DWORD processId, const std::string& number, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  do {
    HWND window = AwaitConfirmationWindow(processId, 0);
    if (window && WindowText(GetDlgItem(window, IDC_CONFIRM_NUMBER)) == std::wstring(number.begin(), number.end()))
      return window;
    Sleep(50);
  } while (GetTickCount() - start < timeoutMs);
  return nullptr;
}

// A button of the window, as soon as it takes a click.
void Press(HWND window, int button) {
  for (int i = 0; i < 100 && !IsWindowEnabled(GetDlgItem(window, button)); i++) Sleep(50);
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), LPARAM(GetDlgItem(window, button)));
  for (int i = 0; i < 100 && IsWindow(window); i++) Sleep(50);
}

bool AwaitLogged(const std::wstring& log, const std::string& line, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (FileText(log).find(line) == std::string::npos) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(100);
  }
  return true;
}
}  // namespace

// Only a number the phone got goes into Recent numbers; a feature code chosen
// there, from the menu or by a program posting the menu's command, is asked
// about again.
TEST(DialServiceTray, RecentNumbersHoldOnlyWhatReachedThePhoneAndAFeatureCodeThereAsksAgain) {
  std::wstring log = FreshTrayFolders().log;
  ProgramRun tray;
  EndedAtExit guard = {&tray};
  ASSERT_TRUE(StartTray(L"--no-settings --confirm --port 20137 --max-calls 0", &tray));
  HWND window = AwaitWindow(tray.processId, kTrayWindowClass, nullptr, 20000);
  ASSERT_NE(nullptr, window);
  enum Answer { kCancel, kReplace, kLeaveAlone, kCall };
  struct Case {
    const char* number;
    Answer answer;
    const char* logged;  // the outcome's log line
  };
  const Case cases[] = {
      {"0301111", kCancel, "cancelled 0301111"},
      {"0302222", kReplace, "not confirmed 0302222: a newer number took its place"},
      {"0303333", kLeaveAlone, "timed out 0303333"},
      {"*21*0304444#", kCall, "confirmed *21*0304444#"},
  };
  Client client;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    client.Send(20137, std::string("dial ") + c.number);
    EXPECT_EQ("ok", client.Receive());
    HWND asking = AwaitAskingFor(tray.processId, c.number, 20000);
    ASSERT_NE(nullptr, asking);
    if (c.answer == kCancel || c.answer == kCall) Press(asking, c.answer == kCall ? IDOK : IDCANCEL);
    // A replaced number is done once the next one is shown.
    if (c.answer != kReplace) EXPECT_TRUE(AwaitLogged(log, c.logged, 30000)) << FileText(log);
  }
  EXPECT_EQ(L"teldial: port 20137, last number *21*0304444#", AwaitTitle(window, L"*21*", 5000));

  // The confirmed code is the menu's only number, first and last; chosen, it is asked about.
  for (auto keys : {std::initializer_list<WORD>{'R', VK_RETURN}, std::initializer_list<WORD>{'R', VK_UP, VK_RETURN}}) {
    ChooseFromMenu(window, keys);
    HWND asking = AwaitAskingFor(tray.processId, "*21*0304444#", 10000);
    ASSERT_NE(nullptr, asking) << "the menu holds the confirmed code alone, and it is asked about";
    Press(asking, IDCANCEL);
  }
  PostMessageW(window, WM_COMMAND, kFirstRecentCommand, 0);
  HWND asking = AwaitAskingFor(tray.processId, "*21*0304444#", 10000);
  ASSERT_NE(nullptr, asking) << "the menu's command posted by another program is asked about too";
  Press(asking, IDCANCEL);
  PostMessageW(window, WM_COMMAND, kTrayQuitCommand, 0);
  EXPECT_EQ(0, WaitForExit(&tray, 20000));

  std::string logged = FileText(log);
  for (const Case& c : cases) EXPECT_EQ(1u, Count(logged, c.logged)) << logged;
  EXPECT_EQ(3u, Count(logged, "dial *21*0304444# (from the recent numbers menu)\n")) << logged;
  EXPECT_EQ(3u, Count(logged, "cancelled *21*0304444#\n")) << logged;
  EXPECT_EQ(4u, Count(logged, "asking the user to confirm *21*0304444#\n")) << logged;
  EXPECT_EQ(3u, Count(logged, "(from the recent numbers menu)")) << "no other number dialled again";
}

namespace {
void WriteTextFile(const std::wstring& path, const std::string& text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
  CloseHandle(file);
}
}  // namespace

// Save takes up what the serving loop can change at once (verbose here;
// any-user likewise, which Wine cannot show: every program of a prefix is
// one user's) and says which keys wait for the next start.
TEST(DialServiceTray, SaveTakesUpVerboseAtOnceAndSaysThatPortAndCountWaitForTheNextStart) {
  std::wstring log = FreshTrayFolders().log;
  std::wstring settings = FreshTempFolder(L"tray-settings") + L"\\dial-service.ini";
  WriteTextFile(settings, "[dial-service]\r\nport=20138\r\n");
  ProgramRun tray;
  EndedAtExit guard = {&tray};
  ASSERT_TRUE(StartTray(L"--settings \"" + settings + L"\"", &tray));
  HWND window = AwaitWindow(tray.processId, kTrayWindowClass, nullptr, 20000);
  ASSERT_NE(nullptr, window) << FileText(log);
  Client client;
  struct Step {
    const char* file;    // as the user edits it by hand, then Save in the window; null: as it is
    size_t pingsLogged;  // after one ping more
  };
  const Step steps[] = {
      {nullptr, 0},
      {"[dial-service]\r\nport=20139\r\ncount=50\r\nverbose=yes\r\n", 1},
      {"[dial-service]\r\nport=20139\r\ncount=50\r\n", 1},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.file ? step.file : "as started");
    if (step.file) {
      WriteTextFile(settings, step.file);
      PostMessageW(window, WM_COMMAND, kTraySettingsCommand, 0);
      HWND form = AwaitWindow(tray.processId, L"#32770", L"teldial settings", 20000);
      ASSERT_NE(nullptr, form);
      // It is made hidden, filled in, then shown.
      for (int i = 0; i < 100 && !IsWindowVisible(form); i++) Sleep(50);
      SendMessageW(GetDlgItem(form, IDOK), BM_CLICK, 0, 0);
      for (int i = 0; i < 200 && IsWindow(form); i++) Sleep(50);
      ASSERT_FALSE(IsWindow(form)) << "the settings window closes at Save";
    }
    client.Send(20138, "ping");
    EXPECT_EQ("pong", client.Receive()) << "still on the port it started with";
    EXPECT_EQ(step.pingsLogged, Count(FileText(log), "ping (from port ")) << FileText(log);
  }
  PostMessageW(window, WM_COMMAND, kTrayQuitCommand, 0);
  EXPECT_EQ(0, WaitForExit(&tray, 20000));
  EXPECT_EQ(2u, Count(FileText(log), "saved, but taken up only at the next start: port, count\n")) << FileText(log);
}

// A refused link says why in a balloon, not only in the log; a burst of
// refusals brings one balloon, not one each. Wine has a notification area
// under Xvfb, so the balloon is asked for as on Windows; the tray logs each
// balloon, and would log a refused Shell_NotifyIcon call too.
TEST(DialServiceTray, ARefusedLinkSaysWhyInABalloonAndABurstOfThemInOne) {
  std::wstring log = FreshTrayFolders().log;
  ProgramRun tray;
  EndedAtExit guard = {&tray};
  ASSERT_TRUE(StartTray(L"--no-settings --port 20141 --block 0900 --max-calls 0", &tray));
  HWND window = AwaitWindow(tray.processId, kTrayWindowClass, nullptr, 20000);
  ASSERT_NE(nullptr, window);
  struct Case {
    std::string link;
    int times;          // sent at once
    DWORD pauseBefore;  // ms
    const char* answer;
    const char* balloon;  // the balloon's log line; null: none, the one before still counts
  };
  const Case cases[] = {
      {"tel:0555 501230 ext 12", 1, 0, "rejected",
       "not dialled tel:0555 501230 ext 12: a character that has no place in a phone number at byte 17"},
      {"tel:0900%20123", 20, 0, "rejected: blocked by 0900", nullptr},
      {"tel:" + std::string(200, '5'), 1, 0, "rejected", nullptr},
      {"0900 123", 1, 6000, "rejected: blocked by 0900", "not dialled 0900 123: blocked by 0900"},
  };
  Client client;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    Sleep(c.pauseBefore);
    for (int i = 0; i < c.times; i++) {
      client.Send(20141, "dial " + c.link);
      EXPECT_EQ(c.answer, client.Receive());
    }
    if (c.balloon) EXPECT_TRUE(AwaitLogged(log, std::string("the notification area says: ") + c.balloon + "\n", 10000))
        << FileText(log);
  }
  PostMessageW(window, WM_COMMAND, kTrayQuitCommand, 0);
  EXPECT_EQ(0, WaitForExit(&tray, 20000));
  std::string logged = FileText(log);
  EXPECT_EQ(2u, Count(logged, "the notification area says: not dialled")) << logged;
  EXPECT_EQ(0u, Count(logged, "cannot show the balloon")) << logged;
}
