// The service's request against servers that misbehave and against real
// phones' web servers: nothing for another host, nothing cut, no stall, one
// request per click. run_server_tests.sh starts apache2, lighttpd and nginx
// (servers/servers.sh) and http_test_server.py around this program.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "http_record_win.h"
#include "service_process_win.h"
#include "service_usage_win.h"

namespace {

const wchar_t kCredentials[] = L" --http-user alice --http-password \"pa ss:w0rd\"";

// --http with the URL of the server on port (--http-insecure for TLS, but
// where the certificate's check is the point).
std::wstring Url(int port, const wchar_t* path = L"/dial", const wchar_t* host = L"127.0.0.1") {
  bool checked = port == kUnknownIssuerTlsPort;
  bool tls = port == kNginxPort || port == kTlsRedirectPort || checked;
  return (tls ? L"https://" : L"http://") + std::wstring(host) + L":" + Port(port) + path + L"?n={number}" +
         (tls && !checked ? L" --http-insecure" : L"");
}

std::wstring ServersFolder() {
  wchar_t unixPath[1024];
  DWORD length = GetEnvironmentVariableW(L"HTTP_TEST_SERVERS", unixPath, 1024);
  return length == 0 || length >= 1024 ? L"" : WindowsPath(unixPath);
}

// The driver script stops or starts a real server ("stop nginx"); false when
// it did not within 15 s.
bool AskServers(const std::string& request) {
  std::wstring folder = ServersFolder();
  HANDLE file = CreateFileW((folder + L"\\request.new").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  std::string line = request + "\n";
  WriteFile(file, line.data(), DWORD(line.size()), &written, nullptr);
  CloseHandle(file);
  // Renamed when whole, so that the script never reads half a request.
  if (!MoveFileExW((folder + L"\\request.new").c_str(), (folder + L"\\request").c_str(), MOVEFILE_REPLACE_EXISTING))
    return false;
  for (int i = 0; i < 150; i++, Sleep(100))
    if (GetFileAttributesW((folder + L"\\request").c_str()) == INVALID_FILE_ATTRIBUTES) return true;
  return false;
}

// The statuses a server answered with from now on, in order: "401 200 200".
// The real servers' come from their access logs, lighttpd's a few seconds late.
class Answers {
 public:
  explicit Answers(int port) : port_(port), logStart_(Log().size()) {}
  std::string Statuses(size_t expected) {
    std::vector<std::string> statuses;
    for (DWORD start = GetTickCount(); statuses.size() < expected && GetTickCount() - start < 10000; Sleep(250))
      statuses = Read();
    Sleep(1000);
    std::string joined;
    for (const std::string& status : Read()) joined += (joined.empty() ? "" : " ") + status;
    return joined;
  }

 private:
  std::string Log() {
    const wchar_t* name = port_ == kApachePort ? L"apache" : port_ == kLighttpdPort ? L"lighttpd" : L"nginx";
    return ReadWholeFile(ServersFolder() + L"\\" + name + L"\\access.log");
  }
  std::vector<std::string> Read() {
    std::vector<std::string> statuses;
    if (port_ != kApachePort && port_ != kLighttpdPort && port_ != kNginxPort) {
      for (const Recorded& request : record_.Requests())
        if (request.port == port_) statuses.push_back(std::to_string(request.answer));
      return statuses;
    }
    for (const std::string& line : Lines(Log().substr(logStart_))) statuses.push_back(line.substr(0, 3));
    return statuses;
  }
  int port_;
  size_t logStart_;
  Record record_;
};

// Connections on port, as /proc/net/tcp lists them ESTABLISHED: the server's
// ends, or (clientSide) the ends connected to it, which apache has not
// accepted until the first request's bytes come.
size_t EstablishedAt(int port, bool clientSide = false) {
  size_t count = 0;
  for (const std::string& line : Lines(ReadWholeFile(L"Z:\\proc\\net\\tcp"))) {
    unsigned localPort = 0, remotePort = 0, state = 0;
    if (sscanf(line.c_str(), " %*d: %*[0-9A-F]:%x %*[0-9A-F]:%x %x", &localPort, &remotePort, &state) == 3)
      count += (clientSide ? remotePort : localPort) == unsigned(port) && state == 1;
  }
  return count;
}

class Service {
 public:
  explicit Service(const std::wstring& options, const std::wstring& program = DialServicePath()) {
    started_ = process_.Start(L"--port 20130 --max-calls 0 --http " + options, program) &&
               process_.FirstLine(10000) == "dial-service: listening on 127.0.0.1:20130";
  }
  bool Started() const { return started_; }
  ServiceProcess& Process() { return process_; }
  void Dial(const std::string& number) {
    client_.Send(20130, "dial " + number);
    EXPECT_EQ("ok", client_.Receive());
  }
  // The log line about number from "http NUMBER: " on, waiting up to timeoutMs; "" when none came.
  std::string HttpLine(const std::string& number, DWORD timeoutMs) {
    std::string start = "http " + number + ": ";
    if (!process_.WaitForText(start, timeoutMs)) return "";
    std::string output;
    for (int i = 0; i < 20 && output.find('\n', output.find(start)) == std::string::npos; i++, Sleep(50))
      output = process_.Output();
    size_t at = output.find(start);
    return output.substr(at, output.find('\n', at) - at);
  }

 private:
  ServiceProcess process_;
  Client client_;
  bool started_;
};

}  // namespace

// Each server answers three numbers in a row; each line comes within the
// deadline, memory stays flat, and nothing reaches the host a redirect names.
TEST(HttpHardening, HostileAndSlowServersEndWithinTheDeadlineAndLeakNothing) {
  struct Case {
    int port;
    DWORD timeoutMs;
    const char* starts;  // the line after "http NUMBER: "
    const char* ends;
    const wchar_t* host;  // null: 127.0.0.1
  };
  const Case cases[] = {
      {kRedirectPort, 5000, "302 Found in ", " ms: redirected to http://127.0.0.2:18602/first, not followed"},
      {kTlsRedirectPort, 5000, "302 Found in ", " ms: redirected to http://127.0.0.2:18602/first, not followed"},
      {kDigestUnanswerablePort, 5000, "401 Unauthorized in ",
       "); Basic is never sent to a server that offers Digest"},
      {kEndlessHeadersPort, 2000, "the answer's headers exceed 65536 bytes, after ", " ms: the phone may still dial"},
      {kDripPort, 2000, "no answer within 2000 ms: the phone may still dial", ""},
      {kSlowPort, 1000, "no answer within 1000 ms: the phone may still dial", ""},
      // Neither the chain check nor a name lookup has a deadline of its own:
      // the issuer's certificate is fetched from a server that never answers.
      {kUnknownIssuerTlsPort, 2000, "not sent after ",
       " ms: the server's certificate could not be checked within --http-timeout (error 10060)"},
      // Offline, a lookup fails at once rather than hanging on a DNS server
      // that never answers, so this row shows only the lookup's own thread
      // leaving nothing behind; it is left at the deadline as the chain check is.
      {kOpenPort, 2000, "not sent after ", "the host name is not known (error 1100", L"teldial-test.invalid"},
  };
  for (const Case& c : cases) {
    std::wstring url = Url(c.port, L"/dial", c.host ? c.host : L"127.0.0.1");
    SCOPED_TRACE(testing::PrintToString(url));
    Record record;
    std::string name;
    std::wstring copy = UniqueServiceCopy(&name);
    Service service(url + kCredentials + L" --http-header \"X-Api-Key: k3y\" --http-timeout " +
                        std::to_wstring(c.timeoutMs),
                    copy);
    ASSERT_TRUE(service.Started()) << service.Process().Output();
    std::wstring linuxFolder = LinuxProcessFolder(name);
    Usage first = {};
    DWORD previous = GetTickCount();
    for (const char* number : {"0555501", "0555502", "0555503"}) service.Dial(number);
    for (const char* number : {"0555501", "0555502", "0555503"}) {
      std::string line = service.HttpLine(number, c.timeoutMs + 10000);
      DWORD took = GetTickCount() - previous;
      previous = GetTickCount();
      if (line.empty()) {
        ADD_FAILURE() << "no line for " << number << " within " << c.timeoutMs + 10000 << " ms";
        continue;
      }
      std::string rest = line.substr(std::min(line.size(), 7 + strlen(number)));
      EXPECT_TRUE(StartsWith(rest, c.starts)) << line;
      EXPECT_NE(std::string::npos, rest.find(c.ends)) << line;
      EXPECT_LT(took, c.timeoutMs + 3000) << "the next number waits for no more than the deadline";
      if (!first.handles) first = UsageOf(service.Process().Handle(), linuxFolder);
    }
    Usage last = UsageOf(service.Process().Handle(), linuxFolder);
    EXPECT_LE(last.anonymousKb, first.anonymousKb + 4096) << first.anonymousKb << " kB -> " << last.anonymousKb;
    EXPECT_LE(last.handles, first.handles + 10) << first.handles << " -> " << last.handles;
    DWORD exitCode = 0;
    std::string output = service.Process().Finish(0, &exitCode);
    EXPECT_EQ(0u, record.Connections(kOtherHostPort)) << output;
    for (const Recorded& request : record.Requests()) {
      EXPECT_NE(kOtherHostPort, request.port) << request.raw;
      if (c.port == kDigestUnanswerablePort) EXPECT_EQ("(none)", Header(request, "Authorization"));
    }
    DeleteFileW(copy.c_str());
  }
}

TEST(HttpHardening, TheLongestDialledNumberArrivesWhole) {
  Record record;
  Service service(Url(kOpenPort) + L" --country 49 --outside 0000 --international-prefix 00000000");
  ASSERT_TRUE(service.Started()) << service.Process().Output();
  // The most digits after a "+", then the longest extension.
  service.Dial("+1" + std::string(14, '2') + "," + std::string(111, '3'));
  std::vector<Recorded> requests = record.Await(1, 10000);
  ASSERT_EQ(1u, requests.size()) << service.Process().Output();
  // The outside and international prefixes, then the number without its "+".
  EXPECT_EQ("GET /dial?n=" + std::string(12, '0') + "1" + std::string(14, '2') + "%2C" + std::string(111, '3') +
                " HTTP/1.1",
            RequestLine(requests[0]));
}

// Counted at each server: the first click draws the challenge, every later
// one costs a single request (a single refused login with a wrong password),
// and a stale nonce is answered once.
TEST(HttpHardening, OneRequestPerClickAfterTheFirst) {
  struct Case {
    int port;
    const wchar_t* path;
    const wchar_t* password;
    int clicks;
    DWORD pauseBeforeLastMs;
    const char* statuses;
  };
  const Case cases[] = {
      {kApachePort, L"/dial", L"pa ss:w0rd", 4, 0, "401 200 200 200 200"},
      {kLighttpdPort, L"/dial", L"pa ss:w0rd", 4, 0, "401 200 200 200 200"},
      {kNginxPort, L"/dial", L"pa ss:w0rd", 4, 0, "401 200 200 200 200"},
      {kApachePort, L"/dial", L"wrong", 4, 0, "401 401 401 401 401"},
      {kNginxPort, L"/dial", L"wrong", 4, 0, "401 401 401 401 401"},
      // A nonce serves two requests; apache's under /dial/stale lives 3 s.
      {kDigestStalePort, L"/dial", L"pa ss:w0rd", 4, 0, "401 200 200 401 200 200"},
      {kApachePort, L"/dial/stale", L"pa ss:w0rd", 3, 4500, "401 200 200 401 200"},
      // A kept nonce that turns out stale gets one fresh try, never more; a
      // fresh one that does is not tried again.
      {kDigestAlwaysStalePort, L"/dial", L"pa ss:w0rd", 3, 0, "401 401 401 401 401 401"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(Url(c.port, c.path) + L" " + c.password));
    Answers answers(c.port);
    Service service(Url(c.port, c.path) + L" --http-user alice --http-password \"" + c.password + L"\"");
    ASSERT_TRUE(service.Started()) << service.Process().Output();
    for (int i = 1; i <= c.clicks; i++) {
      if (i == c.clicks) Sleep(c.pauseBeforeLastMs);
      std::string number = "055550" + std::to_string(i);
      service.Dial(number);
      EXPECT_NE("", service.HttpLine(number, 15000)) << service.Process().Output();
    }
    DWORD exitCode = 0;
    std::string output = service.Process().Finish(0, &exitCode);
    std::string expected = c.statuses;
    EXPECT_EQ(expected, answers.Statuses(size_t(std::count(expected.begin(), expected.end(), ' ') + 1))) << output;
  }
}

TEST(HttpHardening, TheWarmConnectionIsMadeAgainAfterTheServerRestarts) {
  Answers answers(kNginxPort);
  Service service(Url(kNginxPort) + kCredentials);
  ASSERT_TRUE(service.Started()) << service.Process().Output();
  auto awaitConnection = [](DWORD timeoutMs) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(250))
      if (EstablishedAt(kNginxPort) > 0) return true;
    return false;
  };
  EXPECT_TRUE(awaitConnection(10000)) << "opened at start";
  ASSERT_TRUE(AskServers("stop nginx"));
  EXPECT_EQ(0u, EstablishedAt(kNginxPort));
  Sleep(1000);
  ASSERT_TRUE(AskServers("start nginx"));
  EXPECT_TRUE(awaitConnection(40000)) << "opened again, with no click, within 30 s of the failed attempt";
  EXPECT_EQ("", answers.Statuses(0)) << "no request was made";
}

// The phone's server stops while the service keeps a connection to it: a
// click 2 s later finds that connection closed and says the number was not
// sent (not that the phone may still dial), and the click after the server is
// back is served. nginx closes its connections as it stops; apache never
// accepted the kept one (it waits for a request's first bytes), so only the
// reset that a keep-alive probe draws shows it gone. Wine maps the probes'
// timing onto Linux's; Windows sends them as SIO_KEEPALIVE_VALS documents,
// which is what the 2 s leave room for.
TEST(HttpHardening, AClickAfterThePhoneStoppedIsNotSentAndTheNextIsServed) {
  struct Case {
    int port;
    const char* server;
  };
  const Case cases[] = {{kNginxPort, "nginx"}, {kApachePort, "apache"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.server);
    Service service(Url(c.port) + kCredentials);
    ASSERT_TRUE(service.Started()) << service.Process().Output();
    for (DWORD start = GetTickCount(); EstablishedAt(c.port, true) == 0 && GetTickCount() - start < 10000;) Sleep(250);
    ASSERT_LT(0u, EstablishedAt(c.port, true)) << "the warm connection";
    ASSERT_TRUE(AskServers(std::string("stop ") + c.server));
    Sleep(2000);
    service.Dial("0555501");
    std::string line = service.HttpLine("0555501", 15000);
    EXPECT_TRUE(StartsWith(line, "http 0555501: not sent after ")) << line;
    EXPECT_EQ(std::string::npos, line.find("may still dial")) << line;
    ASSERT_TRUE(AskServers(std::string("start ") + c.server));
    service.Dial("0555502");
    line = service.HttpLine("0555502", 15000);
    EXPECT_NE(std::string::npos, line.find(": 200 OK in ")) << line;
  }
}
