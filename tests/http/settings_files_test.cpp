// dial-service.exe with settings files: the machine's and the user's files
// found through %ProgramData% and %APPDATA% (each test gets fresh folders for
// them), layered under the command line; bad lines named by file and line;
// a password stored protected from a pipe and then used for a real request;
// the machine's file read only when administrators alone may change it, and
// only for what it may set.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "http_record_win.h"
#include "processes_win.h"
#include "service_process_win.h"

namespace {
class SettingsFiles : public testing::Test {
 protected:
  void SetUp() override {
    Keep(L"APPDATA", &appData_);
    Keep(L"ProgramData", &programData_);
    userFile_ = FreshTempFolder(L"appdata") + L"\\teldial\\dial-service.ini";
    machineFile_ = FreshTempFolder(L"programdata") + L"\\teldial\\dial-service.ini";
    SetEnvironmentVariableW(L"APPDATA", Folder(Folder(userFile_)).c_str());
    SetEnvironmentVariableW(L"ProgramData", Folder(Folder(machineFile_)).c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"APPDATA", appData_.c_str());
    SetEnvironmentVariableW(L"ProgramData", programData_.c_str());
  }

  static void Keep(const wchar_t* name, std::wstring* value) {
    wchar_t text[MAX_PATH] = {};
    GetEnvironmentVariableW(name, text, MAX_PATH);
    *value = text;
  }
  static std::wstring Folder(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

  static void Write(const std::wstring& path, const std::string& text) {
    CreateDirectoryW(Folder(path).c_str(), nullptr);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
    CloseHandle(file);
  }

  std::wstring userFile_;
  std::wstring machineFile_;
  std::wstring appData_;
  std::wstring programData_;
};
}  // namespace

TEST_F(SettingsFiles, TheCommandLineOverridesTheUsersFileWhichOverridesTheMachines) {
  Write(machineFile_, "[dial-service]\nphone=baresip\nphone-address=127.0.0.1:1\ncountry=49\n");
  Write(userFile_, "\xEF\xBB\xBF; mine\r\n[dial-service]\r\nphone-address=127.0.0.1:18438\r\n");
  std::wstring otherFile = FreshTempFolder(L"settings") + L"\\other.ini";
  Write(otherFile, "[dial-service]\nphone-address=127.0.0.1:4\n");
  struct Case {
    std::wstring options;
    const char* shown;
  };
  const Case cases[] = {
      {L"", "GET http://127.0.0.1:18438/?d0555501230"},
      {L"--phone-address 127.0.0.1:2", "GET http://127.0.0.1:2/?d0555501230"},
      {L"--settings \"" + otherFile + L"\"", "GET http://127.0.0.1:4/?d0555501230"},
      {L"--no-settings --phone baresip --phone-address 127.0.0.1:3", "GET http://127.0.0.1:3/?d%2B49555501230"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8(c.options));
    DWORD exitCode = 99;
    std::string output = RunDialService(c.options + L" --show-request \"+49 5555 01230\"", &exitCode);
    EXPECT_EQ(0u, exitCode) << output;
    EXPECT_EQ(c.shown, output.substr(0, output.find('\n'))) << output;
  }
}

TEST_F(SettingsFiles, ABadLineIsNamedByFileAndLine) {
  struct Case {
    bool machine;
    std::string text;
    unsigned line;
    const char* problem;  // part of the rest of the line
  };
  const Case cases[] = {
      {false, "[dial-service]\n; a phone\nphone=nokia\n", 3, "nokia"},
      {false, "[dial-service]\nphone=snom\nno setting here\n", 3, ""},
      {false, "[dial-service]\r\nphone=snom\r\nphone-address=127.0.0.1\r\nhttp-user=alice\r\nhttp-password=secret\r\n", 5,
       "--store-password"},
      {false, "[dial-service]\nphone=snom\nphone-address=127.0.0.1\rhttp=x\n", 3, "control character"},
      {false, "[dial-service]\nphone=snom\nphone-address=127.0.0.1\nhttp-user=alice\nhttp-password=secret\n", 5,
       "--store-password"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::wstring& path = c.machine ? machineFile_ : userFile_;
    Write(path, c.text);
    DWORD exitCode = 99;
    std::string output = RunDialService(L"--show-request 0555501230", &exitCode);
    DeleteFileW(path.c_str());
    EXPECT_EQ(2u, exitCode) << output;
    std::string prefix = "dial-service: " + Utf8(path) + ":" + std::to_string(c.line) + ": ";
    EXPECT_TRUE(StartsWith(output, prefix)) << output;
    EXPECT_NE(std::string::npos, output.find(c.problem, prefix.size())) << output;
    EXPECT_EQ(std::string::npos, output.find("secret")) << output;
    EXPECT_EQ(1u, Lines(output).size()) << output;
  }
}

TEST_F(SettingsFiles, APasswordStoredFromAPipeIsProtectedAndUsed) {
  std::wstring namedFile = FreshTempFolder(L"settings") + L"\\phone.ini";
  std::wstring newFile = FreshTempFolder(L"settings") + L"\\new\\phone.ini";
  const std::string phone = "[dial-service]\nphone=snom\nphone-address=127.0.0.1:18431\nhttp-user=alice\n";
  struct Case {
    const std::wstring* file;
    std::wstring settings;
    std::string text;      // before; "" for no file (nor folder)
    std::wstring options;  // for the call
  };
  const Case cases[] = {
      {&userFile_, L"", phone + "http-password=old\n", L""},
      {&namedFile, L"--settings \"" + namedFile + L"\" ", phone, L""},
      {&newFile, L"--settings \"" + newFile + L"\" ", "",
       L"--phone snom --phone-address 127.0.0.1:18431 --http-user alice "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8(*c.file));
    if (!c.text.empty()) Write(*c.file, c.text);
    std::string password = "pa ss:w0rd\r\n";
    DWORD exitCode = 99;
    std::string output = RunDialService(c.settings + L"--store-password", &exitCode, &password);
    EXPECT_EQ(0u, exitCode) << output;
    EXPECT_NE(std::string::npos, output.find(Utf8(*c.file))) << output;
    std::string text = FileText(*c.file);
    EXPECT_NE(std::string::npos, text.find("\nhttp-password-protected=")) << text;
    EXPECT_EQ(std::string::npos, text.find("http-password=")) << text;
    EXPECT_EQ(std::string::npos, text.find("pa ss")) << text;
    EXPECT_EQ(!c.text.empty(), text.find("phone=snom\n") != std::string::npos) << text;

    Record record;
    std::string outcome = RunDialService(c.settings + c.options + L"--test-call 0555501230", &exitCode);
    EXPECT_EQ(0u, exitCode) << outcome;
    std::vector<Recorded> requests = record.Requests();
    ASSERT_FALSE(requests.empty()) << outcome;
    EXPECT_EQ("valid", requests.back().auth) << outcome;
    EXPECT_TRUE(StartsWith(outcome, "http 0555501230: 200 OK in ")) << outcome;
  }
}

namespace {
// The SID of the user the test (and the service it starts) runs as.
std::wstring ReaderSid() {
  HANDLE token = nullptr;
  char buffer[512];
  DWORD used = 0;
  wchar_t* text = nullptr;
  std::wstring sid;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
      GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &used) &&
      ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text))
    sid = text;
  LocalFree(text);
  if (token) CloseHandle(token);
  return sid;
}

}  // namespace

// Wine keeps no security descriptor of its own for a file: SetNamedSecurityInfo
// succeeds, but what is read back is made from the Unix mode bits, the owner
// is always the user who runs Wine, and only the owner's and Everyone's
// entries become mode bits. So this shows what an entry for Everyone does on
// the file and on its folder, and that a file of the reader's own with no
// other writer is read; a file owned by another user, or one that BUILTIN\Users,
// Authenticated Users or CREATOR OWNER may write, cannot be made here. Those
// are rows of FileTrust.OnlyAdministratorsMayChangeIt, over the owner and the
// DACL entries that GetSecurityInfo returns on Windows for the handle the
// service then reads from (file_trust_win.cpp).
TEST_F(SettingsFiles, TheMachinesFileIsReadOnlyWhenAdministratorsAloneMayChangeIt) {
  const std::wstring reader = ReaderSid();
  ASSERT_FALSE(reader.empty());
  const std::wstring alone = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + reader + L")(A;OICI;FR;;;WD)";
  const std::wstring everyone = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;" + reader + L")(A;OICI;FRFW;;;WD)";
  const std::string path = Utf8(machineFile_);
  const std::string rules = "[dial-service]\ncountry=49\n";
  struct Case {
    const std::wstring* folder;  // the DACLs
    const std::wstring* file;
    std::string text;
    const char* shown;                   // the request
    std::vector<std::string> notes;      // lines of output besides it
  };
  const Case cases[] = {
      {&alone, &alone, rules, "GET http://127.0.0.1:3/?d0555501230", {}},
      {&alone, &everyone, rules, "GET http://127.0.0.1:3/?d%2B49555501230",
       {path + ": not read: Everyone may write to it"}},
      {&everyone, &alone, rules, "GET http://127.0.0.1:3/?d%2B49555501230",
       {path + ": not read: Everyone may write to its folder"}},
      {&alone, &alone,
       "[dial-service]\nexec=C:\\Users\\Public\\x.exe {number}\ncountry=49\nany-user=yes\nhttp-header=X-Planted: 1\n"
       "max-calls=0\n",
       "GET http://127.0.0.1:3/?d0555501230",
       {path + ":2: exec is not read from the machine's settings file",
        path + ":4: any-user is not read from the machine's settings file",
        path + ":5: http-header is not read from the machine's settings file",
        path + ":6: the machine's settings file may set max-calls only to N/SECONDS with N at most 5 and SECONDS "
               "at least 10"}},
      {&alone, &alone, "country=49\nphone snom\narea=55x5\nblock=0\x1B\n",
       "GET http://127.0.0.1:3/?d0555501230",
       {path + ":2: neither key=value, a [section], a comment nor blank; the line is left out",
        path + ":4: the value holds a control character; the line is left out",
        path + ":3: --area takes 1 to 8 digits and nothing else; the line is left out"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Write(machineFile_, c.text);
    ASSERT_TRUE(SetAccessList(Folder(machineFile_), *c.folder));
    ASSERT_TRUE(SetAccessList(machineFile_, *c.file));
    DWORD exitCode = 99;
    std::string output =
        RunDialService(L"--phone baresip --phone-address 127.0.0.1:3 --show-request \"+49 5555 01230\"", &exitCode);
    SetAccessList(Folder(machineFile_), alone);
    EXPECT_EQ(0u, exitCode) << output;
    std::vector<std::string> expected;
    for (const std::string& note : c.notes) expected.push_back("dial-service: " + note);
    expected.push_back(c.shown);
    std::vector<std::string> lines = Lines(output);
    lines.resize(lines.size() < expected.size() ? lines.size() : expected.size());
    EXPECT_EQ(expected, lines) << output;
    EXPECT_EQ(std::string::npos, output.find("X-Planted")) << output;
  }
}
