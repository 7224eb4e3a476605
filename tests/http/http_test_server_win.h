#pragma once
// What http_test_server.py (started by run_http_tests.sh) recorded of the
// requests made to it, and a click of the real teldial.exe that causes them.
#include <windows.h>

#include <string>
#include <vector>

struct Recorded {
  int port;
  int answer;
  std::string auth;  // the server's verdict on the credentials
  std::string raw;   // request line, headers, empty line, body
};

// The server's record from a point on: each test reads only what it caused.
class Record {
 public:
  Record();
  std::vector<Recorded> Requests();
  // Waits until count requests are recorded (or timeoutMs passed).
  std::vector<Recorded> Await(size_t count, DWORD timeoutMs);

 private:
  size_t start_;
};

std::string RequestLine(const Recorded& request);
std::string Header(const Recorded& request, const std::string& name);  // "(none)" when missing
std::string Body(const Recorded& request);

// The whole file ("" when it cannot be read), also while another process writes it.
std::string ReadWholeFile(const std::wstring& path);

// teldial.exe with its argument as a browser hands it over; its exit code.
long Click(const std::wstring& argument);
