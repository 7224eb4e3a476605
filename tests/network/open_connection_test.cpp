// Opening connections against real loopback sockets: what waits, what resolves,
// which mode and port bits count, and where the local end is bound.
#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "loopback_peers_win.h"

namespace {
const uint32_t kTcp = 0;

class Stopwatch {
 public:
  Stopwatch() : start_(GetTickCount()) {}
  DWORD Elapsed() const { return GetTickCount() - start_; }

 private:
  DWORD start_;
};

void ExpectIpv4Peer(ConnectionHandle connection, uint32_t address, uint16_t port) {
  const UdpConnection* record = UdpRecord(connection);
  EXPECT_EQ(kConnectionKindUdp, record->kind);
  EXPECT_EQ(0, record->peerIsIpv6);
  EXPECT_EQ(AF_INET, record->peer.ipv4.sin_family);
  EXPECT_EQ(htons(port), record->peer.ipv4.sin_port);
  EXPECT_EQ(address, record->peer.ipv4.sin_addr.s_addr);
}
}  // namespace

// ---- start-up state ----

TEST(NetworkStartup, FindsWinsockAndTheResolverEntryPoints) {
  EXPECT_EQ(1, networkLibrary.started);
  EXPECT_NE(nullptr, networkLibrary.module);
  EXPECT_NE(nullptr, networkLibrary.getAddrInfo);
  EXPECT_NE(nullptr, networkLibrary.freeAddrInfo);
  EXPECT_NE(nullptr, networkLibrary.getNameInfo);
  EXPECT_NE(nullptr, networkLibrary.stringToAddress);
  EXPECT_EQ(1u, networkLibrary.ipv6Support);
  EXPECT_NE(nullptr, networkLibrary.servers);
  EXPECT_EQ(0u, networkLibrary.secureProviderPresent);
}

// ---- UDP opens ----

TEST(OpenUdp, NeverWaitsAndNeedsNoListener) {
  uint16_t port = UnusedPort(AF_INET, SOCK_DGRAM);
  for (int32_t timeout : {-1, 0, 250, 5000}) {
    SCOPED_TRACE(timeout);
    Stopwatch watch;
    ConnectionHandle connection = OpenConnection(LITERAL(u"127.0.0.1"), port, kModeUdp, timeout);
    EXPECT_LT(watch.Elapsed(), 1000u);
    ASSERT_NE(0u, connection);
    ExpectIpv4Peer(connection, htonl(INADDR_LOOPBACK), port);
    EXPECT_EQ(nullptr, UdpRecord(connection)->server);
    EXPECT_EQ(nullptr, UdpRecord(connection)->keptDatagram);
    // Unconnected and not yet sent from: the socket has no local port.
    EXPECT_EQ(0, LocalPort(UdpRecord(connection)->socket));
    CloseConnection(connection);
  }
}

// ---- TCP opens ----

TEST(OpenTcp, ClosedPortFails) {
  uint16_t port = UnusedPort(AF_INET, SOCK_STREAM);
  for (int32_t timeout : {250, 0, 1500}) {
    SCOPED_TRACE(timeout);
    Stopwatch watch;
    EXPECT_EQ(0u, OpenConnection(LITERAL(u"127.0.0.1"), port, kTcp, timeout));
    EXPECT_LT(watch.Elapsed(), 2000u);
  }
}

// A listener whose backlog is full: Linux, and so Wine, drops further SYNs and
// a connect waits; Windows refuses them at once. Either way the open fails, and
// it never waits much longer than its time-out.
TEST(OpenTcp, WaitEndsWithTheTimeOut) {
  TcpListener listener(AF_INET, 1);
  ASSERT_TRUE(listener.Ready());
  std::vector<SOCKET> waiting;
  bool synsDropped = false;
  for (int i = 0; i < 8 && !synsDropped; i++) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(listener.Port());
    connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(s, &writable);
    timeval wait = {0, 100000};
    synsDropped = select(0, nullptr, &writable, nullptr, &wait) == 0;
    waiting.push_back(s);
  }
  for (int32_t timeout : {250, 1500}) {
    SCOPED_TRACE(timeout);
    Stopwatch watch;
    EXPECT_EQ(0u, OpenConnection(LITERAL(u"127.0.0.1"), listener.Port(), kTcp, timeout));
    EXPECT_LT(watch.Elapsed(), DWORD(timeout) + 1000);
    if (synsDropped) EXPECT_GE(watch.Elapsed(), DWORD(timeout) - 50);
  }
  for (SOCKET s : waiting) closesocket(s);
}

TEST(OpenTcp, ConnectsToAListenerAndIsBlockingAfterwards) {
  TcpListener listener;
  ASSERT_TRUE(listener.Ready());
  for (int32_t timeout : {0, -7, 1, 1500}) {
    SCOPED_TRACE(timeout);
    ConnectionHandle connection = OpenConnection(LITERAL(u"127.0.0.1"), listener.Port(), kTcp, timeout);
    ASSERT_NE(0u, connection);
    EXPECT_EQ(0u, TcpRecord(connection)->mode);
    EXPECT_EQ(nullptr, TcpRecord(connection)->server);
    SOCKET accepted = listener.Accept();
    ASSERT_NE(INVALID_SOCKET, accepted);

    // A blocking socket waits out the receive time-out; a non-blocking one
    // would fail at once with WSAEWOULDBLOCK.
    DWORD receiveTimeout = 100;
    setsockopt(TcpRecord(connection)->socket, SOL_SOCKET, SO_RCVTIMEO,
               reinterpret_cast<const char*>(&receiveTimeout), sizeof receiveTimeout);
    char byte;
    EXPECT_EQ(SOCKET_ERROR, ReceiveData(connection, &byte, 1));
    EXPECT_EQ(WSAETIMEDOUT, WSAGetLastError());

    EXPECT_EQ(3, SendData(connection, "abc", 3));
    EXPECT_EQ("abc", ReceiveStream(accepted, 3));
    closesocket(accepted);
    CloseConnection(connection);
  }
}

// ---- mode and port bits ----

TEST(OpenConnection, OnlyTheLow16BitsOfThePortCount) {
  UdpPeer peer;
  TcpListener listener;
  ASSERT_TRUE(peer.Ready() && listener.Ready());
  for (int32_t high : {0x10000, 0x7FFF0000, int32_t(0xFFFF0000)}) {
    SCOPED_TRACE(high);
    ConnectionHandle udp = OpenConnection(LITERAL(u"127.0.0.1"), high | peer.Port(), kModeUdp, 0);
    ASSERT_NE(0u, udp);
    EXPECT_EQ(4, SendText(udp, LITERAL(u"ping")));
    Bytes datagram;
    EXPECT_TRUE(peer.Receive(&datagram));
    EXPECT_EQ("ping", datagram);
    CloseConnection(udp);

    ConnectionHandle tcp = OpenConnection(LITERAL(u"127.0.0.1"), high | listener.Port(), kTcp, 250);
    ASSERT_NE(0u, tcp);
    SOCKET accepted = listener.Accept();
    EXPECT_NE(INVALID_SOCKET, accepted);
    closesocket(accepted);
    CloseConnection(tcp);
  }
}

TEST(OpenConnection, SecureModeBitsAlwaysFail) {
  UdpPeer peer;
  TcpListener listener;
  ASSERT_TRUE(peer.Ready() && listener.Ready());
  for (uint32_t secure : {4u, 8u, 16u, 32u, 0x3Cu}) {
    SCOPED_TRACE(secure);
    EXPECT_EQ(0u, OpenConnection(LITERAL(u"127.0.0.1"), peer.Port(), kModeUdp | secure, 250));
    EXPECT_EQ(0u, OpenConnection(LITERAL(u"127.0.0.1"), listener.Port(), kTcp | secure, 250));
    EXPECT_EQ(0u, OpenConnection(LITERAL(u"127.0.0.1"), listener.Port(), kTcp | secure, 0));
  }
  // Refused before any connect was tried.
  EXPECT_EQ(INVALID_SOCKET, listener.Accept(200));
}

TEST(OpenConnection, OtherModeBitsAreKeptButIgnored) {
  TcpListener listener;
  ASSERT_TRUE(listener.Ready());
  ConnectionHandle connection = OpenConnection(LITERAL(u"127.0.0.1"), listener.Port(), 0x100, 250);
  ASSERT_NE(0u, connection);
  EXPECT_EQ(0x100u, TcpRecord(connection)->mode);
  SOCKET accepted = listener.Accept();
  EXPECT_NE(INVALID_SOCKET, accepted);
  closesocket(accepted);
  CloseConnection(connection);
}

// ---- hosts ----

TEST(OpenConnection, NullHostGivesZero) {
  for (uint32_t mode : {0u, kModeUdp, kModeIpv6, kModeUdp | kModeIpv6}) {
    EXPECT_EQ(0u, OpenConnection(nullptr, 20000, mode, 250)) << mode;
  }
}

TEST(OpenConnection, NumericAddressAndHostName) {
  UdpPeer peer;
  TcpListener listener;
  ASSERT_TRUE(peer.Ready() && listener.Ready());
  for (String host : {LITERAL(u"127.0.0.1"), LITERAL(u"localhost")}) {
    ConnectionHandle udp = OpenConnection(host, peer.Port(), kModeUdp, 250);
    ASSERT_NE(0u, udp);
    ExpectIpv4Peer(udp, htonl(INADDR_LOOPBACK), peer.Port());
    EXPECT_EQ(4, SendText(udp, LITERAL(u"ping")));
    Bytes datagram;
    EXPECT_TRUE(peer.Receive(&datagram));
    CloseConnection(udp);

    ConnectionHandle tcp = OpenConnection(host, listener.Port(), kTcp, 250);
    ASSERT_NE(0u, tcp);
    SOCKET accepted = listener.Accept();
    EXPECT_NE(INVALID_SOCKET, accepted);
    closesocket(accepted);
    CloseConnection(tcp);
  }
}

TEST(OpenConnection, UnresolvableHostsGiveZero) {
  struct Case {
    String host;
    uint32_t mode;
  } cases[] = {
      {LITERAL(u"no-such-host.invalid"), kModeUdp},
      {LITERAL(u"no-such-host.invalid"), kTcp},
      {LITERAL(u"no-such-host.invalid"), kModeUdp | kModeIpv6},
      // The all-ones address reads as a failed look-up.
      {LITERAL(u"255.255.255.255"), kModeUdp},
      {LITERAL(u"300.1.2.3"), kModeUdp},
      // getaddrinfo answers with an IPv4 address only; it must not be taken for IPv6.
      {LITERAL(u"127.0.0.1"), kModeUdp | kModeIpv6},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(0u, OpenConnection(c.host, 20000, c.mode, 250)) << c.mode;
  }
}

TEST(OpenConnection, EmptyHostGoesToTheResolver) {
  // What the platform makes of an empty name (usually this machine) is what the
  // open gets; it is not refused up front like a null host.
  uint32_t expected = inet_addr("");
  if (expected == INADDR_NONE) {
    hostent* entry = gethostbyname("");
    if (entry && entry->h_addr_list[0]) memcpy(&expected, entry->h_addr_list[0], 4);
  }
  ConnectionHandle connection = OpenConnection(SharedEmptyString(), 20000, kModeUdp, 0);
  if (expected == INADDR_NONE) {
    EXPECT_EQ(0u, connection);
    return;
  }
  ASSERT_NE(0u, connection);
  ExpectIpv4Peer(connection, expected, 20000);
  CloseConnection(connection);
}

// ---- IPv6 ----

TEST(OpenIpv6, LoopbackOverUdpAndTcp) {
  if (!Ipv6LoopbackAvailable()) GTEST_SKIP() << "no IPv6 loopback (::1) on this system";
  UdpPeer peer(AF_INET6);
  ASSERT_TRUE(peer.Ready());
  ConnectionHandle udp = OpenConnection(LITERAL(u"::1"), peer.Port(), kModeUdp | kModeIpv6, 250);
  ASSERT_NE(0u, udp);
  const UdpConnection* record = UdpRecord(udp);
  EXPECT_EQ(1, record->peerIsIpv6);
  EXPECT_EQ(AF_INET6, record->peer.ipv6.sin6_family);
  EXPECT_EQ(htons(peer.Port()), record->peer.ipv6.sin6_port);
  EXPECT_EQ(0, memcmp(&in6addr_loopback, &record->peer.ipv6.sin6_addr, 16));
  EXPECT_EQ(0u, record->peer.ipv6.sin6_flowinfo);
  EXPECT_EQ(0u, record->peer.ipv6.sin6_scope_id);
  EXPECT_EQ(4, SendText(udp, LITERAL(u"ping")));
  Bytes datagram;
  ASSERT_TRUE(peer.Receive(&datagram));
  EXPECT_EQ("ping", datagram);
  EXPECT_EQ(4, peer.Reply("pong"));
  EXPECT_EQ(kEventData, PollUntilEvent(udp));
  char reply[16];
  EXPECT_EQ(4, ReceiveData(udp, reply, sizeof reply));
  CloseConnection(udp);

  TcpListener listener(AF_INET6);
  ASSERT_TRUE(listener.Ready());
  for (int32_t timeout : {0, 250}) {
    ConnectionHandle tcp = OpenConnection(LITERAL(u"::1"), listener.Port(), kModeIpv6, timeout);
    ASSERT_NE(0u, tcp) << timeout;
    SOCKET accepted = listener.Accept();
    EXPECT_NE(INVALID_SOCKET, accepted);
    closesocket(accepted);
    CloseConnection(tcp);
  }
}

// Windows resolves "localhost" to ::1 as well as 127.0.0.1; Wine takes the
// host's /etc/hosts, which may name 127.0.0.1 only. IPv4 answers are skipped,
// so the open either reaches ::1 or fails, and never reads an IPv4 address as IPv6.
TEST(OpenIpv6, HostNameTakesTheFirstIpv6Answer) {
  addrinfo* results = nullptr;
  ASSERT_EQ(0, getaddrinfo("localhost", nullptr, nullptr, &results));
  bool hasIpv6 = false;
  for (addrinfo* result = results; result; result = result->ai_next) hasIpv6 |= result->ai_family == AF_INET6;
  freeaddrinfo(results);

  ConnectionHandle connection = OpenConnection(LITERAL(u"localhost"), 20000, kModeUdp | kModeIpv6, 0);
  if (!hasIpv6) {
    EXPECT_EQ(0u, connection);
    return;
  }
  ASSERT_NE(0u, connection);
  EXPECT_EQ(AF_INET6, UdpRecord(connection)->peer.ipv6.sin6_family);
  EXPECT_EQ(0, memcmp(&in6addr_loopback, &UdpRecord(connection)->peer.ipv6.sin6_addr, 16));
  CloseConnection(connection);
}

TEST(OpenIpv6, ClosedTcpPortFails) {
  if (!Ipv6LoopbackAvailable()) GTEST_SKIP() << "no IPv6 loopback (::1) on this system";
  uint16_t port = UnusedPort(AF_INET6, SOCK_STREAM);
  Stopwatch watch;
  EXPECT_EQ(0u, OpenConnection(LITERAL(u"::1"), port, kModeIpv6, 250));
  EXPECT_LT(watch.Elapsed(), 2000u);
}

TEST(OpenIpv6, FailsWithoutTheResolverEntryPointsWhileIpv4Works) {
  uint32_t saved = networkLibrary.ipv6Support;
  networkLibrary.ipv6Support = 0;
  EXPECT_EQ(0u, OpenConnection(LITERAL(u"::1"), 20000, kModeUdp | kModeIpv6, 0));
  ConnectionHandle ipv4 = OpenConnection(LITERAL(u"127.0.0.1"), 20000, kModeUdp, 0);
  networkLibrary.ipv6Support = saved;
  EXPECT_NE(0u, ipv4);
  CloseConnection(ipv4);
}

TEST(ParseAddressLiteral, NumericTextsOfBothFamilies) {
  static const uint8_t loopback4[4] = {127, 0, 0, 1};
  static const uint8_t linkLocal[16] = {0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  struct Case {
    int32_t family;
    const char* text;
    int32_t parsed;
    const uint8_t* address;
    size_t size;
  } cases[] = {
      {AF_INET, "127.0.0.1", 1, loopback4, 4},
      {AF_INET6, "::1", 1, in6addr_loopback.s6_addr, 16},
      {AF_INET6, "fe80::1", 1, linkLocal, 16},
      {AF_INET, "localhost", 0, nullptr, 0},
      {AF_INET6, "127.0.0.1", 0, nullptr, 0},
      {AF_INET6, "::1::2", 0, nullptr, 0},
      {AF_INET6, "", 0, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    uint8_t address[16];
    memset(address, 0xAA, sizeof address);
    EXPECT_EQ(c.parsed, ParseAddressLiteral(c.family, c.text, address));
    if (c.parsed) EXPECT_EQ(0, memcmp(c.address, address, c.size));
  }
  // Text beyond 65 bytes is never looked at, however long it is.
  std::string longText(5000, ':');
  uint8_t address[16];
  EXPECT_EQ(0, ParseAddressLiteral(AF_INET6, longText.c_str(), address));
}

// ---- local endpoint ----

TEST(OpenWithLocalEndpoint, BindsTheGivenPortAndAddress) {
  UdpPeer peer;
  ASSERT_TRUE(peer.Ready());
  struct Case {
    String localAddress;
    uint32_t expectedAddress;
  } cases[] = {
      {LITERAL(u"127.0.0.1"), htonl(INADDR_LOOPBACK)},
      {nullptr, INADDR_ANY},
      {SharedEmptyString(), INADDR_ANY},
  };
  for (const Case& c : cases) {
    uint16_t localPort = UnusedPort(AF_INET, SOCK_DGRAM);
    ConnectionHandle connection =
        OpenConnection(LITERAL(u"127.0.0.1"), peer.Port(), kModeUdp, 0, c.localAddress, localPort);
    ASSERT_NE(0u, connection);
    sockaddr_in local = {};
    int length = sizeof local;
    ASSERT_EQ(0, getsockname(UdpRecord(connection)->socket, reinterpret_cast<sockaddr*>(&local), &length));
    EXPECT_EQ(htons(localPort), local.sin_port);
    EXPECT_EQ(c.expectedAddress, local.sin_addr.s_addr);
    EXPECT_EQ(4, SendText(connection, LITERAL(u"ping")));
    Bytes datagram;
    ASSERT_TRUE(peer.Receive(&datagram));
    EXPECT_EQ(localPort, peer.SenderPort());
    CloseConnection(connection);
  }
}

TEST(OpenWithLocalEndpoint, TcpConnectsFromTheBoundPort) {
  TcpListener listener;
  ASSERT_TRUE(listener.Ready());
  uint16_t localPort = UnusedPort(AF_INET, SOCK_STREAM);
  ConnectionHandle connection =
      OpenConnection(LITERAL(u"127.0.0.1"), listener.Port(), kTcp, 250, LITERAL(u"127.0.0.1"), localPort);
  ASSERT_NE(0u, connection);
  uint16_t peerPort = 0;
  SOCKET accepted = listener.Accept(2000, &peerPort);
  EXPECT_NE(INVALID_SOCKET, accepted);
  EXPECT_EQ(localPort, peerPort);
  closesocket(accepted);
  CloseConnection(connection);
}

TEST(OpenWithLocalEndpoint, Ipv6LocalAddress) {
  if (!Ipv6LoopbackAvailable()) GTEST_SKIP() << "no IPv6 loopback (::1) on this system";
  UdpPeer peer(AF_INET6);
  ASSERT_TRUE(peer.Ready());
  uint16_t localPort = UnusedPort(AF_INET6, SOCK_DGRAM);
  ConnectionHandle connection = OpenConnection(LITERAL(u"::1"), peer.Port(), kModeUdp | kModeIpv6, 0,
                                               LITERAL(u"::1"), localPort);
  ASSERT_NE(0u, connection);
  sockaddr_in6 local = {};
  int length = sizeof local;
  ASSERT_EQ(0, getsockname(UdpRecord(connection)->socket, reinterpret_cast<sockaddr*>(&local), &length));
  EXPECT_EQ(htons(localPort), local.sin6_port);
  EXPECT_EQ(0, memcmp(&in6addr_loopback, &local.sin6_addr, 16));
  CloseConnection(connection);
}

TEST(OpenWithLocalEndpoint, FailedBindGivesZero) {
  UdpPeer peer;
  UdpPeer occupant;
  ASSERT_TRUE(peer.Ready() && occupant.Ready());
  // The port is taken.
  EXPECT_EQ(0u, OpenConnection(LITERAL(u"127.0.0.1"), peer.Port(), kModeUdp, 0, LITERAL(u"127.0.0.1"),
                               occupant.Port()));
  // A name is no local address: inet_addr makes it the broadcast address.
  for (String local : {LITERAL(u"localhost"), LITERAL(u"255.255.255.255")}) {
    EXPECT_EQ(0u, OpenConnection(LITERAL(u"127.0.0.1"), peer.Port(), kModeUdp, 0, local, 0));
  }
}
