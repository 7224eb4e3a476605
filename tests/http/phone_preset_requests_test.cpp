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

// The request line with the id a dial request gives its call as "{call}".
std::string WithoutCallId(std::string line) {
  size_t at = line.find("channelId=teldial-");
  if (at != std::string::npos) line.replace(at + 10, 40, "{call}");
  return line;
}

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
       "&priority=1&channelId={call}",
       "POST /ari/channels?endpoint=PJSIP%2F201&extension=%2B49555501230&context=from-internal&priority=1"
       "&channelId={call} HTTP/1.1",
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
    EXPECT_EQ(c.requestLine, WithoutCallId(RequestLine(last)));
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

// Each way to hang up as the phone gets it. Asterisk's DELETE names the
// channel id its originate carried, made and kept by one process (the test
// call) and read by another (--hang-up); Poly's asks for the call's handle
// first and ends the call it names.
TEST(PhonePresets, EachPresetHangsUpAsItsMakerDocuments) {
  struct Expected {
    std::string requestLine;  // "{call}": the channel id of the dial request before
    const char* contentType;
    const char* soapAction;
    std::string body;
  };
  struct HangUpCase {
    std::wstring options;  // after --no-settings
    bool dialFirst;        // --test-call before --hang-up
    std::vector<Expected> requests;  // every one not refused with 401, in order
    const char* auth;
    const char* apiKey;    // the X-Api-Key each request carries
    DWORD exitCode;
    const char* outcome;   // the start of what --hang-up prints
  };
  const std::wstring http = L"--http http://127.0.0.1:" + Port(kDigestPort) + L"/dial?n={number}" + kCredentials +
                            L" --http-header \"X-Api-Key: k3y\"";
  const char* ended = "hang-up: 200 OK in ";
  auto phone = [](const wchar_t* kind, int port, const std::wstring& options) {
    return L"--phone " + std::wstring(kind) + L" --phone-address 127.0.0.1:" + Port(port) + options;
  };
  const HangUpCase cases[] = {
      {phone(L"yealink", kDigestPort, kCredentials), false,
       {{"GET /servlet?key=CALLEND HTTP/1.1", "(none)", "(none)", ""}}, "valid", "(none)", 0, ended},
      {phone(L"snom", kBasicPort, kCredentials), false,
       {{"GET /command.htm?key=CANCEL HTTP/1.1", "(none)", "(none)", ""}}, "valid", "(none)", 0, ended},
      {phone(L"grandstream", kOpenPort, kPasswordOnly), false,
       {{"GET /cgi-bin/api-phone_operation?passcode=pa%20ss%3Aw0rd&cmd=endcall HTTP/1.1", "(none)", "(none)", ""}},
       "none", "(none)", 0, ended},
      {phone(L"poly", kTlsBasicPolycomPort, std::wstring(kPasswordOnly) + L" --http-insecure"), false,
       {{"GET /api/v1/webCallControl/callStatus HTTP/1.1", "(none)", "(none)", ""},
        {"POST /api/v1/callctrl/endCall HTTP/1.1", "application/json", "(none)",
         "{\"data\":{\"Ref\":\"0x1c2d3e4f\"}}"}},
       "valid", "(none)", 0, ended},
      {phone(L"fritzbox", kDigestPort, kCredentials), false,
       {{"POST /upnp/control/x_voip HTTP/1.1", "text/xml; charset=\"utf-8\"",
         "urn:dslforum-org:service:X_VoIP:1#X_AVM-DE_DialHangup",
         "<?xml version=\"1.0\" encoding=\"utf-8\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
         "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>"
         "<u:X_AVM-DE_DialHangup xmlns:u=\"urn:dslforum-org:service:X_VoIP:1\"></u:X_AVM-DE_DialHangup>"
         "</s:Body></s:Envelope>"}},
       "valid", "(none)", 0, ended},
      {phone(L"asterisk", kDigestPort, std::wstring(kCredentials) + L" --phone-endpoint PJSIP/201"), true,
       {{"DELETE /ari/channels/{call} HTTP/1.1", "(none)", "(none)", ""}}, "valid", "(none)", 0, ended},
      {phone(L"baresip", kOpenPort, L""), false, {{"GET /?b HTTP/1.1", "(none)", "(none)", ""}}, "none", "(none)", 0,
       ended},
      {http + L" --http-hang-up http://127.0.0.1:" + Port(kDigestPort) + L"/hang-up?line=1", false,
       {{"GET /hang-up?line=1 HTTP/1.1", "(none)", "(none)", ""}}, "valid", "k3y", 0, ended},
      {http, false, {}, "", "", 1,
       "dial-service: the --http request has no --http-hang-up URL, so there is no way to hang up\n"},
      {phone(L"fritzbox", kStatus500Port, kCredentials), false,
       {{"POST /upnp/control/x_voip HTTP/1.1", "text/xml; charset=\"utf-8\"",
         "urn:dslforum-org:service:X_VoIP:1#X_AVM-DE_DialHangup", ""}},
       "none", "(none)", 1, "hang-up: 500 Internal Server Error in "},
  };
  for (const HangUpCase& c : cases) {
    SCOPED_TRACE(Utf8(c.options));
    DWORD exitCode = 99;
    std::string call;
    if (c.dialFirst) {
      Record dial;
      std::string outcome = RunDialService(L"--no-settings " + c.options + L" --test-call 201", &exitCode);
      ASSERT_EQ(0u, exitCode) << outcome;
      std::string line = RequestLine(dial.Requests().back());
      size_t at = line.find("&channelId=");
      ASSERT_NE(std::string::npos, at) << line;
      call = line.substr(at + 11, line.find(' ', at) - at - 11);
      EXPECT_EQ(40u, call.size()) << "teldial- and 32 hex digits: " << call;
    }
    Record record;
    std::string outcome = RunDialService(L"--no-settings " + c.options + L" --hang-up", &exitCode);
    EXPECT_EQ(c.exitCode, exitCode) << outcome;
    EXPECT_TRUE(StartsWith(outcome, c.outcome)) << outcome;
    EXPECT_EQ(std::string::npos, outcome.find("pa ss")) << outcome;
    std::vector<Recorded> requests;
    for (const Recorded& request : record.Requests())
      if (request.answer != 401) requests.push_back(request);
    ASSERT_EQ(c.requests.size(), requests.size()) << outcome;
    for (size_t i = 0; i < requests.size(); i++) {
      std::string line = c.requests[i].requestLine;
      if (line.find("{call}") != std::string::npos) line.replace(line.find("{call}"), 6, call);
      EXPECT_EQ(line, RequestLine(requests[i]));
      EXPECT_EQ(c.requests[i].contentType, Header(requests[i], "Content-Type"));
      EXPECT_EQ(c.requests[i].soapAction, Header(requests[i], "SOAPAction"));
      if (c.exitCode == 0) EXPECT_EQ(c.requests[i].body, Body(requests[i]));
      EXPECT_EQ(c.auth, requests[i].auth) << Header(requests[i], "Authorization");
      EXPECT_EQ(c.apiKey, Header(requests[i], "X-Api-Key"));
    }
  }
}
