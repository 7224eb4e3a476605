// The real teldial.exe against fake dial services on the loopback ports: the
// exact bytes of every datagram it sends, which ports it touches, and how long
// it waits.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "fake_dial_service_win.h"
#include "processes_win.h"

namespace {
const DWORD kRunTimeoutMs = 30000;

struct DialRun {
  long exitCode = -1;
  double started = 0;
  double ended = 0;
};

// Starts teldial.exe with `arguments` after its quoted path, as the raw command
// line, and waits for it to end.
DialRun RunTeldial(const std::wstring& arguments) {
  const std::wstring program = TeldialPath();
  DialRun run;
  ProgramRun process;
  run.started = ClockSeconds();
  if (!StartProgram(program, L"\"" + program + L"\" " + arguments, &process)) {
    ADD_FAILURE() << "teldial.exe could not be started";
    return run;
  }
  run.exitCode = WaitForExit(&process, kRunTimeoutMs);
  run.ended = ClockSeconds();
  return run;
}

std::vector<std::string> Bytes(const std::vector<ReceivedDatagram>& datagrams) {
  std::vector<std::string> bytes;
  for (const ReceivedDatagram& datagram : datagrams) bytes.push_back(Printable(datagram.bytes));
  return bytes;
}

// The port was probed and dialled: "ping", then the command from the same socket.
void ExpectDialledAt(const FakeServices& services, int port, const std::string& command) {
  std::vector<ReceivedDatagram> got = services.ReceivedAt(port);
  ASSERT_EQ(2u, got.size()) << "port " << port << ": " << testing::PrintToString(Bytes(got));
  EXPECT_EQ("ping", got[0].bytes);
  EXPECT_EQ(Printable(command), Printable(got[1].bytes));
  EXPECT_EQ(got[0].senderPort, got[1].senderPort) << "the command must come from the probing socket";
}

void ExpectProbedOnly(const FakeServices& services, int port) {
  std::vector<ReceivedDatagram> got = services.ReceivedAt(port);
  EXPECT_EQ(std::vector<std::string>{"ping"}, Bytes(got)) << "port " << port;
}

void ExpectUntouched(const FakeServices& services, int first, int end) {
  for (int port = first; port < end; port++)
    EXPECT_EQ(std::vector<std::string>{}, Bytes(services.ReceivedAt(port))) << "port " << port;
}

double DialTime(const FakeServices& services, int port) {
  std::vector<ReceivedDatagram> got = services.ReceivedAt(port);
  return got.size() == 2 ? got[1].seconds : 0;
}

#define ASSERT_LISTENING(services, port, behaviour) \
  ASSERT_TRUE((services).Listen((port), (behaviour))) << "port " << (port) << " is taken by another program"

// Every port of the search and the end port that `taken` does not name gets a
// silent recorder, so that a datagram sent anywhere is seen.
void ListenSilentlyOnTheRest(FakeServices* services, std::vector<int> taken) {
  for (int port = kFirstServicePort; port <= kEndServicePort; port++) {
    bool isTaken = false;
    for (int t : taken) isTaken = isTaken || t == port;
    if (!isTaken) EXPECT_TRUE(services->Listen(port, SilentService())) << "port " << port << " is taken";
  }
}

// "pong", a zero byte, then `rest`.
std::string PongZeroThen(const std::string& rest) { return std::string("pong\0", 5) + rest; }
}  // namespace

// ---------------------------------------------------------------------------
// The command: "dial " + the normalised number, as UTF-8, nothing around it.

TEST(DialCommand, CarriesTheNormalisedNumber) {
  FakeServices services;
  ASSERT_LISTENING(services, kFirstServicePort, AnsweringService());
  services.Start();
  struct Case {
    const wchar_t* arguments;  // as they follow the program on the command line
    std::string command;
  };
  const Case cases[] = {
      {L"0555501230", "dial 0555501230"},
      {L"\"+49 5555 0123-0\"", "dial +49 5555 0123-0"},
      {L"call:0555501230", "dial 0555501230"},
      {L"call://0555501230", "dial //0555501230"},
      {L"call:0555:501", "dial 0555"},
      {L"call:", "dial "},
      {L"abc", "dial abc"},
      {L"1:2", "dial 1:2"},
      {L"9:1", "dial 9:1"},
      {L":0555501230", "dial 0555501230"},
      {L"\"\"", "dial "},
      {L"\"+49 (555) 0123:9\"", "dial +49 (555) 0123:9"},
      {L"tel:\xFF10\xFF15\xFF15\xFF15", "dial \xEF\xBC\x90\xEF\xBC\x95\xEF\xBC\x95\xEF\xBC\x95"},
      {L"M\x00FCller", "dial M\xC3\xBCller"},
      {L"tel:\xD83D\xDE00" L"1", "dial \xF0\x9F\x98\x80" "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.arguments)));
    services.Clear();
    DialRun run = RunTeldial(c.arguments);
    EXPECT_EQ(0, run.exitCode);
    ExpectDialledAt(services, kFirstServicePort, c.command);
  }
}

// ---------------------------------------------------------------------------
// The search over the ports.

TEST(Discovery, FindsTheLastPortAndNeverTouchesTheEndPort) {
  const int last = kEndServicePort - 1;
  FakeServices services;
  ASSERT_LISTENING(services, last, AnsweringService());
  ListenSilentlyOnTheRest(&services, {last});
  services.Start();
  DialRun run = RunTeldial(L"0555501230");
  EXPECT_EQ(0, run.exitCode);
  for (int port = kFirstServicePort; port < last; port++) ExpectProbedOnly(services, port);
  ExpectDialledAt(services, last, "dial 0555501230");
  ExpectUntouched(services, kEndServicePort, kEndServicePort + 1);
  // Each port without an answer costs 20 pauses of 10 ms.
  std::vector<ReceivedDatagram> first = services.ReceivedAt(kFirstServicePort);
  std::vector<ReceivedDatagram> lastPing = services.ReceivedAt(last);
  if (!first.empty() && !lastPing.empty()) EXPECT_GE(lastPing[0].seconds - first[0].seconds, 19 * 0.2 - 0.05);
}

TEST(Discovery, OnlyTheLowerOfTwoServicesIsDialled) {
  FakeServices services;
  ASSERT_LISTENING(services, 20001, AnsweringService());
  ASSERT_LISTENING(services, 20003, AnsweringService());
  ListenSilentlyOnTheRest(&services, {20001, 20003});
  services.Start();
  EXPECT_EQ(0, RunTeldial(L"0555501230").exitCode);
  ExpectProbedOnly(services, 20000);
  ExpectDialledAt(services, 20001, "dial 0555501230");
  ExpectUntouched(services, 20002, kEndServicePort + 1);
}

TEST(Discovery, OnlyPongUpToAZeroByteInTheFirst1024BytesIsAccepted) {
  const std::string rejected[] = {
      "PONG",
      "Pong",
      "pong ",
      " pong",
      "pong\n",
      "pong\r\n",
      "pon",
      "pongpong",
      std::string("p\0o\0n\0g\0", 8),  // UTF-16
      // Only the first 1024 bytes are read; the rest, which alone would read as
      // "pong", is never looked at.
      std::string(1024, 'x') + std::string("pong\0\0", 6),
  };
  const int count = int(sizeof rejected / sizeof rejected[0]);
  const int accepting = kFirstServicePort + count;
  FakeServices services;
  std::vector<int> taken;
  for (int i = 0; i < count; i++) {
    ASSERT_LISTENING(services, kFirstServicePort + i, (ServiceBehaviour{{rejected[i]}, {"ok"}}));
    taken.push_back(kFirstServicePort + i);
  }
  // Accepted: "pong", a zero byte, then 2000 more bytes.
  ASSERT_LISTENING(services, accepting, (ServiceBehaviour{{PongZeroThen(std::string(2000, 'z'))}, {"ok"}}));
  taken.push_back(accepting);
  ListenSilentlyOnTheRest(&services, taken);
  services.Start();
  EXPECT_EQ(0, RunTeldial(L"0555501230").exitCode);
  for (int i = 0; i < count; i++) {
    SCOPED_TRACE(Printable(rejected[i].substr(0, 40)));
    ExpectProbedOnly(services, kFirstServicePort + i);
  }
  ExpectDialledAt(services, accepting, "dial 0555501230");
  ExpectUntouched(services, accepting + 1, kEndServicePort + 1);
}

TEST(Discovery, DatagramsOtherThanPongCostNoPoll) {
  // Thirty wrong answers would use up the 20 polls of the port if each cost one.
  ServiceBehaviour chatty;
  chatty.pingAnswers.assign(30, "nope");
  chatty.pingAnswers.push_back(PongZeroThen("xyz"));
  chatty.dialAnswers = {"ok"};
  FakeServices services;
  ASSERT_LISTENING(services, kFirstServicePort, chatty);
  ListenSilentlyOnTheRest(&services, {kFirstServicePort});
  services.Start();
  EXPECT_EQ(0, RunTeldial(L"0555501230").exitCode);
  ExpectDialledAt(services, kFirstServicePort, "dial 0555501230");
  ExpectUntouched(services, kFirstServicePort + 1, kEndServicePort + 1);
}

TEST(Discovery, EmptyDatagramsCostAPollEach) {
  // Twenty empty datagrams use up the port's 20 polls before the "pong" is read.
  ServiceBehaviour empties;
  empties.pingAnswers.assign(20, "");
  empties.pingAnswers.push_back("pong");
  empties.dialAnswers = {"ok"};
  FakeServices services;
  ASSERT_LISTENING(services, 20000, empties);
  ASSERT_LISTENING(services, 20001, AnsweringService());
  ListenSilentlyOnTheRest(&services, {20000, 20001});
  services.Start();
  EXPECT_EQ(0, RunTeldial(L"0555501230").exitCode);
  ExpectProbedOnly(services, 20000);
  ExpectDialledAt(services, 20001, "dial 0555501230");
  ExpectUntouched(services, 20002, kEndServicePort + 1);
}

TEST(Discovery, WithoutServiceOnePingPerPortAndAtLeastFourSeconds) {
  FakeServices services;
  ListenSilentlyOnTheRest(&services, {});
  services.Start();
  DialRun run = RunTeldial(L"0555501230");
  EXPECT_EQ(0, run.exitCode);
  std::vector<ReceivedDatagram> got = services.Received();
  ASSERT_EQ(20u, got.size()) << testing::PrintToString(Bytes(got));
  for (int i = 0; i < 20; i++) {
    EXPECT_EQ(kFirstServicePort + i, got[i].port);
    EXPECT_EQ("ping", got[i].bytes);
    // Arrival times are taken by a thread of this busy test process, so a
    // single gap may look shorter by the time that thread waited; over the
    // whole search, such delays cannot add up.
    if (i > 0) EXPECT_GE(got[i].seconds - got[i - 1].seconds, 0.1) << "port " << got[i].port;
  }
  EXPECT_GE(got[19].seconds - got[0].seconds, 19 * 0.2 - 0.05) << "each port waits 200 ms";
  EXPECT_GE(run.ended - run.started, 4.0);
  EXPECT_LT(run.ended - run.started, 10.0);
}

// ---------------------------------------------------------------------------
// The wait for the answer to the command.

TEST(DialWait, EndsAtTheFirstDatagramOfAtLeastOneByte) {
  std::vector<std::string> emptiesThenOk(50, "");
  emptiesThenOk.push_back("ok");
  struct Case {
    const char* name;
    std::vector<std::string> dialAnswers;
    double atLeast, below;  // seconds from the command to the end of the process
  };
  const Case cases[] = {
      {"one zero byte", {std::string(1, '\0')}, 0.0, 0.7},
      // Each empty datagram takes a poll and a pause of 10 ms.
      {"50 empty datagrams, then ok", emptiesThenOk, 0.5 - 0.05, 3.0},
      {"no answer", {}, 1.0 - 0.05, 3.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeServices services;
    ASSERT_LISTENING(services, kFirstServicePort, (ServiceBehaviour{{"pong"}, c.dialAnswers}));
    services.Start();
    DialRun run = RunTeldial(L"0555501230");
    EXPECT_EQ(0, run.exitCode);
    ExpectDialledAt(services, kFirstServicePort, "dial 0555501230");
    double dialled = DialTime(services, kFirstServicePort);
    EXPECT_GE(run.ended - dialled, c.atLeast);
    EXPECT_LT(run.ended - dialled, c.below);
  }
}

// ---------------------------------------------------------------------------
// What the dial path loads: none of the libraries that only a message box needs.

TEST(LeanStart, DialingLoadsNoWindowLibrary) {
  const char* windowLibraries[] = {"user32.dll", "gdi32.dll", "comctl32.dll", "ole32.dll", "winmm.dll"};
  auto loaded = [](const std::vector<std::wstring>& modules, const char* name) {
    for (const std::wstring& module : modules)
      if (module == std::wstring(name, name + strlen(name))) return true;
    return false;
  };
  const std::wstring program = TeldialPath();

  // The usage path shows that the list is read: the box needs user32.dll.
  ProgramRun usage;
  ASSERT_TRUE(StartProgram(program, L"\"" + program + L"\"", &usage));
  HWND box = FindMessageBox(usage.processId, 15000);
  ASSERT_NE(nullptr, box);
  EXPECT_TRUE(loaded(LoadedModules(usage.process), "user32.dll"));
  PressOk(box);
  EXPECT_EQ(0, WaitForExit(&usage, kRunTimeoutMs));

  // Unanswered, the command keeps teldial waiting for a second.
  FakeServices services;
  ASSERT_LISTENING(services, kFirstServicePort, (ServiceBehaviour{{"pong"}, {}}));
  services.Start();
  ProgramRun dialing;
  ASSERT_TRUE(StartProgram(program, L"\"" + program + L"\" 0555501230", &dialing));
  for (int i = 0; i < 1000 && services.ReceivedAt(kFirstServicePort).size() < 2; i++) Sleep(10);
  ASSERT_EQ(2u, services.ReceivedAt(kFirstServicePort).size()) << "no command arrived";
  std::vector<std::wstring> modules = LoadedModules(dialing.process);
  EXPECT_TRUE(loaded(modules, "ws2_32.dll"));
  for (const char* name : windowLibraries) EXPECT_FALSE(loaded(modules, name)) << name;
  EXPECT_EQ(0, WaitForExit(&dialing, kRunTimeoutMs));
}
