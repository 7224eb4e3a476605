// Opening and closing in a loop leaves nothing behind: no record, no kept
// datagram, no open socket. Server objects are swept with all their clients.
#include <gtest/gtest.h>

#include <windows.h>

#include "loopback_peers_win.h"
#include "runtime/program_heap.h"

TEST(ConnectionLifetime, UdpCyclesLeaveNothingBehind) {
  UdpPeer peer;
  ASSERT_TRUE(peer.Ready());
  size_t base = ProgramHeapBytes();
  for (int cycle = 0; cycle < 1000; cycle++) {
    ConnectionHandle connection = OpenConnection(LITERAL(u"127.0.0.1"), peer.Port(), kModeUdp, 250);
    ASSERT_NE(0u, connection) << cycle;
    ASSERT_EQ(4, SendText(connection, LITERAL(u"ping")));
    Bytes datagram;
    ASSERT_TRUE(peer.Receive(&datagram)) << cycle;
    ASSERT_EQ(4, peer.Reply("pong"));
    ASSERT_EQ(kEventData, PollUntilEvent(connection)) << cycle;
    // Every third connection closes with its reply still kept.
    if (cycle % 3 != 0) {
      char buffer[16];
      ASSERT_EQ(4, ReceiveData(connection, buffer, sizeof buffer));
    }
    SOCKET socket = SocketOf(connection);
    CloseConnection(connection);
    ASSERT_TRUE(SocketIsClosed(socket)) << cycle;
  }
  EXPECT_EQ(base, ProgramHeapBytes());
}

TEST(ConnectionLifetime, TcpCyclesLeaveNothingBehind) {
  TcpListener listener;
  ASSERT_TRUE(listener.Ready());
  size_t base = ProgramHeapBytes();
  for (int cycle = 0; cycle < 200; cycle++) {
    ConnectionHandle connection = OpenConnection(LITERAL(u"127.0.0.1"), listener.Port(), 0, cycle % 2 ? 250 : 0);
    ASSERT_NE(0u, connection) << cycle;
    SOCKET farEnd = listener.Accept();
    ASSERT_NE(INVALID_SOCKET, farEnd);
    ASSERT_EQ(4, SendText(connection, LITERAL(u"ping")));
    ASSERT_EQ("ping", ReceiveStream(farEnd, 4));
    ASSERT_EQ(4, send(farEnd, "pong", 4, 0));
    ASSERT_EQ(kEventData, PollUntilEvent(connection));
    SOCKET socket = SocketOf(connection);
    CloseConnection(connection);
    ASSERT_TRUE(SocketIsClosed(socket)) << cycle;
    closesocket(farEnd);
  }
  EXPECT_EQ(base, ProgramHeapBytes());
}

TEST(ConnectionLifetime, FailedOpensLeaveNothingBehind) {
  uint16_t closedPort = UnusedPort(AF_INET, SOCK_STREAM);
  size_t base = ProgramHeapBytes();
  for (int cycle = 0; cycle < 50; cycle++) {
    ASSERT_EQ(0u, OpenConnection(LITERAL(u"127.0.0.1"), closedPort, 0, 250));
    ASSERT_EQ(0u, OpenConnection(LITERAL(u"no-such-host.invalid"), 20000, kModeUdp, 0));
  }
  EXPECT_EQ(base, ProgramHeapBytes());
}

// ---- server objects ----
// Nothing in the program makes a server; these build them by hand to check the
// sweep at shutdown and the closing of a server's client records.

namespace {
ServerObject* AddServer(uint32_t mode, SOCKET socket) {
  ServerObject* server = static_cast<ServerObject*>(AddDynamicObject(networkLibrary.servers));
  if (!server) return nullptr;
  server->inUse = 1;
  server->mode = mode;
  server->socket = socket;
  return server;
}

ConnectionHandle AddClient(ServerObject* server, SOCKET socket) {
  ClientNode* node = static_cast<ClientNode*>(ProgramHeapAllocate(sizeof(ClientNode)));
  if (server->mode & kModeUdp) {
    node->record.udp.kind = kConnectionKindUdp;
    node->record.udp.server = server;
    node->record.udp.socket = socket;
  } else {
    node->record.tcp.socket = socket;
    node->record.tcp.server = server;
  }
  node->next = server->clients;
  if (server->clients) server->clients->previous = node;
  server->clients = node;
  return ConnectionHandle(&node->record);
}

SOCKET LoopbackSocket(int type) {
  SOCKET s = socket(AF_INET, type, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  if (type == SOCK_STREAM) listen(s, 4);
  return s;
}

SOCKET ConnectTo(uint16_t port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  return s;
}

SOCKET AcceptFrom(SOCKET listening) {
  if (!WaitReadable(listening, 2000)) return INVALID_SOCKET;
  return accept(listening, nullptr, nullptr);
}

bool SocketIsOpen(SOCKET socket) {
  int type = 0;
  int length = sizeof type;
  return getsockopt(socket, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) == 0;
}
}  // namespace

TEST(ServerRegistry, SweepClosesServersAndTheirClients) {
  size_t base = ProgramHeapBytes();
  SOCKET listening = LoopbackSocket(SOCK_STREAM);
  ServerObject* tcpServer = AddServer(0, listening);
  ASSERT_NE(nullptr, tcpServer);
  SOCKET callers[2], accepted[2];
  for (int i = 0; i < 2; i++) {
    callers[i] = ConnectTo(LocalPort(listening));
    accepted[i] = AcceptFrom(listening);
    ASSERT_NE(INVALID_SOCKET, accepted[i]);
    AddClient(tcpServer, accepted[i]);
  }
  SOCKET receiving = LoopbackSocket(SOCK_DGRAM);
  ServerObject* udpServer = AddServer(kModeUdp, receiving);
  ASSERT_NE(nullptr, udpServer);
  ConnectionHandle udpClient = AddClient(udpServer, receiving);
  UdpRecord(udpClient)->keptDatagram = static_cast<uint8_t*>(ProgramHeapAllocate(100));
  UdpRecord(udpClient)->remaining = 100;

  FreeServerObject(networkLibrary.servers, kAllServers);

  EXPECT_TRUE(SocketIsClosed(listening));
  EXPECT_TRUE(SocketIsClosed(accepted[0]));
  EXPECT_TRUE(SocketIsClosed(accepted[1]));
  EXPECT_TRUE(SocketIsClosed(receiving));
  EXPECT_EQ(nullptr, LookUpObject(networkLibrary.servers, intptr_t(tcpServer)));
  EXPECT_EQ(nullptr, LookUpObject(networkLibrary.servers, intptr_t(udpServer)));
  EXPECT_EQ(base, ProgramHeapBytes());
  for (SOCKET caller : callers) closesocket(caller);
}

TEST(ServerRegistry, ClosingAClientOfAServer) {
  size_t base = ProgramHeapBytes();
  UdpPeer peer;
  SOCKET receiving = LoopbackSocket(SOCK_DGRAM);
  ServerObject* udpServer = AddServer(kModeUdp, receiving);
  ASSERT_NE(nullptr, udpServer);
  ConnectionHandle first = AddClient(udpServer, receiving);
  ConnectionHandle second = AddClient(udpServer, receiving);
  // A UDP client answers from the server's own socket.
  UdpRecord(second)->peer.ipv4.sin_family = AF_INET;
  UdpRecord(second)->peer.ipv4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  UdpRecord(second)->peer.ipv4.sin_port = htons(peer.Port());
  EXPECT_EQ(4, SendText(second, LITERAL(u"pong")));
  Bytes datagram;
  ASSERT_TRUE(peer.Receive(&datagram));
  EXPECT_EQ(LocalPort(receiving), peer.SenderPort());
  UdpRecord(first)->keptDatagram = static_cast<uint8_t*>(ProgramHeapAllocate(50));
  UdpRecord(first)->remaining = 50;

  CloseConnection(second);
  ASSERT_NE(nullptr, udpServer->clients);
  EXPECT_EQ(first, ConnectionHandle(&udpServer->clients->record));
  EXPECT_EQ(nullptr, udpServer->clients->previous);
  CloseConnection(first);
  EXPECT_EQ(nullptr, udpServer->clients);
  EXPECT_TRUE(SocketIsOpen(receiving));

  SOCKET listening = LoopbackSocket(SOCK_STREAM);
  ServerObject* tcpServer = AddServer(0, listening);
  SOCKET caller = ConnectTo(LocalPort(listening));
  SOCKET accepted = AcceptFrom(listening);
  ASSERT_NE(INVALID_SOCKET, accepted);
  ConnectionHandle tcpClient = AddClient(tcpServer, accepted);
  CloseConnection(tcpClient);
  EXPECT_TRUE(SocketIsClosed(accepted));
  EXPECT_EQ(nullptr, tcpServer->clients);
  EXPECT_TRUE(SocketIsOpen(listening));

  FreeServerObject(networkLibrary.servers, intptr_t(udpServer));
  FreeServerObject(networkLibrary.servers, intptr_t(tcpServer));
  EXPECT_TRUE(SocketIsClosed(receiving));
  EXPECT_TRUE(SocketIsClosed(listening));
  EXPECT_EQ(base, ProgramHeapBytes());
  closesocket(caller);
}
