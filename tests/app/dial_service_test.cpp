// The reference dial service: its request parsing, and the real dial-service.exe
// answering, ignoring, normalising and logging what arrives on its port, and
// handing accepted numbers to a program with --exec. The program's own tests
// use ports 20100 and up, clear of the range the dialer's tests take.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <string>
#include <vector>

#include "fake_dial_service_win.h"
#include "service_process_win.h"
#include "service/number/dial_requests.h"
#include "service/number/log_text.h"

#ifndef PRINT_ARGUMENTS_EXE
#error "PRINT_ARGUMENTS_EXE must name the built print_arguments.exe"
#endif


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
    EXPECT_EQ(c.logged.size(), FormatTextForLog(c.number.data(), c.number.size(), text, sizeof text));
    EXPECT_EQ(c.logged, std::string(text));
  }
  char small[6];
  EXPECT_EQ(2u, FormatTextForLog("12\n34", 5, small, sizeof small)) << "an escape is never cut";
  EXPECT_EQ("12", std::string(small, 2));
}

TEST(DialServiceProgram, AnswersPingAndDialAndIgnoresTheRest) {
  const int port = 20105;
  ASSERT_TRUE(PortIsFree(port)) << "port " << port << " is taken by another program";
  ServiceProcess service;
  ASSERT_TRUE(service.Start(L"--port 20105 --count 2"));
  EXPECT_EQ("dial-service: listening on 127.0.0.1:20105", service.FirstLine(10000));

  Client client;
  const std::string ignored[] = {"", "PING", "pong", std::string("\0\xFF\x80ping", 7), std::string(65507, 'g'),
                                 "dial"};
  for (const std::string& datagram : ignored) client.Send(port, datagram);
  client.Send(port, "ping");
  EXPECT_EQ("pong", client.Receive()) << "nothing else may come before";
  client.Send(port, "dial 0555501230");
  EXPECT_EQ("ok", client.Receive());
  client.Send(port, std::string("dial +49\n(0)\0", 13));
  EXPECT_EQ("rejected", client.Receive());

  DWORD exitCode = 0;
  std::vector<std::string> lines = Lines(service.Finish(10000, &exitCode));
  EXPECT_EQ(0u, exitCode) << "ends by itself after --count commands";
  ASSERT_EQ(5u, lines.size()) << testing::PrintToString(lines);
  lines.erase(lines.begin());
  std::vector<std::string> entries = LogEntries(lines);
  EXPECT_TRUE(StartsWith(entries[0], "dial 0555501230 (from port ")) << entries[0];
  EXPECT_EQ("number 0555501230", entries[1]);
  EXPECT_TRUE(StartsWith(entries[2], "dial +49\\x0A(0)\\x00 (from port ")) << entries[2];
  EXPECT_EQ("rejected: a character that has no place in a phone number at byte 4", entries[3]);
}

TEST(DialServiceProgram, NormalisesEachNumberAndKeepsServingAfterAnyDatagram) {
  const int port = 20106;
  ASSERT_TRUE(PortIsFree(port)) << "port " << port << " is taken by another program";
  ServiceProcess service;
  ASSERT_TRUE(service.Start(L"--port 20106 --count 8 --max-calls 0 --allow-codes"));
  ASSERT_EQ("dial-service: listening on 127.0.0.1:20106", service.FirstLine(10000));

  const size_t kLargestNumber = 65507 - 5;
  std::string binary;
  for (size_t i = 0; i < kLargestNumber; i++) binary += char(i * 7);
  struct Case {
    std::string number;
    std::string answer;
    std::string logged;
  };
  const Case cases[] = {
      {"+49%205555%200123-0", "ok", "number +49555501230"},
      {"//0555501230", "ok", "number 0555501230"},
      {"tel:%2B49 (0)5555 0123-0", "ok", "number +49555501230"},
      {"*31%23,,0555p12w3", "ok", "number *31#,,0555p12w3"},
      {std::string(kLargestNumber, '5'), "rejected", "rejected: more than 128 characters"},
      {binary, "rejected", "rejected: a character that has no place in a phone number at byte 1"},
      {"%zz", "rejected", "rejected: a percent sign without two hex digits at byte 1"},
      {"  ", "rejected", "rejected: no number"},
  };
  Client client;
  for (const Case& c : cases) {
    SCOPED_TRACE(Printable(c.number.substr(0, 40)));
    client.Send(port, "dial " + c.number);
    EXPECT_EQ(c.answer, client.Receive());
    if (&c == &cases[sizeof cases / sizeof cases[0] - 1]) break;  // --count ends the service here
    client.Send(port, "ping");
    EXPECT_EQ("pong", client.Receive()) << "still serving";
  }

  DWORD exitCode = 0;
  std::vector<std::string> lines = Lines(service.Finish(10000, &exitCode));
  EXPECT_EQ(0u, exitCode);
  ASSERT_EQ(1 + 2 * (sizeof cases / sizeof cases[0]), lines.size());
  lines.erase(lines.begin());
  std::vector<std::string> entries = LogEntries(lines);
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
    EXPECT_TRUE(StartsWith(entries[2 * i], "dial ")) << entries[2 * i].substr(0, 80);
    EXPECT_EQ(cases[i].logged, entries[2 * i + 1]);
  }
  EXPECT_TRUE(StartsWith(entries[10], "dial \\x00\\x07\\x0E\\x15\\x1C#*18?FMT")) << entries[10].substr(0, 80);
}

TEST(DialServiceProgram, ExecHandsTheNumberToTheCommandAsOneArgument) {
  const int port = 20110;
  ASSERT_TRUE(PortIsFree(port)) << "port " << port << " is taken by another program";
  // A folder and file names with blanks and a "&", which a shell would take apart.
  wchar_t temp[MAX_PATH];
  ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
  std::wstring folder = std::wstring(temp) + L"dial service exec test\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  std::wstring helper = folder + L"print arguments.exe";
  ASSERT_TRUE(CopyFileW(WindowsPath(PRINT_ARGUMENTS_EXE).c_str(), helper.c_str(), FALSE));
  std::wstring outfile = folder + L"arguments & more.txt";
  DeleteFileW(outfile.c_str());

  // The --exec template, written for the service's own command line: each
  // double quote of the template is \" there, and the backslashes right
  // before one are doubled. The template itself reads
  //   "H" "O" "a b" "q""uote" {number} "x{number}y" "back\slash dir\" "" "tail\""quote" {number}{number}
  std::wstring options = LR"(--port 20110 --count 3 --allow-codes --exec "\")" + helper + LR"(\" \")" + outfile +
                         LR"(\" \"a b\" \"q\"\"uote\" {number} \"x{number}y\" \"back\slash dir\\\" \"\" )" +
                         LR"(\"tail\\\"\"quote\" {number}{number}")";
  ServiceProcess service;
  ASSERT_TRUE(service.Start(options));
  ASSERT_EQ("dial-service: listening on 127.0.0.1:20110", service.FirstLine(10000));

  Client client;
  client.Send(port, "dial 0555 abc");
  EXPECT_EQ("rejected", client.Receive());
  client.Send(port, "dial +49%20(0)5555%200123-0");
  EXPECT_EQ("ok", client.Receive());
  EXPECT_TRUE(service.WaitForText("ended with exit code", 20000)) << "the first command ends before the second";
  client.Send(port, "dial *31%23,,0555p1");
  EXPECT_EQ("ok", client.Receive());

  DWORD exitCode = 0;
  std::string output = service.Finish(30000, &exitCode);
  EXPECT_EQ(0u, exitCode) << output;
  EXPECT_EQ(2u, Count(output, " started process ")) << output;
  EXPECT_EQ(2u, Count(output, " ended with exit code 10\n")) << "ten words each\n" << output;

  std::string expected;
  for (std::string number : {"+49555501230", "*31#,,0555p1"}) {
    expected += Utf8(helper) + "\n" + Utf8(outfile) + "\na b\nq\"uote\n" + number + "\nx" + number +
                "y\nback\\slash dir\\\n\ntail\\\"quote\n" + number + number + "\n--\n";
  }
  EXPECT_EQ(expected, FileText(outfile)) << "no run for the rejected number, one block for each accepted one\n"
                                         << output;
  DeleteFileW(outfile.c_str());
  DeleteFileW(helper.c_str());
  RemoveDirectoryW(folder.c_str());
}

TEST(DialServiceProgram, TakesTheFirstFreePortOfTheRange) {
  FakeServices occupied;
  ASSERT_TRUE(occupied.ListenRange(kFirstServicePort, kFirstServicePort + 2, SilentService()))
      << "ports 20000-20001 are taken by another program";
  ASSERT_TRUE(PortIsFree(kFirstServicePort + 2));
  ServiceProcess service;
  ASSERT_TRUE(service.Start(L"--count 1"));
  EXPECT_EQ("dial-service: listening on 127.0.0.1:20002", service.FirstLine(10000));
  Client client;
  client.Send(kFirstServicePort + 2, "dial 1");
  EXPECT_EQ("ok", client.Receive());
  DWORD exitCode = 0;
  service.Finish(10000, &exitCode);
  EXPECT_EQ(0u, exitCode);
}

TEST(DialServiceProgram, RefusesBadOptionsAndATakenPort) {
  FakeServices occupied;
  ASSERT_TRUE(occupied.Listen(20107, SilentService())) << "port 20107 is taken by another program";
  wchar_t temp[MAX_PATH];
  ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
  std::wstring batch = std::wstring(temp) + L"dial-service-test.cmd";
  HANDLE file = CreateFileW(batch.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  CloseHandle(file);
  struct Case {
    std::wstring options;
    DWORD exitCode;
    std::string message;
  };
  const Case cases[] = {
      {L"--port", 2, "dial-service: --port needs a value\n"},
      {L"--port 0", 2, "dial-service: --port 0 is not a number from 1 to 65535\n"},
      {L"--port 70000", 2, "dial-service: --port 70000 is not a number from 1 to 65535\n"},
      {L"--count x", 2, "dial-service: --count x is not a number from 1 to 2147483647\n"},
      {L"--colour", 2, "dial-service: unknown option --colour (--help lists them)\n"},
      {L"--help", 0, "usage: dial-service [--port N] [--count N]"},
      {L"--http 192.0.2.10/dial?n={number}", 2, "has no http:// or https:// in front\n"},
      {L"--http http://192.0.2.10/?n={number} --http-header NoColon", 2, "has no colon between name and value\n"},
      {L"--http http://192.0.2.10/?n={number} --http-user a --http-password-env TELDIAL_NO_SUCH_VARIABLE", 2,
       "the environment variable TELDIAL_NO_SUCH_VARIABLE of --http-password-env is not set\n"},
      {L"--port 20107", 1, "cannot listen on 127.0.0.1:20107"},
      {L"--port 20108 --exec", 2, "dial-service: --exec needs a value\n"},
      {L"--port 20108 --exec \"\"", 2, "the --exec command names no program"},
      {L"--port 20108 --exec \"\\\"open {number}\"", 2, "the --exec command leaves a double quote open"},
      {L"--port 20108 --exec \"phone.exe --call\"", 2, "the --exec command has no {number} in any argument"},
      {L"--port 20108 --exec \"a.exe {number}\" --exec \"b.exe {number}\"", 2, "--exec is given twice\n"},
      {L"--port 20108 --exec \"\\\"Z:\\no such folder\\phone.exe\\\" {number}\"", 1,
       "the --exec program Z:\\no such folder\\phone.exe is not found"},
      {L"--port 20108 --exec \"\\\"" + batch + L"\\\" {number}\"", 1, "is not an .exe or .com program"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.options));
    ServiceProcess service;
    ASSERT_TRUE(service.Start(c.options));
    DWORD exitCode = 0;
    std::string output = service.Finish(10000, &exitCode);
    EXPECT_EQ(c.exitCode, exitCode) << output;
    EXPECT_NE(std::string::npos, output.find(c.message)) << output;
    EXPECT_EQ(std::string::npos, output.find("listening")) << output;
    if (c.exitCode == 2) EXPECT_EQ(1u, Count(output, "\n")) << "one line names the problem\n" << output;
  }
  DeleteFileW(batch.c_str());
}

namespace {
struct LinkCase {
  std::string text;  // sent after "dial "
  std::string answer;
  std::string logged;  // the entry after the one of the command itself
};

// The service on port with options, one dial command for each case, and the
// answer and the log entries of each.
void ExpectServed(int port, const std::wstring& options, const std::vector<LinkCase>& cases) {
  ASSERT_TRUE(PortIsFree(port)) << "port " << port << " is taken by another program";
  ServiceProcess service;
  ASSERT_TRUE(service.Start(L"--port " + std::to_wstring(port) + L" --count " + std::to_wstring(cases.size()) +
                            L" --max-calls 0 " + options));
  ASSERT_EQ("dial-service: listening on 127.0.0.1:" + std::to_string(port), service.FirstLine(10000));
  Client client;
  for (const LinkCase& c : cases) {
    SCOPED_TRACE(Printable(c.text));
    client.Send(port, "dial " + c.text);
    EXPECT_EQ(c.answer, client.Receive());
  }
  DWORD exitCode = 0;
  std::vector<std::string> lines = Lines(service.Finish(10000, &exitCode));
  EXPECT_EQ(0u, exitCode);
  ASSERT_EQ(1 + 2 * cases.size(), lines.size()) << testing::PrintToString(lines);
  lines.erase(lines.begin());
  std::vector<std::string> entries = LogEntries(lines);
  for (size_t i = 0; i < cases.size(); i++) {
    EXPECT_TRUE(StartsWith(entries[2 * i], "dial " + cases[i].text + " (from port ")) << entries[2 * i];
    EXPECT_EQ(cases[i].logged, entries[2 * i + 1]);
  }
}
}  // namespace

TEST(DialServiceProgram, TakesPhoneLinksAsPagesWriteThem) {
  ExpectServed(20111, L"", {
      {"tel:+1-201-555-0123;ext=1234", "ok", "number +12015550123,1234"},
      {"+49\xC2\xA0" "5555\xC2\xA0" "0123-0", "ok", "number +49555501230"},
      {"tel:+49%E2%80%AF5555%E2%80%AF0123%E2%80%93" "0", "ok", "number +49555501230"},
      {"\xEF\xBC\x8B\xEF\xBC\x94\xEF\xBC\x99 5555 01230", "ok", "number +49555501230"},
      {"sip:+4955501230@pbx.example.com;user=phone", "ok", "number +4955501230"},
      {"tel:7042;phone-context=example.com", "ok", "number 7042"},
      {"1-800-FLOWERS", "ok", "number 18003569377"},
      {"tel:hello", "rejected", "rejected: a character that has no place in a phone number at byte 5"},
      {"tel:+1-201-555-0123;ext=", "rejected", "rejected: a parameter that is not well formed at byte 20"},
      {"sip:pbx.example.com", "rejected", "rejected: a SIP address without a user part"},
  });
}

TEST(DialServiceProgram, DialsAsTheDialingRulesSay) {
  ExpectServed(20112, L"--country 49 --area 5555 --outside 0 --extension-digits 3", {
      {"+49 5555 01230", "ok", "number +49555501230 dialled 001230 (local)"},
      {"+49 6666 01230", "ok", "number +49666601230 dialled 00666601230 (national)"},
      {"+1 201 555 0123", "ok", "number +12015550123 dialled 00012015550123 (international)"},
      {"tel:+49-5555-01230;ext=12", "ok", "number +49555501230,12 dialled 001230,12 (local)"},
      {"+49 (0)30 1234567", "ok", "number +49301234567 dialled 00301234567 (national)"},
      {"(030) 123 4567", "ok", "number 0301234567 dialled 00301234567 (national)"},
      {"0044 20 7946 0000", "ok", "number 00442079460000 dialled 000442079460000 (international)"},
      {"0555501230", "ok", "number 0555501230 dialled 00555501230 (national)"},
      {"1-800-FLOWERS", "ok", "number 18003569377 dialled 018003569377 (local)"},
      {"201", "ok", "number 201"},
      {"+4955501230123456789012", "rejected", "rejected: more than 15 digits after the plus sign"},
      {"no number here", "rejected", "rejected: a character that has no place in a phone number at byte 1"},
  });
}

TEST(DialServiceProgram, ExecGetsWhatIsDialled) {
  const int port = 20113;
  ASSERT_TRUE(PortIsFree(port)) << "port " << port << " is taken by another program";
  wchar_t temp[MAX_PATH];
  ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
  std::wstring outfile = std::wstring(temp) + L"dial-service-dialled.txt";
  DeleteFileW(outfile.c_str());
  std::wstring helper = WindowsPath(PRINT_ARGUMENTS_EXE);
  ServiceProcess service;
  ASSERT_TRUE(service.Start(L"--port 20113 --count 2 --country 49 --area 5555 --outside 0 --exec \"\\\"" + helper +
                            L"\\\" \\\"" + outfile + L"\\\" {number}\""));
  ASSERT_EQ("dial-service: listening on 127.0.0.1:20113", service.FirstLine(10000));
  Client client;
  client.Send(port, "dial +49 5555 01230;ext=7");
  EXPECT_EQ("ok", client.Receive());
  EXPECT_TRUE(service.WaitForText("ended with exit code", 20000)) << "the first command ends before the second";
  client.Send(port, "dial 0555 1234");
  EXPECT_EQ("ok", client.Receive());
  DWORD exitCode = 0;
  std::string output = service.Finish(30000, &exitCode);
  EXPECT_EQ(0u, exitCode) << output;
  std::string block = Utf8(helper) + "\n" + Utf8(outfile) + "\n";
  EXPECT_EQ(block + "001230,7\n--\n" + block + "005551234\n--\n", FileText(outfile)) << output;
  DeleteFileW(outfile.c_str());
}

// One line that names the problem, then the usage, and no service.
TEST(DialServiceProgram, RefusesDialingRulesThatCannotServe) {
  struct Case {
    std::wstring options;
    std::string problem;
  };
  const Case cases[] = {
      {L"--country 049", "--country takes a country code: 1 to 3 digits, the first not 0"},
      {L"--country 49 --area 55x5", "--area takes 1 to 8 digits and nothing else"},
      {L"--country 49 --outside 99999", "--outside takes 0 to 4 digits and nothing else"},
      {L"--country 49 --international-prefix \"\"", "--international-prefix takes 1 to 8 digits and nothing else"},
      {L"--area 5555", "--area needs --country"},
      {L"--national-prefix 0", "--national-prefix needs --country"},
      {L"--country 49 --area 05555", "--area 05555 starts with the national prefix 0: give the area code without it"},
      {L"--country 49 --country 1", "--country is given twice"},
      {L"--port 20108 --country", "--country needs a value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.options));
    ServiceProcess service;
    ASSERT_TRUE(service.Start(c.options));
    DWORD exitCode = 0;
    std::string output = service.Finish(10000, &exitCode);
    EXPECT_EQ(2u, exitCode) << output;
    std::vector<std::string> lines = Lines(output);
    ASSERT_EQ(1u, lines.size()) << "one line names the problem\n" << output;
    std::string first = lines[0].substr(0, lines[0].find('\r'));  // standard error may be in text mode
    EXPECT_EQ("dial-service: " + c.problem, first);
  }
}

// What the service refuses before any request: a blocked prefix however the
// number is written, a feature code nobody confirmed, and the 6th number
// within 10 s; what a dialer sent reaches the log on one line, cut short.
TEST(DialServiceProgram, RefusesBlockedNumbersFeatureCodesAndTooManyAtOnce) {
  const int port = 20114;
  ASSERT_TRUE(PortIsFree(port)) << "port " << port << " is taken by another program";
  ServiceProcess service;
  ASSERT_TRUE(service.Start(L"--port 20114 --count 7 --country 49 --area 5555 --block +49900 --block 0137"));
  ASSERT_EQ("dial-service: listening on 127.0.0.1:20114", service.FirstLine(10000));
  const std::string hostile = "0555\xE2\x80\xAE" "1\xC2\x85" "2\xE2\x80\xA8" "3\x7F\xFF\r\n4";
  const std::string huge(65000, '5');
  const LinkCase cases[] = {
      {"0900 1234567", "rejected: blocked by +49900", "rejected: blocked by +49900"},
      {"tel:+49-137-1234", "rejected: blocked by 0137", "rejected: blocked by 0137"},
      {"*21*004955501230%23", "rejected: a feature code needs confirmation",
       "rejected: a feature code needs confirmation"},
      {hostile, "rejected", "rejected: a character that has no place in a phone number at byte 5"},
      {"+49 5555 01230", "ok", "number +49555501230 dialled 01230 (local)"},
      {huge, "rejected: too many numbers at once", "rejected: too many numbers at once"},
      {"0555 1", "rejected: too many numbers at once", ""},
  };
  Client client;
  for (const LinkCase& c : cases) {
    client.Send(port, "dial " + c.text);
    EXPECT_EQ(c.answer, client.Receive()) << Printable(c.text.substr(0, 40));
  }
  DWORD exitCode = 0;
  std::string output = service.Finish(10000, &exitCode);
  EXPECT_EQ(0u, exitCode);
  std::vector<std::string> lines = Lines(output);
  lines.erase(lines.begin());
  std::vector<std::string> entries = LogEntries(lines);
  // The last refusal of the run is counted, not logged, and summed up at the end.
  ASSERT_EQ(2 * 6 + 1u, entries.size()) << output;
  for (size_t i = 0; i < 6; i++) EXPECT_EQ(cases[i].logged, entries[2 * i + 1]) << output;
  EXPECT_EQ("dial 0555\\xE2\\x80\\xAE1\\xC2\\x852\\xE2\\x80\\xA83\\x7F\\xFF\\x0D\\x0A4 (from port ",
            entries[6].substr(0, entries[6].find("port ") + 5));
  EXPECT_EQ("dial " + std::string(200, '5') + "... (65000 bytes) (from port ",
            entries[10].substr(0, entries[10].find("port ") + 5));
  EXPECT_TRUE(StartsWith(entries[12], "\xE2\x80\xA6 1 more like this in ")) << entries[12];
}
