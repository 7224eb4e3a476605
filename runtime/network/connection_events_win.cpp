// Polling, receiving and sending on open connections. A TCP poll only asks the
// socket; a UDP poll takes one datagram off the socket and keeps it in the
// record until ReceiveData has handed all of it out.
#include <string.h>

#include "../program_heap.h"
#include "../strings/string_functions.h"
#include "connection_records.h"

// Larger datagrams do not fit and are lost; the platform reports them as an error.
static const int kDatagramBufferSize = 2048;

static void ReleaseKeptDatagram(UdpConnection* record) {
  ProgramHeapFree(record->keptDatagram);
  record->keptDatagram = nullptr;
  record->readPosition = nullptr;
  record->remaining = 0;
}

static SOCKET UdpSocket(const UdpConnection* record) {
  return record->server ? record->server->socket : record->socket;
}

static int32_t PollUdp(UdpConnection* record) {
  char datagram[kDatagramBufferSize];
  // Any error counts as silence, among them the refusal that Windows reports
  // for an earlier send to a port where nothing listens.
  int received = recvfrom(UdpSocket(record), datagram, sizeof datagram, 0, nullptr, nullptr);
  if (received <= 0) return kEventNothing;
  // Without a block the datagram is lost and the record stays as it was.
  uint8_t* block = static_cast<uint8_t*>(ProgramHeapAllocate(size_t(received)));
  if (!block) return kEventNothing;
  memcpy(block, datagram, size_t(received));
  ReleaseKeptDatagram(record);
  record->keptDatagram = block;
  record->readPosition = block;
  record->remaining = received;
  return kEventData;
}

static int32_t PollTcp(const TcpConnection* record) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(record->socket, &readable);
  timeval noWait = {0, 0};
  int ready = select(int(record->socket + 1), &readable, nullptr, nullptr, &noWait);
  if (ready < 0) return kEventClosed;
  if (ready == 0 || !FD_ISSET(record->socket, &readable)) return kEventNothing;
  // Readable with nothing to read means the peer has closed.
  u_long waiting = 0;
  if (ioctlsocket(record->socket, FIONREAD, &waiting) != 0) return kEventClosed;
  return waiting == 0 ? kEventClosed : kEventData;
}

int32_t PollConnectionEvent(ConnectionHandle connection) {
  if (!connection) return kEventNothing;
  if (IsUdpConnection(connection)) return PollUdp(reinterpret_cast<UdpConnection*>(connection));
  return PollTcp(reinterpret_cast<TcpConnection*>(connection));
}

int32_t ReceiveData(ConnectionHandle connection, void* buffer, int32_t size) {
  if (!connection) return 0;
  if (!IsUdpConnection(connection)) {
    return recv(reinterpret_cast<TcpConnection*>(connection)->socket, static_cast<char*>(buffer), size, 0);
  }
  UdpConnection* record = reinterpret_cast<UdpConnection*>(connection);
  if (!record->keptDatagram || size <= 0) return 0;
  int32_t count = size < record->remaining ? size : record->remaining;
  memcpy(buffer, record->readPosition, size_t(count));
  record->readPosition += count;
  record->remaining -= count;
  if (record->remaining == 0) ReleaseKeptDatagram(record);
  return count;
}

int32_t SendData(ConnectionHandle connection, const void* buffer, int32_t length) {
  if (!connection) return SOCKET_ERROR;
  const char* bytes = static_cast<const char*>(buffer);
  if (!IsUdpConnection(connection)) {
    return send(reinterpret_cast<TcpConnection*>(connection)->socket, bytes, length, 0);
  }
  const UdpConnection* record = reinterpret_cast<const UdpConnection*>(connection);
  int peerLength = record->peerIsIpv6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  return sendto(UdpSocket(record), bytes, length, 0, reinterpret_cast<const sockaddr*>(&record->peer),
                peerLength);
}

int32_t SendText(ConnectionHandle connection, String text, int32_t format) {
  if (!text || text == SharedEmptyString()) return 0;
  if (format == kFormatUtf16) {
    return SendData(connection, text, 2 * StringLength(text));
  }
  char* encoded;
  if (format == kFormatUtf8) encoded = EncodeUtf8(text);
  else if (format == kFormatAscii) encoded = EncodeAscii(text);
  else return 0;
  int32_t sent = SendData(connection, encoded, int32_t(strlen(encoded)));
  if (format == kFormatUtf8) FreeUtf8(encoded);
  else FreeAscii(encoded);
  return sent;
}
