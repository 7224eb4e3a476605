// Every --phone preset end to end against http_test_server.py: what
// --show-request says, the request a click makes (method, path, query, the
// preset's headers, body and credentials exactly as the server got them), and
// --test-call's outcome and exit code.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "http_record_win.h"
#include "service_process_win.h"

namespace {
const char kSoapBody[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>"
    "<u:X_AVM-DE_DialNumber xmlns:u=\"urn:dslforum-org:service:X_VoIP:1\">"
    "<NewX_AVM-DE_PhoneNumber>+49555501230</NewX_AVM-DE_PhoneNumber></u:X_AVM-DE_DialNumber></s:Body></s:Envelope>";

const wchar_t kCredentials[] = L" --http-user alice --http-password \"pa ss:w0rd\"";
const wchar_t kPasswordOnly[] = L" --http-password \"pa ss:w0rd\"";

struct PresetCase {
  const wchar_t* kind;
  int port;
  std::wstring options;
  const char* shownUrl;      // --show-request's first line after the method
  const char* requestLine;
  const char* contentType;   // "(none)" when the preset sends none
  const char* soapAction;
  std::string body;
  const char* auth;          // the server's verdict on the last request
};

// The options for kind at the test server's port, each run on its own.
std::wstring PhoneOptions(const PresetCase& c) {
  return L"--no-settings --phone " + std::wstring(c.kind) + L" --phone-address 127.0.0.1:" + Port(c.port) + c.options;
}
}  // namespace

TEST(PhonePresets, EachPresetRequestsAsItsMakerDocuments) {
  const PresetCase cases[] = {
      {L"yealink", kDigestPort, std::wstring(kCredentials) + L" --phone-account 201@pbx",
       "GET http://127.0.0.1:18432/servlet?key=number=%2B49555501230&outgoing_uri=201%40pbx",
       "GET /servlet?key=number=%2B49555501230&outgoing_uri=201%40pbx HTTP/1.1", "(none)", "(none)", "", "valid"},
      {L"snom", kBasicPort, kCredentials, "GET http://127.0.0.1:18431/command.htm?number=%2B49555501230",
       "GET /command.htm?number=%2B49555501230 HTTP/1.1", "(none)", "(none)", "", "valid"},
      {L"grandstream", kOpenPort, std::wstring(kPasswordOnly) + L" --phone-line 2",
       "GET http://127.0.0.1:18438/cgi-bin/api-make_call?passcode=***&phonenumber=%2B49555501230&account=1",
       "GET /cgi-bin/api-make_call?passcode=pa%20ss%3Aw0rd&phonenumber=%2B49555501230&account=1 HTTP/1.1", "(none)",
       "(none)", "", "none"},
      {L"poly", kTlsBasicPolycomPort, std::wstring(kPasswordOnly) + L" --phone-line 2 --http-insecure",
       "POST https://127.0.0.1:18441/api/v1/callctrl/dial", "POST /api/v1/callctrl/dial HTTP/1.1", "application/json",
       "(none)", "{\"data\":{\"Dest\":\"+49555501230\",\"Line\":\"2\",\"Type\":\"TEL\"}}", "valid"},
      {L"fritzbox", kDigestPort, kCredentials, "POST http://127.0.0.1:18432/upnp/control/x_voip",
       "POST /upnp/control/x_voip HTTP/1.1", "text/xml; charset=\"utf-8\"",
       "urn:dslforum-org:service:X_VoIP:1#X_AVM-DE_DialNumber", kSoapBody, "valid"},
      {L"asterisk", kBasicPort, std::wstring(kCredentials) + L" --phone-endpoint PJSIP/201",
       "POST http://127.0.0.1:18431/ari/channels?endpoint=PJSIP%2F201&extension=%2B49555501230&context=from-internal"
       "&priority=1",
       "POST /ari/channels?endpoint=PJSIP%2F201&extension=%2B49555501230&context=from-internal&priority=1 HTTP/1.1",
       "(none)", "(none)", "", "valid"},
      {L"baresip", kOpenPort, L"", "GET http://127.0.0.1:18438/?d%2B49555501230", "GET /?d%2B49555501230 HTTP/1.1",
       "(none)", "(none)", "", "none"},
  };
  for (const PresetCase& c : cases) {
    SCOPED_TRACE(Utf8(c.kind));
    bool withPassword = c.options.find(L"pa ss") != std::wstring::npos;
    DWORD exitCode = 99;
    std::string shown = RunDialService(PhoneOptions(c) + L" --show-request \"+49 5555 0123-0\"", &exitCode);
    EXPECT_EQ(0u, exitCode) << shown;
    EXPECT_EQ(std::string(c.shownUrl), shown.substr(0, shown.find('\n'))) << shown;
    EXPECT_EQ(std::string::npos, shown.find("pa ss")) << shown;
    EXPECT_EQ(withPassword, shown.find("***") != std::string::npos) << shown;
    if (!c.body.empty()) EXPECT_NE(std::string::npos, shown.find("\n" + c.body + "\n")) << shown;

    Record record;
    ServiceProcess service;
    ASSERT_TRUE(service.Start(L"--port 20000 --count 1 " + PhoneOptions(c)));
    std::string log = ServeTheExampleClick(&service);
    std::vector<Recorded> requests = record.Requests();
    ASSERT_FALSE(requests.empty()) << log;
    const Recorded& last = requests.back();
    EXPECT_EQ(c.port, last.port);
    EXPECT_EQ(c.requestLine, RequestLine(last));
    EXPECT_EQ(c.contentType, Header(last, "Content-Type"));
    EXPECT_EQ(c.soapAction, Header(last, "SOAPAction"));
    EXPECT_EQ(c.body, Body(last));
    EXPECT_EQ(c.auth, last.auth) << Header(last, "Authorization");
    EXPECT_EQ(200, last.answer);
    EXPECT_EQ(1u, Count(log, "http +49555501230: 200 OK in ")) << log;
    EXPECT_EQ(std::string::npos, log.find("pa ss")) << "the password never reaches the log\n" << log;
    EXPECT_EQ(std::string::npos, log.find("127.0.0.1:" + std::to_string(c.port))) << "nor the URL\n" << log;

    std::string outcome = RunDialService(PhoneOptions(c) + L" --test-call \"+49 5555 0123-0\"", &exitCode);
    EXPECT_EQ(0u, exitCode) << outcome;
    EXPECT_TRUE(StartsWith(outcome, "http +49555501230: 200 OK in ")) << outcome;
  }
}

TEST(PhonePresets, TestCallFailsWithTheReasonTheLogWouldGive) {
  struct FailureCase {
    PresetCase preset;
    const char* outcome;
  };
  const FailureCase cases[] = {
      {{L"fritzbox", kStatus500Port, kCredentials}, "500 Internal Server Error in "},
      {{L"snom", kBasicPort, L" --http-user alice --http-password wrong"}, "401 Unauthorized in "},
  };
  const char* reasons[] = {
      "Click to Dial is off in the router, or no phone is chosen for it",
      "the server refused the credentials",
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
    SCOPED_TRACE(Utf8(cases[i].preset.kind));
    DWORD exitCode = 99;
    std::string outcome = RunDialService(PhoneOptions(cases[i].preset) + L" --test-call 0555501230", &exitCode);
    EXPECT_EQ(1u, exitCode) << outcome;
    EXPECT_TRUE(StartsWith(outcome, std::string("http 0555501230: ") + cases[i].outcome)) << outcome;
    EXPECT_NE(std::string::npos, outcome.find(std::string(" ms: ") + reasons[i] + "\n")) << outcome;
  }
}
