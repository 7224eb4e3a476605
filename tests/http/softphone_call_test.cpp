// One call end to end through a real softphone: a sip: link clicked in
// teldial.exe, dial-service.exe --phone baresip asks baresip's httpd module to
// dial, and baresip sends its INVITE to sipp, the callee; run_softphone_test.sh
// starts both around this program and names sipp's message trace.
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

// The user part of the first INVITE's Request-URI, waiting for it up to timeoutMs.
std::string InvitedUser(DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    std::string trace = ReadWholeFile(MessageTracePath());
    size_t at = trace.find("\nINVITE sip:");
    if (at != std::string::npos) {
      at += 12;
      return trace.substr(at, trace.find_first_of("@; \r\n", at) - at);
    }
    if (GetTickCount() - start > timeoutMs) return "(no INVITE)\n" + trace;
    Sleep(100);
  }
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
}
