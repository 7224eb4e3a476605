// One call end to end through a real softphone: a sip: link clicked in
// teldial.exe, dial-service.exe --phone baresip asks baresip's httpd module to
// dial, and baresip sends its INVITE to sipp, the callee, which answers; then
// dial-service.exe --hang-up asks baresip to hang up, and sipp gets its BYE.
// run_softphone_test.sh starts both around this program and names sipp's
// message trace.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "http_record_win.h"
#include "service_process_win.h"

namespace {
// baresip's httpd port; see run_softphone_test.sh.
const int kBaresipHttpPort = 18450;

std::wstring MessageTracePath() {
  wchar_t unixPath[1024];
  DWORD length = GetEnvironmentVariableW(L"SIP_TEST_MESSAGES", unixPath, 1024);
  return length == 0 || length >= 1024 ? L"" : WindowsPath(unixPath);
}

// sipp's trace once it holds the start of a request line, waiting for it up
// to timeoutMs; what follows that start, or "(no START)" and the whole trace.
std::string AfterInTrace(const std::string& start, DWORD timeoutMs) {
  DWORD began = GetTickCount();
  for (;;) {
    std::string trace = ReadWholeFile(MessageTracePath());
    size_t at = trace.find("\n" + start);
    if (at != std::string::npos) return trace.substr(at + 1 + start.size());
    if (GetTickCount() - began > timeoutMs) return "(no " + start + ")\n" + trace;
    Sleep(100);
  }
}

// The user part of the first INVITE's Request-URI.
std::string InvitedUser(DWORD timeoutMs) {
  std::string after = AfterInTrace("INVITE sip:", timeoutMs);
  return after.substr(0, after.find_first_of("@; \r\n"));
}
}  // namespace

TEST(SoftphoneCall, ASipLinkRingsTheCalleeThroughBaresip) {
  ASSERT_NE(L"", MessageTracePath()) << "run by run_softphone_test.sh";
  ServiceProcess service;
  ASSERT_TRUE(service.Start(L"--no-settings --port 20000 --count 1 --phone baresip --phone-address 127.0.0.1:" +
                            Port(kBaresipHttpPort)));
  ASSERT_EQ("dial-service: listening on 127.0.0.1:20000", service.FirstLine(10000));
  EXPECT_EQ(0, Click(L"sip:+4955501230@pbx.example.com;user=phone"));
  DWORD exitCode = 99;
  std::string log = service.Finish(20000, &exitCode);
  EXPECT_EQ(0u, exitCode) << log;
  EXPECT_NE(std::string::npos, log.find("http +4955501230: 200 OK in ")) << log;
  EXPECT_EQ("+4955501230", InvitedUser(10000));

  // sipp answers at once; baresip's ACK says the call is up.
  ASSERT_FALSE(StartsWith(AfterInTrace("ACK sip:", 10000), "(no ")) << "the call was not set up";
  ASSERT_EQ(std::string::npos, ReadWholeFile(MessageTracePath()).find("\nBYE sip:")) << "ended before --hang-up";
  std::string outcome = RunDialService(
      L"--no-settings --hang-up --phone baresip --phone-address 127.0.0.1:" + Port(kBaresipHttpPort), &exitCode);
  EXPECT_EQ(0u, exitCode) << outcome;
  EXPECT_TRUE(StartsWith(outcome, "hang-up: 200 OK in ")) << outcome;
  std::string bye = AfterInTrace("BYE sip:", 10000);
  EXPECT_FALSE(StartsWith(bye, "(no ")) << bye;
}
