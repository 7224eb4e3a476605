// UDP polls and reads: the poll takes one datagram off the socket and keeps it,
// ReceiveData hands it out piece by piece.
#include <gtest/gtest.h>

#include <windows.h>

#include "loopback_peers_win.h"
#include "runtime/program_heap.h"

namespace {
// A UDP connection to a loopback peer that has already heard from it, so the
// peer can answer to the connection's local port.
class UdpExchange : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer.Ready());
    connection = OpenConnection(LITERAL(u"127.0.0.1"), peer.Port(), kModeUdp, 250);
    ASSERT_NE(0u, connection);
    ASSERT_EQ(5, SendText(connection, LITERAL(u"hello")));
    Bytes greeting;
    ASSERT_TRUE(peer.Receive(&greeting));
  }
  void TearDown() override { CloseConnection(connection); }

  // Sends a datagram to the connection and waits until it can be received.
  void Deliver(const Bytes& datagram) {
    ASSERT_EQ(int(datagram.size()), peer.Reply(datagram));
    ASSERT_TRUE(WaitReadable(UdpRecord(connection)->socket, 2000));
  }

  Bytes ReadAll(int32_t size) {
    Bytes bytes;
    char buffer[4096];
    int32_t count;
    while ((count = ReceiveData(connection, buffer, size)) > 0) bytes.append(buffer, size_t(count));
    return bytes;
  }

  UdpPeer peer;
  ConnectionHandle connection = 0;
};
}  // namespace

TEST_F(UdpExchange, PollWithNothingWaitingReturnsAtOnce) {
  DWORD start = GetTickCount();
  for (int i = 0; i < 50; i++) ASSERT_EQ(kEventNothing, PollConnectionEvent(connection));
  EXPECT_LT(GetTickCount() - start, 1000u);
  char buffer[16];
  EXPECT_EQ(0, ReceiveData(connection, buffer, sizeof buffer));
}

TEST_F(UdpExchange, ReplyIsKeptUntilReadThenReleased) {
  Deliver("pong");
  EXPECT_EQ(kEventData, PollConnectionEvent(connection));
  const UdpConnection* record = UdpRecord(connection);
  ASSERT_NE(nullptr, record->keptDatagram);
  EXPECT_EQ(4, record->remaining);
  char buffer[1024];
  EXPECT_EQ(4, ReceiveData(connection, buffer, sizeof buffer));
  EXPECT_EQ("pong", Bytes(buffer, 4));
  EXPECT_EQ(nullptr, record->keptDatagram);
  EXPECT_EQ(0, ReceiveData(connection, buffer, sizeof buffer));
}

TEST_F(UdpExchange, DatagramSizesAroundTheReceiveBuffer) {
  struct Case {
    size_t size;
    bool received;
  } cases[] = {{1, true}, {2047, true}, {2048, true}, {2049, false}, {3000, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    Bytes datagram = Pattern(c.size, uint8_t(c.size));
    Deliver(datagram);
    if (c.received) {
      EXPECT_EQ(kEventData, PollConnectionEvent(connection));
      EXPECT_EQ(datagram, ReadAll(4096));
    } else {
      // Too large for the receive buffer: the platform reports an error and the
      // datagram is gone, not offered again.
      EXPECT_EQ(kEventNothing, PollConnectionEvent(connection));
      EXPECT_EQ(kEventNothing, PollConnectionEvent(connection));
      EXPECT_EQ("", ReadAll(4096));
    }
  }
  // The socket still works afterwards.
  Deliver("pong");
  EXPECT_EQ(kEventData, PollConnectionEvent(connection));
}

TEST_F(UdpExchange, ReadInPiecesOfTheGivenSize) {
  Bytes datagram = Pattern(1500);
  Deliver(datagram);
  ASSERT_EQ(kEventData, PollConnectionEvent(connection));
  char buffer[1024];
  EXPECT_EQ(1024, ReceiveData(connection, buffer, 1024));
  EXPECT_EQ(datagram.substr(0, 1024), Bytes(buffer, 1024));
  EXPECT_EQ(476, ReceiveData(connection, buffer, 1024));
  EXPECT_EQ(datagram.substr(1024), Bytes(buffer, 476));
  EXPECT_EQ(0, ReceiveData(connection, buffer, 1024));
}

TEST_F(UdpExchange, SizeZeroOrNegativeLeavesTheDatagramKept) {
  Deliver("pong");
  ASSERT_EQ(kEventData, PollConnectionEvent(connection));
  char buffer[16];
  EXPECT_EQ(0, ReceiveData(connection, buffer, 0));
  EXPECT_EQ(0, ReceiveData(connection, buffer, -5));
  EXPECT_EQ(4, UdpRecord(connection)->remaining);
  EXPECT_EQ(4, ReceiveData(connection, buffer, sizeof buffer));
}

TEST_F(UdpExchange, EachPollTakesOneDatagramAndReplacesAnUnreadOne) {
  ASSERT_EQ(5, peer.Reply("first"));
  ASSERT_EQ(6, peer.Reply("second"));
  ASSERT_TRUE(WaitReadable(UdpRecord(connection)->socket, 2000));
  EXPECT_EQ(kEventData, PollConnectionEvent(connection));
  EXPECT_EQ(kEventData, PollUntilEvent(connection));
  EXPECT_EQ("second", ReadAll(1024));
  EXPECT_EQ(kEventNothing, PollConnectionEvent(connection));
}

TEST_F(UdpExchange, PartlyReadDatagramSurvivesAnEmptyPoll) {
  Bytes datagram = Pattern(1500, 3);
  Deliver(datagram);
  ASSERT_EQ(kEventData, PollConnectionEvent(connection));
  char buffer[1024];
  ASSERT_EQ(1000, ReceiveData(connection, buffer, 1000));
  EXPECT_EQ(kEventNothing, PollConnectionEvent(connection));
  EXPECT_EQ(datagram.substr(1000), ReadAll(1024));
}

TEST_F(UdpExchange, AnEmptyDatagramCountsAsNothing) {
  Deliver("");
  EXPECT_EQ(kEventNothing, PollConnectionEvent(connection));
  Deliver("x");
  EXPECT_EQ(kEventData, PollConnectionEvent(connection));
  EXPECT_EQ("x", ReadAll(16));
}

TEST_F(UdpExchange, DatagramsFromAnySenderAreTakenIn) {
  UdpPeer stranger;
  ASSERT_TRUE(stranger.Ready());
  ASSERT_EQ(8, stranger.SendToPort(LocalPort(UdpRecord(connection)->socket), "stranger"));
  EXPECT_EQ(kEventData, PollUntilEvent(connection));
  EXPECT_EQ("stranger", ReadAll(1024));
}

// Windows answers a datagram sent to a port where nothing listens with a
// WSAECONNRESET from the next recvfrom; Wine reports nothing. Either way the
// poll reads it as silence, and later datagrams still arrive.
TEST(UdpRefusal, SendingToAClosedPortPollsAsNothing) {
  uint16_t closedPort = UnusedPort(AF_INET, SOCK_DGRAM);
  ConnectionHandle connection = OpenConnection(LITERAL(u"127.0.0.1"), closedPort, kModeUdp, 250);
  ASSERT_NE(0u, connection);
  for (int round = 0; round < 3; round++) {
    ASSERT_EQ(4, SendText(connection, LITERAL(u"ping")));
    Sleep(20);
    for (int i = 0; i < 5; i++) EXPECT_EQ(kEventNothing, PollConnectionEvent(connection));
  }
  UdpPeer stranger;
  ASSERT_EQ(4, stranger.SendToPort(LocalPort(UdpRecord(connection)->socket), "pong"));
  EXPECT_EQ(kEventData, PollUntilEvent(connection));
  char buffer[16];
  EXPECT_EQ(4, ReceiveData(connection, buffer, sizeof buffer));
  CloseConnection(connection);
}

// ---- storage of kept datagrams ----

TEST_F(UdpExchange, ReplacedDatagramIsReleasedAtOnce) {
  size_t base = ProgramHeapBytes();
  Deliver(Pattern(1000));
  ASSERT_EQ(kEventData, PollConnectionEvent(connection));
  size_t withFirst = ProgramHeapBytes();
  EXPECT_GE(withFirst, base + 1000);
  Deliver(Pattern(100));
  ASSERT_EQ(kEventData, PollConnectionEvent(connection));
  size_t withSecond = ProgramHeapBytes();
  EXPECT_GE(withSecond, base + 100);
  EXPECT_LT(withSecond, base + 1000);
  EXPECT_EQ(100u, ReadAll(1024).size());
  EXPECT_EQ(base, ProgramHeapBytes());
}

TEST(UdpStorage, DatagramStillKeptAtCloseIsReleased) {
  size_t base = ProgramHeapBytes();
  UdpPeer peer;
  ConnectionHandle connection = OpenConnection(LITERAL(u"127.0.0.1"), peer.Port(), kModeUdp, 0);
  ASSERT_NE(0u, connection);
  ASSERT_EQ(4, SendText(connection, LITERAL(u"ping")));
  Bytes greeting;
  ASSERT_TRUE(peer.Receive(&greeting));
  ASSERT_EQ(1500, peer.Reply(Pattern(1500)));
  ASSERT_EQ(kEventData, PollUntilEvent(connection));
  char buffer[100];
  ASSERT_EQ(100, ReceiveData(connection, buffer, sizeof buffer));
  EXPECT_GE(ProgramHeapBytes(), base + 1500);
  CloseConnection(connection);
  EXPECT_EQ(base, ProgramHeapBytes());
}

// A poll that cannot store the datagram must not report it: it is lost, and
// whatever was kept before stays readable.
TEST_F(UdpExchange, PollWithoutABlockForTheDatagramReportsNothing) {
  HANDLE fullHeap = HeapCreate(0, 0, 64 * 1024);
  ASSERT_NE(nullptr, fullHeap);
  while (HeapAlloc(fullHeap, 0, 1024)) {
  }

  Deliver(Pattern(2000));
  void* savedHeap = programHeap;
  programHeap = fullHeap;
  int32_t event = PollConnectionEvent(connection);
  programHeap = savedHeap;
  EXPECT_EQ(kEventNothing, event);
  EXPECT_EQ(nullptr, UdpRecord(connection)->keptDatagram);
  EXPECT_EQ("", ReadAll(4096));

  Deliver("earlier");
  ASSERT_EQ(kEventData, PollConnectionEvent(connection));
  Deliver(Pattern(2000));
  programHeap = fullHeap;
  event = PollConnectionEvent(connection);
  programHeap = savedHeap;
  EXPECT_EQ(kEventNothing, event);
  EXPECT_EQ("earlier", ReadAll(4096));
  HeapDestroy(fullHeap);
}
