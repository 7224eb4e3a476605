#pragma once
// The far ends of the connections under test: plain Winsock sockets on the
// loopback addresses, plus ways to look inside a connection record.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <stdint.h>

#include <string>

#include "runtime/network/connection_records.h"

typedef std::string Bytes;

// A datagram socket bound to 127.0.0.1 or ::1 on a port of the system's choice.
class UdpPeer {
 public:
  explicit UdpPeer(int family = AF_INET);
  ~UdpPeer();
  bool Ready() const { return socket_ != INVALID_SOCKET; }
  uint16_t Port() const { return port_; }
  // One datagram within timeoutMs, remembering its sender; false if none came.
  bool Receive(Bytes* datagram, int timeoutMs = 2000);
  uint16_t SenderPort() const;
  int Reply(const Bytes& datagram);  // to the last sender
  int SendToPort(uint16_t port, const Bytes& datagram);

 private:
  int family_;
  SOCKET socket_ = INVALID_SOCKET;
  uint16_t port_ = 0;
  sockaddr_storage sender_ = {};
  int senderLength_ = 0;
};

// A listening stream socket on 127.0.0.1 or ::1.
class TcpListener {
 public:
  explicit TcpListener(int family = AF_INET, int backlog = 16);
  ~TcpListener();
  bool Ready() const { return socket_ != INVALID_SOCKET; }
  uint16_t Port() const { return port_; }
  // The next connection within timeoutMs, or INVALID_SOCKET.
  SOCKET Accept(int timeoutMs = 2000, uint16_t* peerPort = nullptr);

 private:
  SOCKET socket_ = INVALID_SOCKET;
  uint16_t port_ = 0;
};

// A loopback port where nothing is bound at the moment.
uint16_t UnusedPort(int family, int type);
bool Ipv6LoopbackAvailable();
// Waits until `socket` is readable; false after timeoutMs.
bool WaitReadable(SOCKET socket, int timeoutMs);
// Bytes received on a stream socket within timeoutMs, up to `count`.
Bytes ReceiveStream(SOCKET socket, size_t count, int timeoutMs = 2000);
// The local port of a socket, 0 when it has none yet.
uint16_t LocalPort(SOCKET socket);
// Closing an already closed socket fails with WSAENOTSOCK.
bool SocketIsClosed(SOCKET socket);

// Polls every few milliseconds until an event other than 0 or the deadline.
int32_t PollUntilEvent(ConnectionHandle connection, int timeoutMs = 2000);

inline UdpConnection* UdpRecord(ConnectionHandle connection) {
  return reinterpret_cast<UdpConnection*>(connection);
}
inline TcpConnection* TcpRecord(ConnectionHandle connection) {
  return reinterpret_cast<TcpConnection*>(connection);
}
SOCKET SocketOf(ConnectionHandle connection);

Bytes Pattern(size_t length, uint8_t seed = 0);
String TempString(const std::u16string& text);
size_t ProgramHeapBytes();
