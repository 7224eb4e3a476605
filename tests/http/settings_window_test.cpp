// The settings window of dial-service-tray.exe, worked as a user would under
// Xvfb (fields set by their control IDs, buttons clicked): its test call and
// Save against http_test_server.py, the settings file it writes, and the next
// click of teldial.exe served with the new settings by the same running tray.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "http_record_win.h"
#include "processes_win.h"
#include "service/settings/settings_window_ids.h"
#include "service/sinks/password_protection_win.h"
#include "service/sinks/phone_presets.h"
#include "service_process_win.h"
#include "tray_process_win.h"

namespace {
// The window once it is on the screen: it is made hidden, filled in, then shown.
HWND AwaitSettingsWindow(DWORD processId) {
  HWND settings = AwaitWindow(processId, L"#32770", L"teldial settings", 20000);
  for (int i = 0; settings && !IsWindowVisible(settings) && i < 100; i++) Sleep(50);
  return settings;
}

void Choose(HWND settings, PhoneKind kind) {
  HWND kinds = GetDlgItem(settings, IDC_KIND);
  SendMessageW(kinds, CB_SETCURSEL, WPARAM(kind), 0);
  SendMessageW(settings, WM_COMMAND, MAKEWPARAM(IDC_KIND, CBN_SELCHANGE), reinterpret_cast<LPARAM>(kinds));
}

void Type(HWND settings, int control, const wchar_t* text) { SetDlgItemTextW(settings, control, text); }

void Press(HWND settings, int button) { SendMessageW(GetDlgItem(settings, button), BM_CLICK, 0, 0); }

std::wstring ControlText(HWND settings, int control) { return WindowText(GetDlgItem(settings, control)); }

// The control's text once it holds part, or what it holds after timeoutMs.
std::wstring AwaitControlText(HWND settings, int control, const std::wstring& part, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (ControlText(settings, control).find(part) == std::wstring::npos && GetTickCount() - start < timeoutMs)
    Sleep(50);
  return ControlText(settings, control);
}

bool AwaitClosed(HWND window, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (IsWindow(window) && GetTickCount() - start < timeoutMs) Sleep(50);
  return !IsWindow(window);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void WriteSettings(const std::wstring& path, const std::string& text) {
  CreateDirectoryW(path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
  CloseHandle(file);
}

// The control that has the keyboard in the window's thread.
HWND FocusIn(HWND window) {
  GUITHREADINFO info = {sizeof info};
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

// The tray's start with a settings file at fault: the box offers the window,
// which opens once Yes is pressed.
HWND OpenWindowFromTheBox(const ProgramRun& tray) {
  HWND box = FindMessageBox(tray.processId, 20000);
  if (!box) return nullptr;
  SendMessageW(GetDlgItem(box, IDYES), BM_CLICK, 0, 0);
  return AwaitSettingsWindow(tray.processId);
}
}  // namespace

TEST(SettingsWindow, AtFirstStartAPhoneIsSetUpTriedSavedAndServesTheNextClick) {
  TrayFolders folders = FreshTrayFolders();
  ProgramRun tray;
  EndedAtExit guard = {&tray};
  ASSERT_TRUE(StartTray(L"--port 20000", &tray));
  HWND settings = AwaitSettingsWindow(tray.processId);
  ASSERT_NE(nullptr, settings) << "no settings file and no request given: the window opens by itself";
  EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(settings, IDC_CONFIRM)) << "the first settings ask before each call";
  EXPECT_EQ(GetDlgItem(settings, IDC_KIND), FocusIn(settings)) << "the phone is chosen first";

  // Each kind shows the fields it uses, and only those.
  struct Shown {
    PhoneKind kind;
    std::vector<int> shown;
  };
  const Shown kinds[] = {
      {kPhoneAsterisk, {IDC_ENDPOINT, IDC_CONTEXT}},
      {kPhoneFritzbox, {}},
      {kPhoneGrandstream, {IDC_LINE}},
      {kPhoneYealink, {IDC_ACCOUNT}},
  };
  for (const Shown& k : kinds) {
    Choose(settings, k.kind);
    std::vector<int> shown;
    for (int control : {IDC_LINE, IDC_ACCOUNT, IDC_ENDPOINT, IDC_CONTEXT})
      if (IsWindowVisible(GetDlgItem(settings, control))) shown.push_back(control);
    EXPECT_EQ(k.shown, shown) << PhoneKindName(k.kind);
  }

  // The list names the phones as their makers do.
  wchar_t name[64] = {};
  SendDlgItemMessageW(settings, IDC_KIND, CB_GETLBTEXT, kPhoneFritzbox, reinterpret_cast<LPARAM>(name));
  EXPECT_STREQ(L"FRITZ!Box", name);
  const WPARAM other = kPhoneBaresip + 1;
  SendDlgItemMessageW(settings, IDC_KIND, CB_GETLBTEXT, other, reinterpret_cast<LPARAM>(name));
  EXPECT_STREQ(L"Other phone or PBX (URL)", name);

  // What the options refuse is said in the window, in the words of its
  // fields, and the window stays open; Other's URL is checked as it is typed.
  struct Refused {
    WPARAM kind;
    const wchar_t* address;  // or Other's URL
    const wchar_t* user;
    const wchar_t* area;
    const wchar_t* said;
  };
  const Refused refused[] = {
      {kPhoneNone, L"", L"", L"", L"Kind: choose your phone, or Other phone or PBX (URL)"},
      {kPhoneAsterisk, L"127.0.0.1:18431", L"", L"", L"Endpoint is missing (for example PJSIP/201)"},
      {kPhoneYealink, L"", L"", L"", L"Address is missing"},
      {kPhoneGrandstream, L"127.0.0.1:18431", L"", L"", L"Password: the phone asks for one"},
      {kPhoneYealink, L"127.0.0.1:18431", L"alice", L"", L"Password: the user name goes with a password"},
      {kPhoneYealink, L"127.0.0.1:18431", L"", L"05555", L"Area code: digits only, without the leading 0"},
      {other, L"http://127.0.0.1:18431/dial", L"", L"", L"URL: {number} is missing, where the number goes"},
  };
  Type(settings, IDC_COUNTRY, L"49");
  for (const Refused& r : refused) {
    SendDlgItemMessageW(settings, IDC_KIND, CB_SETCURSEL, r.kind, 0);
    SendMessageW(settings, WM_COMMAND, MAKEWPARAM(IDC_KIND, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(settings, IDC_KIND)));
    Type(settings, r.kind == other ? IDC_URL : IDC_ADDRESS, r.address);
    Type(settings, IDC_USER, r.user);
    Type(settings, IDC_AREA, r.area);
    Press(settings, IDOK);
    EXPECT_EQ(r.said, ControlText(settings, IDC_PROBLEM)) << r.kind;
    if (r.kind == other) EXPECT_EQ(r.said, ControlText(settings, IDC_URL_CHECK));
  }
  Type(settings, IDC_URL, L"http://127.0.0.1:18431/dial?n={number}");
  EXPECT_EQ(L"OK", ControlText(settings, IDC_URL_CHECK));
  EXPECT_TRUE(IsWindow(settings));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folders.settings.c_str())) << "nothing written";
  Type(settings, IDC_COUNTRY, L"");
  Type(settings, IDC_ADDRESS, L"127.0.0.1:18431");

  Record record;
  Choose(settings, kPhoneYealink);
  Type(settings, IDC_USER, L"alice");
  Type(settings, IDC_PASSWORD, L"pa ss:w0rd");
  Type(settings, IDC_COUNTRY, L"49");
  Type(settings, IDC_AREA, L"5555");
  Type(settings, IDC_TEST_NUMBER, L"+49 5555 0123-0");
  Press(settings, IDC_TEST_CALL);
  std::wstring outcome = AwaitControlText(settings, IDC_TEST_OUTCOME, L" in ", 20000);
  EXPECT_EQ(0u, outcome.find(L"http 01230: 200 OK in ")) << Utf8(outcome);
  std::vector<Recorded> requests = record.Await(2, 5000);
  ASSERT_EQ(2u, requests.size()) << "asked, then answered with credentials";
  EXPECT_EQ("GET /servlet?key=number=01230 HTTP/1.1", RequestLine(requests[1]));
  EXPECT_EQ("valid", requests[1].auth);

  Press(settings, IDOK);
  ASSERT_TRUE(AwaitClosed(settings, 10000)) << Utf8(ControlText(settings, IDC_PROBLEM));
  std::string file = ReadWholeFile(folders.settings);
  for (const char* line : {"[dial-service]", "phone=yealink", "phone-address=127.0.0.1:18431", "http-user=alice",
                           "http-password-protected=", "country=49", "area=5555", "confirm=yes"})
    EXPECT_TRUE(Contains(file, std::string("\n") + line) || file.find(line) == 0) << line << " in\n" << file;
  EXPECT_FALSE(Contains(file, "pa ss")) << file;
  EXPECT_FALSE(Contains(file, "http-password=")) << file;

  // The running service takes the settings up at once, and asks first.
  EXPECT_EQ(0, Click(L"tel:+49555501230"));
  HWND confirmation = AwaitConfirmationWindow(tray.processId, 20000);
  ASSERT_NE(nullptr, confirmation);
  EXPECT_EQ(2u, record.Await(3, 1000).size()) << "no request before the user says so";
  SetForegroundWindow(confirmation);
  PressKeys({VK_RETURN});
  requests = record.Await(4, 10000);
  ASSERT_EQ(4u, requests.size());
  EXPECT_EQ("GET /servlet?key=number=01230 HTTP/1.1", RequestLine(requests[3]));
  EXPECT_EQ("valid", requests[3].auth) << "the password stored protected is read back";

  HWND window = AwaitWindow(tray.processId, kTrayWindowClass, nullptr, 5000);
  PostMessageW(window, WM_COMMAND, kTrayQuitCommand, 0);
  EXPECT_EQ(0, WaitForExit(&tray, 20000));
  std::string log = ReadWholeFile(folders.log);
  EXPECT_TRUE(Contains(log, "settings saved, handing numbers to: http\n")) << log;
  EXPECT_TRUE(Contains(log, "http 01230: 200 OK in ")) << log;
  EXPECT_TRUE(Contains(log, "confirmed 01230\n")) << log;
  EXPECT_FALSE(Contains(log, "pa ss")) << log;
}

TEST(SettingsWindow, ASettingsFileAtFaultIsNamedAndPutRightInTheWindow) {
  TrayFolders folders = FreshTrayFolders();
  std::wstring folder = folders.settings.substr(0, folders.settings.rfind(L'\\'));
  CreateDirectoryW(folder.c_str(), nullptr);
  HANDLE file = CreateFileW(folders.settings.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  const char text[] = "[dial-service]\r\ncountry=4x9\r\n";
  DWORD written = 0;
  WriteFile(file, text, sizeof text - 1, &written, nullptr);
  CloseHandle(file);

  ProgramRun tray;
  EndedAtExit guard = {&tray};
  ASSERT_TRUE(StartTray(L"--port 20001", &tray));
  HWND box = FindMessageBox(tray.processId, 20000);
  ASSERT_NE(nullptr, box);
  std::wstring question = MessageBoxText(box);
  EXPECT_EQ(0u, question.find(folders.settings + L":2: --country takes a country code")) << Utf8(question);
  EXPECT_NE(std::wstring::npos, question.find(L"Open the settings window")) << Utf8(question);
  SendMessageW(GetDlgItem(box, IDYES), BM_CLICK, 0, 0);

  HWND settings = AwaitSettingsWindow(tray.processId);
  ASSERT_NE(nullptr, settings);
  Type(settings, IDC_COUNTRY, L"49");
  Press(settings, IDOK);
  ASSERT_TRUE(AwaitClosed(settings, 10000)) << Utf8(ControlText(settings, IDC_PROBLEM));
  HWND window = AwaitWindow(tray.processId, kTrayWindowClass, nullptr, 20000);
  ASSERT_NE(nullptr, window) << "the service starts with the settings put right";
  EXPECT_TRUE(Contains(ReadWholeFile(folders.settings), "\ncountry=49")) << ReadWholeFile(folders.settings);
  PostMessageW(window, WM_COMMAND, kTrayQuitCommand, 0);
  EXPECT_EQ(0, WaitForExit(&tray, 20000));
}

// A file with a bad value and a misspelt key among good lines (a comment and a
// protected password among them): the window opens with the good lines in its
// fields and names each bad line at the top, with its field focused or a way
// to drop it. Cancel keeps the tray running on the good lines; Save writes
// only what was put right, so every other line survives as it was.
TEST(SettingsWindow, AFileWithBadLinesIsPutRightWithoutLosingAGoodLine) {
  TrayFolders folders = FreshTrayFolders();
  char protectedPassword[4096];
  ASSERT_TRUE(ProtectPassword(L"pa ss:w0rd", protectedPassword, sizeof protectedPassword));
  const std::string good[] = {"; the phone on my desk", "phone=Yealink", "phone-address=127.0.0.1:18431",
                              "http-user=alice", std::string("http-password-protected=") + protectedPassword,
                              "area=5555", "outside=0", "confirm=yes"};
  std::string text = "[dial-service]\r\n" + good[0] + "\r\n" + good[1] + "\r\n" + good[2] +
                     "\r\ncountry=4x9\r\nphone-adress=phone.example.com\r\n";
  for (size_t i = 3; i < sizeof good / sizeof good[0]; i++) text += good[i] + "\r\n";
  WriteSettings(folders.settings, text);

  ProgramRun tray;
  EndedAtExit guard = {&tray};
  ASSERT_TRUE(StartTray(L"--port 20003", &tray));
  HWND settings = OpenWindowFromTheBox(tray);
  ASSERT_NE(nullptr, settings);
  EXPECT_EQ(0u, ControlText(settings, IDC_FAULT).find(L"Line 5: country=4x9: Country code: ")) <<
      Utf8(ControlText(settings, IDC_FAULT));
  EXPECT_EQ(GetDlgItem(settings, IDC_COUNTRY), FocusIn(settings));
  EXPECT_EQ(L"127.0.0.1:18431", ControlText(settings, IDC_ADDRESS));
  EXPECT_EQ(L"alice", ControlText(settings, IDC_USER));
  EXPECT_EQ(L"5555", ControlText(settings, IDC_AREA));
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(settings, IDC_PASSWORD_CUE))) << "a password is stored";
  Press(settings, IDCANCEL);
  HWND window = AwaitWindow(tray.processId, kTrayWindowClass, nullptr, 20000);
  ASSERT_NE(nullptr, window) << "Cancel leaves the tray running";
  PostMessageW(window, WM_COMMAND, kTrayQuitCommand, 0);
  EXPECT_EQ(0, WaitForExit(&tray, 20000));
  EXPECT_EQ(text, ReadWholeFile(folders.settings));
  std::string log = ReadWholeFile(folders.log);
  EXPECT_TRUE(Contains(log, "handing numbers to: http\n")) << "the good lines are in effect\n" << log;
  EXPECT_TRUE(Contains(log, "the notification area says: a line of the settings file is left out\n")) << log;

  ASSERT_TRUE(StartTray(L"--port 20003", &tray));
  settings = OpenWindowFromTheBox(tray);
  ASSERT_NE(nullptr, settings);
  Type(settings, IDC_COUNTRY, L"49");
  EXPECT_EQ(0u, ControlText(settings, IDC_FAULT).find(L"Line 6: phone-adress=phone.example.com: no such setting"))
      << Utf8(ControlText(settings, IDC_FAULT));
  Press(settings, IDOK);
  EXPECT_EQ(0u, ControlText(settings, IDC_PROBLEM).find(L"Line 6 of the settings file is still at fault"))
      << Utf8(ControlText(settings, IDC_PROBLEM));
  EXPECT_EQ(text, ReadWholeFile(folders.settings)) << "nothing written while a line is at fault";
  Press(settings, IDC_DROP_LINE);
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(settings, IDC_FAULT)));
  Press(settings, IDOK);
  ASSERT_TRUE(AwaitClosed(settings, 10000)) << Utf8(ControlText(settings, IDC_PROBLEM));
  window = AwaitWindow(tray.processId, kTrayWindowClass, nullptr, 20000);
  ASSERT_NE(nullptr, window);
  PostMessageW(window, WM_COMMAND, kTrayQuitCommand, 0);
  EXPECT_EQ(0, WaitForExit(&tray, 20000));
  std::string saved = ReadWholeFile(folders.settings);
  for (const std::string& line : good) EXPECT_EQ(1u, Count(saved, "\n" + line + "\r\n")) << line << " in\n" << saved;
  EXPECT_TRUE(Contains(saved, "\ncountry=49\r\n")) << saved;
  EXPECT_FALSE(Contains(saved, "4x9") || Contains(saved, "phone-adress")) << saved;
}

// An administrator's roll-out names a phone that asks for a password (by its
// kind, or by the user name the roll-out gives): the user's first start opens
// the window with the administrator's fields filled in and locked, asking for
// the password, and Save writes only that.
TEST(SettingsWindow, AfterARollOutTheFirstStartAsksForThePasswordWithTheFieldsLocked) {
  struct RollOut {
    std::string text;
    std::vector<int> locked;
  };
  const RollOut rollOuts[] = {
      {"[dial-service]\nphone=asterisk\nphone-address=127.0.0.1:18431\nphone-endpoint=PJSIP/201\n",
       {IDC_ADDRESS, IDC_ENDPOINT}},
      {"[dial-service]\nphone=snom\nphone-address=127.0.0.1:18431\nhttp-user=alice\n", {IDC_ADDRESS, IDC_USER}},
  };
  wchar_t programData[MAX_PATH] = {};
  GetEnvironmentVariableW(L"ProgramData", programData, MAX_PATH);
  for (const RollOut& r : rollOuts) {
    SCOPED_TRACE(r.text);
    TrayFolders folders = FreshTrayFolders();
    std::wstring folder = FreshTempFolder(L"programdata");
    std::wstring machineFile = folder + L"\\teldial\\dial-service.ini";
    WriteSettings(machineFile, r.text);
    EXPECT_TRUE(SetAccessList(machineFile, L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;OW)(A;;FR;;;WD)"));

    ProgramRun tray;
    EndedAtExit guard = {&tray};
    SetEnvironmentVariableW(L"ProgramData", folder.c_str());
    bool started = StartTray(L"--port 20004", &tray);
    SetEnvironmentVariableW(L"ProgramData", programData);
    ASSERT_TRUE(started);
    HWND settings = AwaitSettingsWindow(tray.processId);
    ASSERT_NE(nullptr, settings) << ReadWholeFile(folders.log);
    EXPECT_EQ(L"Password: the phone asks for one", ControlText(settings, IDC_FAULT));
    EXPECT_EQ(GetDlgItem(settings, IDC_PASSWORD), FocusIn(settings));
    for (int field : r.locked)
      EXPECT_TRUE(GetWindowLongW(GetDlgItem(settings, field), GWL_STYLE) & ES_READONLY) << field;
    EXPECT_FALSE(GetWindowLongW(GetDlgItem(settings, IDC_PASSWORD), GWL_STYLE) & ES_READONLY);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(settings, IDC_KIND)));
    EXPECT_EQ(L"127.0.0.1:18431", ControlText(settings, IDC_ADDRESS));
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(settings, IDC_LOCKED_NOTE)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(settings, IDC_PASSWORD_CUE))) << "no password is stored";
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(settings, IDC_CONFIRM));
    Type(settings, IDC_PASSWORD, L"pa ss:w0rd");
    if (!(GetWindowLongW(GetDlgItem(settings, IDC_USER), GWL_STYLE) & ES_READONLY)) Type(settings, IDC_USER, L"alice");
    Press(settings, IDOK);
    ASSERT_TRUE(AwaitClosed(settings, 10000)) << Utf8(ControlText(settings, IDC_PROBLEM));
    HWND window = AwaitWindow(tray.processId, kTrayWindowClass, nullptr, 5000);
    PostMessageW(window, WM_COMMAND, kTrayQuitCommand, 0);
    EXPECT_EQ(0, WaitForExit(&tray, 20000));
    std::string saved = ReadWholeFile(folders.settings);
    EXPECT_TRUE(Contains(saved, "\nhttp-password-protected=")) << saved;
    for (const char* key : {"phone=", "phone-address", "confirm=no"}) EXPECT_FALSE(Contains(saved, key)) << saved;
    EXPECT_TRUE(Contains(ReadWholeFile(folders.log), "settings saved, handing numbers to: http\n"))
        << ReadWholeFile(folders.log);
  }
}

// A request that left without an answer is not called a failure: the tray
// says the phone may still dial, so that the user looks before clicking again.
TEST(SettingsWindow, ATimeOutIsShownAsAPhoneThatMayStillDial) {
  TrayFolders folders = FreshTrayFolders();
  ProgramRun tray;
  EndedAtExit guard = {&tray};
  ASSERT_TRUE(StartTray(L"--port 20000 --max-calls 0 --http-timeout 1000 --http http://127.0.0.1:" + Port(kSlowPort) +
                            L"/dial?n={number} --http-user alice --http-password \"pa ss:w0rd\"",
                        &tray));
  HWND window = AwaitWindow(tray.processId, kTrayWindowClass, nullptr, 20000);
  ASSERT_NE(nullptr, window);
  EXPECT_EQ(0, Click(L"tel:0555501230"));
  std::string log;
  for (DWORD start = GetTickCount(); !Contains(log, "the notification area says") && GetTickCount() - start < 15000;
       Sleep(100))
    log = ReadWholeFile(folders.log);
  PostMessageW(window, WM_COMMAND, kTrayQuitCommand, 0);
  EXPECT_EQ(0, WaitForExit(&tray, 20000));
  log = ReadWholeFile(folders.log);
  EXPECT_TRUE(Contains(log, "http 0555501230: no answer within 1000 ms: the phone may still dial\n")) << log;
  EXPECT_TRUE(Contains(log, "the notification area says: the phone may still dial 0555501230\n")) << log;
}

// Save while a request is held up where Windows sets no deadline (the
// certificate's issuer fetched from a server that never answers): the request
// still ends by --http-timeout, so the old worker is done before the new one
// starts, and the next click goes out with the new settings, once.
TEST(SettingsWindow, SaveDuringAHeldUpRequestLeavesOneWorkerServing) {
  TrayFolders folders = FreshTrayFolders();
  CreateDirectoryW(folders.settings.substr(0, folders.settings.rfind(L'\\')).c_str(), nullptr);
  HANDLE file = CreateFileW(folders.settings.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  std::string text = "[dial-service]\nphone=snom\nphone-https=yes\nphone-address=127.0.0.1:" +
                     std::to_string(kUnknownIssuerTlsPort) + "\nhttp-timeout=4000\nconfirm=no\nmax-calls=0\n";
  DWORD written = 0;
  WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
  CloseHandle(file);
  ProgramRun tray;
  EndedAtExit guard = {&tray};
  ASSERT_TRUE(StartTray(L"--port 20002", &tray));
  HWND window = AwaitWindow(tray.processId, kTrayWindowClass, nullptr, 20000);
  ASSERT_NE(nullptr, window);
  PostMessageW(window, WM_COMMAND, kTraySettingsCommand, 0);
  HWND settings = AwaitSettingsWindow(tray.processId);
  ASSERT_NE(nullptr, settings);
  Type(settings, IDC_ADDRESS, (L"127.0.0.1:" + Port(kOpenPort)).c_str());
  CheckDlgButton(settings, IDC_HTTPS, BST_UNCHECKED);

  Record record;
  EXPECT_EQ(0, Click(L"tel:0555501230"));
  DWORD start = GetTickCount();
  while (record.Connections(kSilentPort) == 0 && GetTickCount() - start < 10000) Sleep(50);
  ASSERT_EQ(1u, record.Connections(kSilentPort)) << "the issuer is being fetched";
  Press(settings, IDOK);
  ASSERT_TRUE(AwaitClosed(settings, 20000)) << Utf8(ControlText(settings, IDC_PROBLEM));
  EXPECT_EQ(0, Click(L"tel:0555501231"));
  std::vector<Recorded> requests = record.Await(1, 10000);
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ(kOpenPort, requests[0].port);
  EXPECT_EQ("GET /command.htm?number=0555501231 HTTP/1.1", RequestLine(requests[0]));

  PostMessageW(window, WM_COMMAND, kTrayQuitCommand, 0);
  EXPECT_EQ(0, WaitForExit(&tray, 20000));
  std::string log = ReadWholeFile(folders.log);
  EXPECT_TRUE(Contains(log, "http 0555501230: not sent after ")) << log;
  EXPECT_TRUE(Contains(log, " ms: the server's certificate could not be checked within --http-timeout")) << log;
  EXPECT_FALSE(Contains(log, "given up")) << log;
  EXPECT_TRUE(Contains(log, "settings saved, handing numbers to: http\n")) << log;
  EXPECT_EQ(1u, Count(log, "http 0555501231: 200 OK in ")) << log;
}
