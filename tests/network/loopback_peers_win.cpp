#include "loopback_peers_win.h"

#include <string.h>

#include "heap_walk_win.h"
#include "runtime/program_heap.h"

static int LoopbackAddress(int family, sockaddr_storage* address, uint16_t port) {
  memset(address, 0, sizeof *address);
  if (family == AF_INET6) {
    sockaddr_in6* ipv6 = reinterpret_cast<sockaddr_in6*>(address);
    ipv6->sin6_family = AF_INET6;
    ipv6->sin6_addr = in6addr_loopback;
    ipv6->sin6_port = htons(port);
    return sizeof(sockaddr_in6);
  }
  sockaddr_in* ipv4 = reinterpret_cast<sockaddr_in*>(address);
  ipv4->sin_family = AF_INET;
  ipv4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ipv4->sin_port = htons(port);
  return sizeof(sockaddr_in);
}

static uint16_t PortOf(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

uint16_t LocalPort(SOCKET socket) {
  sockaddr_storage address = {};
  int length = sizeof address;
  if (getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return PortOf(address);
}

static SOCKET BoundSocket(int family, int type) {
  SOCKET s = socket(family, type, 0);
  if (s == INVALID_SOCKET) return s;
  sockaddr_storage address;
  int length = LoopbackAddress(family, &address, 0);
  if (bind(s, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

UdpPeer::UdpPeer(int family) : family_(family) {
  socket_ = BoundSocket(family, SOCK_DGRAM);
  if (socket_ != INVALID_SOCKET) port_ = LocalPort(socket_);
}

UdpPeer::~UdpPeer() {
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
}

bool UdpPeer::Receive(Bytes* datagram, int timeoutMs) {
  if (!WaitReadable(socket_, timeoutMs)) return false;
  char buffer[65536];
  senderLength_ = sizeof sender_;
  int received = recvfrom(socket_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&sender_), &senderLength_);
  if (received < 0) return false;
  datagram->assign(buffer, size_t(received));
  return true;
}

uint16_t UdpPeer::SenderPort() const { return PortOf(sender_); }

int UdpPeer::Reply(const Bytes& datagram) {
  return sendto(socket_, datagram.data(), int(datagram.size()), 0, reinterpret_cast<const sockaddr*>(&sender_),
                senderLength_);
}

int UdpPeer::SendToPort(uint16_t port, const Bytes& datagram) {
  sockaddr_storage address;
  int length = LoopbackAddress(family_, &address, port);
  return sendto(socket_, datagram.data(), int(datagram.size()), 0, reinterpret_cast<sockaddr*>(&address), length);
}

TcpListener::TcpListener(int family, int backlog) {
  socket_ = BoundSocket(family, SOCK_STREAM);
  if (socket_ == INVALID_SOCKET) return;
  if (listen(socket_, backlog) != 0) {
    closesocket(socket_);
    socket_ = INVALID_SOCKET;
    return;
  }
  port_ = LocalPort(socket_);
}

TcpListener::~TcpListener() {
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
}

SOCKET TcpListener::Accept(int timeoutMs, uint16_t* peerPort) {
  if (!WaitReadable(socket_, timeoutMs)) return INVALID_SOCKET;
  sockaddr_storage peer = {};
  int length = sizeof peer;
  SOCKET accepted = accept(socket_, reinterpret_cast<sockaddr*>(&peer), &length);
  if (peerPort) *peerPort = PortOf(peer);
  return accepted;
}

uint16_t UnusedPort(int family, int type) {
  SOCKET s = BoundSocket(family, type);
  if (s == INVALID_SOCKET) return 0;
  uint16_t port = LocalPort(s);
  closesocket(s);
  return port;
}

bool Ipv6LoopbackAvailable() {
  SOCKET s = BoundSocket(AF_INET6, SOCK_DGRAM);
  if (s == INVALID_SOCKET) return false;
  closesocket(s);
  return true;
}

bool WaitReadable(SOCKET socket, int timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket, &readable);
  timeval wait = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return select(0, &readable, nullptr, nullptr, &wait) == 1;
}

Bytes ReceiveStream(SOCKET socket, size_t count, int timeoutMs) {
  Bytes bytes;
  DWORD deadline = GetTickCount() + DWORD(timeoutMs);
  while (bytes.size() < count) {
    int left = int(deadline - GetTickCount());
    if (left <= 0 || !WaitReadable(socket, left)) break;
    char buffer[4096];
    int want = int(count - bytes.size() < sizeof buffer ? count - bytes.size() : sizeof buffer);
    int received = recv(socket, buffer, want, 0);
    if (received <= 0) break;
    bytes.append(buffer, size_t(received));
  }
  return bytes;
}

bool SocketIsClosed(SOCKET socket) {
  return closesocket(socket) == SOCKET_ERROR && WSAGetLastError() == WSAENOTSOCK;
}

int32_t PollUntilEvent(ConnectionHandle connection, int timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    int32_t event = PollConnectionEvent(connection);
    if (event != kEventNothing || GetTickCount() - start > DWORD(timeoutMs)) return event;
    Sleep(2);
  }
}

SOCKET SocketOf(ConnectionHandle connection) {
  return IsUdpConnection(connection) ? UdpRecord(connection)->socket : TcpRecord(connection)->socket;
}

Bytes Pattern(size_t length, uint8_t seed) {
  Bytes bytes(length, '\0');
  for (size_t i = 0; i < length; i++) bytes[i] = char(uint8_t(i * 7 + seed + i / 251));
  return bytes;
}

String TempString(const std::u16string& text) {
  String s = AllocateTempString(int32_t(text.size()));
  memcpy(s, text.data(), 2 * text.size());
  s[text.size()] = 0;
  return s;
}

size_t ProgramHeapBytes() { return HeapBytesInUse(programHeap); }
