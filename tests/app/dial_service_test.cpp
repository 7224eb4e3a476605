// The reference dial service: its request parsing, and the real dial-service.exe
// answering, ignoring and logging what arrives on its port.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <string>
#include <vector>

#include "fake_dial_service_win.h"
#include "service/dial_requests.h"

#ifndef DIAL_SERVICE_EXE
#error "DIAL_SERVICE_EXE must name the built dial-service.exe"
#endif

namespace {
// dial-service.exe with its output in a pipe.
struct ServiceProcess {
  HANDLE process = nullptr;
  HANDLE output = nullptr;
};

bool StartService(const std::wstring& options, ServiceProcess* service) {
  std::wstring program = L"Z:" DIAL_SERVICE_EXE;
  for (wchar_t& c : program)
    if (c == L'/') c = L'\\';
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return false;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  std::wstring line = L"\"" + program + L"\" " + options;
  std::vector<wchar_t> text(line.begin(), line.end());
  text.push_back(0);
  PROCESS_INFORMATION info = {};
  BOOL started = CreateProcessW(program.c_str(), text.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                nullptr, &startup, &info);
  CloseHandle(writeEnd);
  if (!started) {
    CloseHandle(readEnd);
    return false;
  }
  CloseHandle(info.hThread);
  service->process = info.hProcess;
  service->output = readEnd;
  return true;
}

// Everything the service printed until it ended (or was ended after timeoutMs),
// and its exit code.
std::string CollectOutput(ServiceProcess* service, DWORD timeoutMs, DWORD* exitCode) {
  if (WaitForSingleObject(service->process, timeoutMs) != WAIT_OBJECT_0) TerminateProcess(service->process, 99);
  WaitForSingleObject(service->process, 5000);
  GetExitCodeProcess(service->process, exitCode);
  std::string output;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(service->output, chunk, sizeof chunk, &got, nullptr) && got > 0) output.append(chunk, got);
  CloseHandle(service->output);
  CloseHandle(service->process);
  return output;
}

// The first line of the output, read while the service runs.
std::string ReadFirstLine(HANDLE output) {
  std::string line;
  char c = 0;
  DWORD got = 0;
  while (ReadFile(output, &c, 1, &got, nullptr) && got == 1 && c != '\n') line += c;
  return line;
}

class Client {
 public:
  Client() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    socket_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    DWORD waitMs = 2000;
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&waitMs), sizeof waitMs);
  }
  ~Client() {
    closesocket(socket_);
    WSACleanup();
  }
  void Send(int port, const std::string& bytes) {
    sockaddr_in peer = {};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(u_short(port));
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(socket_, bytes.data(), int(bytes.size()), 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
  }
  // The next answer, or "(none)" after 2 s.
  std::string Receive() {
    char buffer[65536];
    int received = recv(socket_, buffer, sizeof buffer, 0);
    return received < 0 ? "(none)" : std::string(buffer, size_t(received));
  }

 private:
  SOCKET socket_;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// "2024-05-01 12:34:56.789 " and the rest of the line.
bool HasTimeStamp(const std::string& line) {
  if (line.size() < 24) return false;
  const char* pattern = "dddd-dd-dd dd:dd:dd.ddd ";
  for (size_t i = 0; i < 24; i++)
    if (pattern[i] == 'd' ? !isdigit((unsigned char)line[i]) : line[i] != pattern[i]) return false;
  return true;
}
}  // namespace

TEST(DialRequests, RecognisedByTheirExactBytes) {
  struct Case {
    std::string datagram;
    RequestKind kind;
    std::string number;
  };
  const Case cases[] = {
      {"ping", kRequestPing, ""},
      {"dial 0555501230", kRequestDial, "0555501230"},
      {"dial ", kRequestDial, ""},
      {std::string("dial 05\0x", 9), kRequestDial, std::string("05\0x", 4)},
      {"PING", kRequestIgnored, ""},
      {"ping ", kRequestIgnored, ""},
      {std::string("ping\0", 5), kRequestIgnored, ""},
      {"pin", kRequestIgnored, ""},
      {"dial", kRequestIgnored, ""},
      {"Dial 0555", kRequestIgnored, ""},
      {"", kRequestIgnored, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Printable(c.datagram));
    Request request = ParseRequest(c.datagram.data(), c.datagram.size());
    EXPECT_EQ(c.kind, request.kind);
    if (c.kind == kRequestDial) EXPECT_EQ(c.number, std::string(request.number, request.numberLength));
  }
}

TEST(DialRequests, LoggedNumbersStayOnOneLine) {
  struct Case {
    std::string number;
    std::string logged;
  };
  const Case cases[] = {
      {"+49 5555 0123-0", "+49 5555 0123-0"},
      {"M\xC3\xBCller", "M\xC3\xBCller"},
      {"1\n2025-01-01 00:00:00.000 dial 2", "1\\x0A2025-01-01 00:00:00.000 dial 2"},
      {std::string("a\0b\r\x7F\\", 6), "a\\x00b\\x0D\\x7F\\x5C"},
      {"", ""},
  };
  for (const Case& c : cases) {
    char text[128];
    EXPECT_EQ(c.logged.size(), FormatNumberForLog(c.number.data(), c.number.size(), text, sizeof text));
    EXPECT_EQ(c.logged, std::string(text));
  }
  char small[6];
  EXPECT_EQ(2u, FormatNumberForLog("12\n34", 5, small, sizeof small)) << "an escape is never cut";
  EXPECT_EQ("12", std::string(small, 2));
}

TEST(DialServiceProgram, AnswersPingAndDialAndIgnoresTheRest) {
  const int port = 20005;
  ASSERT_TRUE(PortIsFree(port)) << "port " << port << " is taken by another program";
  ServiceProcess service;
  ASSERT_TRUE(StartService(L"--port 20005 --count 2", &service));
  EXPECT_EQ("dial-service: listening on 127.0.0.1:20005", ReadFirstLine(service.output));

  Client client;
  const std::string ignored[] = {"", "PING", "pong", std::string("\0\xFF\x80ping", 7), std::string(65507, 'g'),
                                 "dial"};
  for (const std::string& datagram : ignored) client.Send(port, datagram);
  client.Send(port, "ping");
  EXPECT_EQ("pong", client.Receive()) << "nothing else may come before";
  client.Send(port, "dial 0555501230");
  EXPECT_EQ("ok", client.Receive());
  client.Send(port, std::string("dial +49\n(0)\0", 13));
  EXPECT_EQ("ok", client.Receive());

  DWORD exitCode = 0;
  std::vector<std::string> lines = Lines(CollectOutput(&service, 10000, &exitCode));
  EXPECT_EQ(0u, exitCode) << "ends by itself after --count commands";
  ASSERT_EQ(2u, lines.size()) << testing::PrintToString(lines);
  EXPECT_TRUE(HasTimeStamp(lines[0]) && HasTimeStamp(lines[1])) << lines[0];
  const std::string expected[] = {"dial 0555501230 (from port ", "dial +49\\x0A(0)\\x00 (from port "};
  for (int i = 0; i < 2; i++) EXPECT_EQ(expected[i], lines[i].substr(24, expected[i].size()));
}

TEST(DialServiceProgram, TakesTheFirstFreePortOfTheRange) {
  FakeServices occupied;
  ASSERT_TRUE(occupied.ListenRange(kFirstServicePort, kFirstServicePort + 2, SilentService()))
      << "ports 20000-20001 are taken by another program";
  ASSERT_TRUE(PortIsFree(kFirstServicePort + 2));
  ServiceProcess service;
  ASSERT_TRUE(StartService(L"--count 1", &service));
  EXPECT_EQ("dial-service: listening on 127.0.0.1:20002", ReadFirstLine(service.output));
  Client client;
  client.Send(kFirstServicePort + 2, "dial 1");
  EXPECT_EQ("ok", client.Receive());
  DWORD exitCode = 0;
  CollectOutput(&service, 10000, &exitCode);
  EXPECT_EQ(0u, exitCode);
}

TEST(DialServiceProgram, RefusesBadOptionsAndATakenPort) {
  FakeServices occupied;
  ASSERT_TRUE(occupied.Listen(20007, SilentService()));
  struct Case {
    const wchar_t* options;
    DWORD exitCode;
  };
  const Case cases[] = {{L"--port", 2}, {L"--port 0", 2}, {L"--port 70000", 2}, {L"--count x", 2},
                        {L"--colour", 2}, {L"--port 20007", 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.options)));
    ServiceProcess service;
    ASSERT_TRUE(StartService(c.options, &service));
    DWORD exitCode = 0;
    std::string output = CollectOutput(&service, 10000, &exitCode);
    EXPECT_EQ(c.exitCode, exitCode) << output;
    EXPECT_EQ(std::string::npos, output.find("listening")) << output;
  }
}
