// dial-service --http end to end: the real teldial.exe hands a number to the
// real dial-service.exe, which makes its request to http_test_server.py on
// 127.0.0.1 (started by run_http_tests.sh, which also makes the certificate).
// Each request is checked byte for byte in the server's record.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <string>
#include <vector>

#include "http_record_win.h"
#include "processes_win.h"
#include "service_process_win.h"

TEST(HttpBridge, BasicGetFromTheReadme) {
  Record record;
  ServiceProcess service;
  ASSERT_TRUE(service.Start(L"--port 20000 --count 1 --http \"http://127.0.0.1:18431/cgi/dial?n={number}\" "
                            L"--http-user alice --http-password \"pa ss:w0rd\""));
  std::string output = ServeTheExampleClick(&service);

  std::vector<Recorded> requests = record.Requests();
  ASSERT_EQ(2u, requests.size()) << "asked, then answered with credentials\n" << output;
  for (const Recorded& request : requests) {
    EXPECT_EQ(kBasicPort, request.port);
    EXPECT_EQ("GET /cgi/dial?n=%2B49555501230 HTTP/1.1", RequestLine(request));
    EXPECT_EQ("127.0.0.1:18431", Header(request, "Host"));
    EXPECT_EQ("", Body(request));
  }
  EXPECT_EQ("(none)", Header(requests[0], "Authorization"));
  EXPECT_EQ(401, requests[0].answer);
  EXPECT_EQ("Basic YWxpY2U6cGEgc3M6dzByZA==", Header(requests[1], "Authorization"));
  EXPECT_EQ("valid", requests[1].auth);
  EXPECT_EQ(200, requests[1].answer);
  EXPECT_NE(std::string::npos, output.find("number +49555501230\n")) << output;
  EXPECT_NE(std::string::npos, output.find("http +49555501230: 200 OK in ")) << output;
  EXPECT_EQ(std::string::npos, output.find("pa ss")) << "the password never reaches the log";
}

TEST(HttpBridge, PostJsonWithHeaderAgainstDigestWithThePasswordFromTheEnvironment) {
  Record record;
  SetEnvironmentVariableW(L"TELDIAL_TEST_PHONE_PASSWORD", L"pa ss:w0rd");
  ServiceProcess service;
  bool started = service.Start(
      L"--port 20000 --count 1 --http \"http://127.0.0.1:18432/api/originate\" --http-method POST "
      L"--http-body \"{\\\"number\\\":\\\"{number}\\\"}\" --http-header \"Content-Type: application/json\" "
      L"--http-header \"X-Api-Key: k3y\" --http-user alice --http-password-env TELDIAL_TEST_PHONE_PASSWORD");
  SetEnvironmentVariableW(L"TELDIAL_TEST_PHONE_PASSWORD", nullptr);
  ASSERT_TRUE(started);
  std::string output = ServeTheExampleClick(&service);

  std::vector<Recorded> requests = record.Requests();
  ASSERT_EQ(2u, requests.size()) << output;
  for (const Recorded& request : requests) {
    EXPECT_EQ("POST /api/originate HTTP/1.1", RequestLine(request));
    EXPECT_EQ("{\"number\":\"+49555501230\"}", Body(request));
    EXPECT_EQ("application/json", Header(request, "Content-Type"));
    EXPECT_EQ("k3y", Header(request, "X-Api-Key"));
    EXPECT_EQ("25", Header(request, "Content-Length"));
  }
  EXPECT_EQ(401, requests[0].answer);
  EXPECT_EQ("valid", requests[1].auth) << Header(requests[1], "Authorization");
  EXPECT_EQ(200, requests[1].answer);
  EXPECT_TRUE(StartsWith(Header(requests[1], "Authorization"), "Digest username=\"alice\", realm=\"phone@example.org\""));
  EXPECT_NE(std::string::npos, Header(requests[1], "Authorization").find("algorithm=SHA-256"))
      << "the stronger of the offered algorithms";
  EXPECT_NE(std::string::npos, output.find("http +49555501230: 200 OK in ")) << output;
}

TEST(HttpBridge, EachDigestFormIsAnswered) {
  struct Case {
    int port;
    const wchar_t* scheme;
    const wchar_t* extra;
    const char* algorithm;  // as echoed, or "" when the challenge named none
  };
  const Case cases[] = {
      {kDigestMd5Port, L"http", L"", "algorithm=MD5,"},
      {kDigest2617Port, L"http", L"", ""},
      {kTlsDigestPort, L"https", L" --http-insecure", "algorithm=SHA-256,"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port);
    Record record;
    ServiceProcess service;
    ASSERT_TRUE(service.Start(L"--port 20120 --count 1 --allow-codes --http \"" + std::wstring(c.scheme) + L"://127.0.0.1:" +
                              Port(c.port) + L"/dial?to={number}&x=1\" --http-user alice --http-password \"pa ss:w0rd\"" +
                              c.extra));
    ASSERT_EQ("dial-service: listening on 127.0.0.1:20120", service.FirstLine(10000));
    Client client;
    client.Send(20120, "dial *31%23,,0555p1");
    EXPECT_EQ("ok", client.Receive());
    DWORD exitCode = 0;
    std::string output = service.Finish(20000, &exitCode);
    std::vector<Recorded> requests = record.Requests();
    ASSERT_EQ(2u, requests.size()) << output;
    EXPECT_EQ("GET /dial?to=%2A31%23%2C%2C0555p1&x=1 HTTP/1.1", RequestLine(requests[1]));
    EXPECT_EQ("valid", requests[1].auth) << Header(requests[1], "Authorization");
    std::string authorization = Header(requests[1], "Authorization");
    if (*c.algorithm)
      EXPECT_NE(std::string::npos, authorization.find(c.algorithm)) << authorization;
    else
      EXPECT_EQ(std::string::npos, authorization.find("qop")) << "no qop when the server offers none";
    EXPECT_NE(std::string::npos, output.find(": 200 OK in ")) << output;
  }
}

// Every failure is logged with its reason, the dialer is answered at once all
// the same, and the service serves on.
TEST(HttpBridge, FailuresAreLoggedAndTheServiceServesOn) {
  struct Case {
    std::wstring options;
    std::string logged;
  };
  const Case cases[] = {
      {L"http://127.0.0.1:" + Port(kNothingPort) + L"/dial?n={number}", "not sent after"},
      {L"http://127.0.0.1:" + Port(kBasicPort) + L"/dial?n={number} --http-user alice --http-password wrong",
       "401 Unauthorized in"},
      {L"http://127.0.0.1:" + Port(kBasicPort) + L"/dial?n={number}", "401 Unauthorized in"},
      {L"http://127.0.0.1:" + Port(kStatus500Port) + L"/dial?n={number}", "500 Internal Server Error in"},
      {L"http://127.0.0.1:" + Port(kSlowPort) + L"/dial?n={number} --http-timeout 1000", "no answer within 1000 ms"},
      {L"https://127.0.0.1:" + Port(kTlsOpenPort) + L"/dial?n={number}", "not sent after"},
      {L"https://127.0.0.1:" + Port(kTlsOpenPort) + L"/dial?n={number} --http-insecure", "200 OK in"},
      {L"http://127.0.0.1:" + Port(kHostileStatusPort) + L"/dial?n={number}", "502 Bad Gateway "},
  };
  const std::string reasons[] = {
      "the server cannot be reached (nothing listens there)",
      "the server refused the credentials",
      "the server asks for a user name and password (--http-user)",
      "the server did not accept the request",
      ": the phone may still dial",
      "(--http-insecure accepts a phone's self-signed certificate)",
      "",
      "bytes) in ",
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
    const Case& c = cases[i];
    SCOPED_TRACE(testing::PrintToString(c.options));
    ServiceProcess service;
    ASSERT_TRUE(service.Start(L"--port 20121 --count 2 --http " + c.options));
    ASSERT_EQ("dial-service: listening on 127.0.0.1:20121", service.FirstLine(10000));
    Client client;
    DWORD sent = GetTickCount();
    client.Send(20121, "dial 0555501230");
    EXPECT_EQ("ok", client.Receive());
    EXPECT_LT(GetTickCount() - sent, 1500u) << "the dialer never waits for the phone";
    ASSERT_TRUE(service.WaitForText("http 0555501230: ", 20000)) << service.Output();
    client.Send(20121, "ping");
    EXPECT_EQ("pong", client.Receive()) << "still serving";
    client.Send(20121, "dial 1");
    EXPECT_EQ("ok", client.Receive());
    DWORD exitCode = 0;
    std::string output = service.Finish(30000, &exitCode);
    EXPECT_EQ(0u, exitCode) << output;
    size_t at = output.find("http 0555501230: ");
    ASSERT_NE(std::string::npos, at) << output;
    std::string line = output.substr(at, output.find('\n', at) - at);
    EXPECT_NE(std::string::npos, line.find(c.logged)) << line;
    EXPECT_NE(std::string::npos, line.find(reasons[i])) << line;
    // Whatever the server's phrase holds reaches the log escaped and cut.
    for (const std::string& hidden : {std::string("\xC2\x81"), std::string("\xC2\x9D"), std::string("\xC2\x85"),
                                     std::string("\xE2\x80\xAE"), std::string(201, 'x')})
      EXPECT_EQ(std::string::npos, line.find(hidden)) << line;
    EXPECT_NE(std::string::npos, output.find("http 1: ")) << "the next number is requested too\n" << output;
  }
}

// What the service holds, seen from outside: its handles (from the system's
// handle table) and the anonymous memory of its Linux process under Wine, read
// from /proc through drive Z:. GetProcessMemoryInfo and GetProcessHandleCount
// return zeros under Wine 8.
struct Usage {
  unsigned long handles;
  unsigned long anonymousKb;
};

struct HandleEntry {
  ULONG ownerProcessId;
  UCHAR objectType;
  UCHAR flags;
  USHORT handle;
  void* object;
  ACCESS_MASK access;
};

unsigned long HandlesOf(DWORD processId) {
  typedef LONG(WINAPI * QuerySystem)(ULONG, void*, ULONG, ULONG*);
  auto query = reinterpret_cast<QuerySystem>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  const ULONG kSystemHandleInformation = 16;
  std::vector<char> buffer(1 << 20);
  ULONG needed = 0;
  while (query(kSystemHandleInformation, buffer.data(), ULONG(buffer.size()), &needed) == LONG(0xC0000004))
    buffer.resize(buffer.size() * 2);
  ULONG count = *reinterpret_cast<ULONG*>(buffer.data());
  const HandleEntry* entries = reinterpret_cast<const HandleEntry*>(buffer.data() + sizeof(void*));
  unsigned long owned = 0;
  for (ULONG i = 0; i < count; i++)
    if (entries[i].ownerProcessId == processId) owned++;
  return owned;
}

// The Linux process whose command line names program (a name no other process has).
std::wstring LinuxProcessFolder(const std::string& program) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &found);
  if (search == INVALID_HANDLE_VALUE) return L"";
  std::wstring folder;
  do {
    if (found.cFileName[0] < L'1' || found.cFileName[0] > L'9') continue;
    std::wstring candidate = std::wstring(L"Z:\\proc\\") + found.cFileName;
    if (ReadWholeFile(candidate + L"\\cmdline").find(program) != std::string::npos) folder = candidate;
  } while (folder.empty() && FindNextFileW(search, &found));
  FindClose(search);
  return folder;
}

Usage UsageOf(HANDLE process, const std::wstring& linuxFolder) {
  std::string status = ReadWholeFile(linuxFolder + L"\\status");
  size_t at = status.find("RssAnon:");
  unsigned long kb = at == std::string::npos ? 0 : strtoul(status.c_str() + at + 8, nullptr, 10);
  return Usage{HandlesOf(GetProcessId(process)), kb};
}

TEST(HttpBridge, FiftyClicksInARowEachRequestedOnceInOrderWithoutLeaking) {
  Record record;
  // A copy with a name of its own, so that its Linux process can be found.
  wchar_t temp[MAX_PATH];
  ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
  std::string name = "dial-service-leak-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
  std::wstring copy = std::wstring(temp) + std::wstring(name.begin(), name.end()) + L".exe";
  ASSERT_TRUE(CopyFileW(DialServicePath().c_str(), copy.c_str(), FALSE));
  ServiceProcess service;
  ASSERT_TRUE(service.Start(L"--port 20000 --count 70 --max-calls 0 --http http://127.0.0.1:" + Port(kOpenPort) + L"/dial/{number}",
                            copy));
  ASSERT_EQ("dial-service: listening on 127.0.0.1:20000", service.FirstLine(10000));
  std::wstring linuxFolder = LinuxProcessFolder(name);
  ASSERT_NE(L"", linuxFolder);
  std::vector<std::string> expected;
  Usage afterTen = {};
  for (int i = 0; i < 50; i++) {
    std::string number = "05555" + std::to_string(10000 + i);
    expected.push_back("GET /dial/" + number + " HTTP/1.1");
    EXPECT_EQ(0, Click(std::wstring(number.begin(), number.end())));
    if (i == 9) {
      record.Await(10, 10000);
      afterTen = UsageOf(service.Handle(), linuxFolder);
    }
  }
  std::vector<Recorded> requests = record.Await(50, 20000);
  Usage afterFifty = UsageOf(service.Handle(), linuxFolder);
  // Twenty more at once, straight onto the port: none is lost while the
  // worker is busy with the others.
  Client client;
  for (int i = 0; i < 20; i++) client.Send(20000, "dial 0777" + std::to_string(100 + i));
  for (int i = 0; i < 20; i++) EXPECT_EQ("ok", client.Receive());
  for (int i = 0; i < 20; i++) expected.push_back("GET /dial/0777" + std::to_string(100 + i) + " HTTP/1.1");
  DWORD exitCode = 0;
  std::string output = service.Finish(60000, &exitCode);
  EXPECT_EQ(0u, exitCode);
  requests = record.Requests();
  std::vector<std::string> lines;
  for (const Recorded& request : requests) lines.push_back(RequestLine(request));
  EXPECT_EQ(expected, lines) << output;
  EXPECT_EQ(70u, Count(output, ": 200 OK in ")) << output;
  // Generous bounds, yet a handle or a few kilobytes kept per request would
  // exceed them within forty requests.
  EXPECT_GT(afterTen.handles, 0u);
  EXPECT_LE(afterFifty.handles, afterTen.handles + 10) << afterTen.handles << " -> " << afterFifty.handles;
  EXPECT_GT(afterTen.anonymousKb, 0u);
  EXPECT_LE(afterFifty.anonymousKb, afterTen.anonymousKb + 512)
      << afterTen.anonymousKb << " kB -> " << afterFifty.anonymousKb << " kB";
  printf("service after 10 clicks: %lu handles, %lu kB anonymous memory; after 50: %lu handles, %lu kB\n",
         afterTen.handles, afterTen.anonymousKb, afterFifty.handles, afterFifty.anonymousKb);
  DeleteFileW(copy.c_str());
}
