#pragma once
// The HTTP tests' view of http_test_server.py's record (the file named by
// HTTP_TEST_RECORD): each request exactly as it came, with the server's
// verdict on its credentials.
#include <windows.h>

#include <string>
#include <vector>

#include "service_process_win.h"

// The test server's ports; see run_http_tests.sh.
const int kBasicPort = 18431;
const int kDigestPort = 18432;
const int kDigestMd5Port = 18433;
const int kDigest2617Port = 18434;
const int kStatus500Port = 18435;
const int kSlowPort = 18436;
const int kTlsOpenPort = 18437;
const int kOpenPort = 18438;
const int kNothingPort = 18439;
const int kTlsDigestPort = 18440;
const int kTlsBasicPolycomPort = 18441;  // Basic for the user Polycom
const int kHostileStatusPort = 18442;    // a long reason phrase with hidden controls
const int kRedirectPort = 18443;         // Basic, then 302 to kOtherHostPort on 127.0.0.2
const int kDigestUnanswerablePort = 18444;  // Digest SHA-512-256 and Basic offered
const int kEndlessHeadersPort = 18445;
const int kDripPort = 18446;             // one byte every 2 s
const int kDigestStalePort = 18447;      // a nonce serves two requests, then is stale
const int kTlsRedirectPort = 18448;
const int kDigestAlwaysStalePort = 18449;  // every nonce is stale once used
// TLS, with a certificate whose issuer is to be fetched from kSilentPort.
const int kUnknownIssuerTlsPort = 18458;
const int kSilentPort = 18459;           // reads a request and never answers
const int kOtherHostPort = 18602;        // on 127.0.0.2: whatever arrives is recorded
// The real servers; see servers/servers.sh.
const int kApachePort = 18455;    // Digest MD5 (a nonce under /dial/stale lives 3 s)
const int kLighttpdPort = 18456;  // Digest SHA-256
const int kNginxPort = 18457;     // TLS, Basic

struct Recorded {
  int port;
  int answer;
  std::string auth;  // the server's verdict on the credentials
  std::string raw;   // request line, headers, empty line, body
};

std::string ReadWholeFile(const std::wstring& path);

// The server's record from a point on: each test reads only what it caused.
class Record {
 public:
  Record();
  std::vector<Recorded> Requests();
  size_t Connections(int port);
  // Waits until count requests are recorded (or timeoutMs passed).
  std::vector<Recorded> Await(size_t count, DWORD timeoutMs);

 private:
  size_t start_;
  std::vector<int> connections_;  // the port of each connection accepted, as Requests() last read them
};

std::string RequestLine(const Recorded& request);
// The value of the header, or "(none)".
std::string Header(const Recorded& request, const std::string& name);
std::string Body(const Recorded& request);

// teldial.exe with its argument as a browser hands it over; its exit code.
long Click(const std::wstring& argument);

std::wstring Port(int port);

// The service on port 20000 for one command, the browser's example link
// (dialled +49555501230) clicked once; the service's whole output when it has ended.
std::string ServeTheExampleClick(ServiceProcess* service);

// dial-service.exe run to its end (standard input holding input, when given);
// its output, standard error included.
std::string RunDialService(const std::wstring& options, DWORD* exitCode, const std::string* input = nullptr);
