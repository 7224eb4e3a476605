// Opening and closing UDP and TCP connections: socket, name resolution, an
// optional local endpoint, and for TCP a connect bounded by a time-out.
#include <string.h>

#include "../program_heap.h"
#include "../strings/string_functions.h"
#include "connection_records.h"

// The longest numeric address text that is handed to the address parser.
static const size_t kAddressLiteralLimit = 65;

int32_t ParseAddressLiteral(int32_t family, const char* text, void* address) {
  if (!networkLibrary.stringToAddress || !text) return 0;
  char literal[kAddressLiteralLimit + 1];
  size_t length = 0;
  while (length < kAddressLiteralLimit && text[length]) length++;
  memcpy(literal, text, length);
  literal[length] = 0;

  union {
    sockaddr_in ipv4;
    sockaddr_in6 ipv6;
    uint8_t bytes[128];
  } parsed;
  memset(&parsed, 0, sizeof parsed);
  INT parsedLength = sizeof parsed;
  if (networkLibrary.stringToAddress(literal, family, nullptr, reinterpret_cast<sockaddr*>(&parsed),
                                     &parsedLength) != 0) {
    return 0;
  }
  if (family == AF_INET) {
    memcpy(address, &parsed.ipv4.sin_addr, 4);
    return 1;
  }
  if (family == AF_INET6) {
    memcpy(address, &parsed.ipv6.sin6_addr, 16);
    return 1;
  }
  return 0;
}

int32_t BindLocalAddress(bool ipv6, SOCKET socket, String localAddress, int32_t localPort) {
  sockaddr_in local4;
  sockaddr_in6 local6;
  memset(&local4, 0, sizeof local4);
  memset(&local6, 0, sizeof local6);
  uint16_t port = htons(uint16_t(localPort));
  local4.sin_family = AF_INET;
  local4.sin_port = port;
  local6.sin6_family = AF_INET6;
  local6.sin6_port = port;

  // An empty local address means the any-address, which the zeroed structures hold.
  if (StringLength(localAddress) > 0) {
    char* text = EncodeAscii(localAddress);
    // An IPv6 text that does not parse leaves the any-address.
    if (ipv6) ParseAddressLiteral(AF_INET6, text, &local6.sin6_addr);
    else local4.sin_addr.s_addr = inet_addr(text);
    FreeAscii(text);
    // An IPv4 text that does not parse reads as the broadcast address, which
    // Windows refuses to bind but Wine binds: refuse it here on both.
    if (!ipv6 && local4.sin_addr.s_addr == INADDR_NONE) return 0;
  }

  int result = ipv6 ? bind(socket, reinterpret_cast<sockaddr*>(&local6), sizeof local6)
                    : bind(socket, reinterpret_cast<sockaddr*>(&local4), sizeof local4);
  return result == 0 ? 1 : 0;
}

// The first IPv6 address that getaddrinfo gives for `host`. Results of other
// families are skipped: a sockaddr_in read as sockaddr_in6 would give bytes past
// its end.
static bool ResolveIpv6Name(const char* host, in6_addr* address) {
  addrinfo* results = nullptr;
  if (networkLibrary.getAddrInfo(host, nullptr, nullptr, &results) != 0) return false;
  bool found = false;
  for (addrinfo* result = results; result && !found; result = result->ai_next) {
    if (result->ai_family != AF_INET6 || !result->ai_addr || result->ai_addrlen < sizeof(sockaddr_in6)) {
      continue;
    }
    *address = reinterpret_cast<sockaddr_in6*>(result->ai_addr)->sin6_addr;
    found = true;
  }
  networkLibrary.freeAddrInfo(results);
  return found;
}

static bool ResolveIpv4(const char* host, in_addr* address) {
  address->s_addr = inet_addr(host);
  if (address->s_addr == INADDR_NONE) {
    hostent* entry = gethostbyname(host);
    if (entry && entry->h_addrtype == AF_INET && entry->h_length == 4 && entry->h_addr_list[0]) {
      memcpy(address, entry->h_addr_list[0], 4);
    }
  }
  // 255.255.255.255 cannot be told from a failed look-up.
  return address->s_addr != INADDR_NONE;
}

static bool SetNonBlocking(SOCKET socket, u_long on) { return ioctlsocket(socket, FIONBIO, &on) == 0; }

// Connects within `timeout` ms; the socket is blocking again afterwards.
static bool ConnectWithin(SOCKET socket, const sockaddr* peer, int peerLength, int32_t timeout) {
  if (!SetNonBlocking(socket, 1)) return false;
  // A non-blocking connect reports "in progress" as -1; the wait tells the outcome.
  bool connected = false;
  if (connect(socket, peer, peerLength) == SOCKET_ERROR) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(socket, &writable);
    FD_SET(socket, &failed);
    timeval wait;
    wait.tv_sec = timeout / 1000;
    wait.tv_usec = (timeout % 1000) * 1000;
    int ready = select(int(socket + 1), nullptr, &writable, &failed, &wait);
    connected = ready == 1 && FD_ISSET(socket, &writable);
  }
  SetNonBlocking(socket, 0);
  return connected;
}

// Everything of the open after the socket exists; 0 on failure, with the socket
// left to the caller to close.
static ConnectionHandle OpenOnSocket(SOCKET socket, const char* host, int32_t port, uint32_t mode,
                                     int32_t timeout, String localAddress, int32_t localPort) {
  bool ipv6 = (mode & kModeIpv6) != 0;
  union {
    sockaddr_in ipv4;
    sockaddr_in6 ipv6;
  } peer;
  memset(&peer, 0, sizeof peer);
  if (ipv6) {
    if (!networkLibrary.ipv6Support) return 0;
    if (!ParseAddressLiteral(AF_INET6, host, &peer.ipv6.sin6_addr) &&
        !ResolveIpv6Name(host, &peer.ipv6.sin6_addr)) {
      return 0;
    }
  } else if (!ResolveIpv4(host, &peer.ipv4.sin_addr)) {
    return 0;
  }

  if (localPort != 0 || StringLength(localAddress) > 0) {
    if (!BindLocalAddress(ipv6, socket, localAddress, localPort)) return 0;
  }

  int peerLength;
  if (ipv6) {
    peer.ipv6.sin6_family = AF_INET6;
    peer.ipv6.sin6_port = htons(uint16_t(port));
    peerLength = sizeof(sockaddr_in6);
  } else {
    peer.ipv4.sin_family = AF_INET;
    peer.ipv4.sin_port = htons(uint16_t(port));
    peerLength = sizeof(sockaddr_in);
  }

  if (mode & kModeUdp) {
    if (!SetNonBlocking(socket, 1)) return 0;
    UdpConnection* record = static_cast<UdpConnection*>(ProgramHeapAllocate(sizeof(UdpConnection)));
    if (!record) return 0;
    record->kind = kConnectionKindUdp;
    memcpy(&record->peer, &peer, size_t(peerLength));
    record->peerIsIpv6 = ipv6 ? 1 : 0;
    record->socket = socket;
    return ConnectionHandle(record);
  }

  const sockaddr* peerAddress = reinterpret_cast<const sockaddr*>(&peer);
  if (timeout <= 0) {
    if (connect(socket, peerAddress, peerLength) == SOCKET_ERROR) return 0;
  } else if (!ConnectWithin(socket, peerAddress, peerLength, timeout)) {
    return 0;
  }
  TcpConnection* record = static_cast<TcpConnection*>(ProgramHeapAllocate(sizeof(TcpConnection)));
  if (!record) return 0;
  record->mode = mode;
  record->socket = socket;
  return ConnectionHandle(record);
}

ConnectionHandle OpenConnection(String host, int32_t port, uint32_t mode, int32_t timeout,
                                String localAddress, int32_t localPort) {
  if ((mode & kModeSecureMask) && !networkLibrary.secureProviderPresent) return 0;
  if (!host) return 0;
  SOCKET socket = ::socket((mode & kModeIpv6) ? AF_INET6 : AF_INET,
                           (mode & kModeUdp) ? SOCK_DGRAM : SOCK_STREAM, 0);
  if (socket == INVALID_SOCKET) return 0;

  char* hostText = EncodeUtf8(host);
  ConnectionHandle connection = OpenOnSocket(socket, hostText, port, mode, timeout, localAddress, localPort);
  FreeUtf8(hostText);
  if (!connection) closesocket(socket);
  return connection;
}

ConnectionHandle OpenConnection(String host, int32_t port, uint32_t mode, int32_t timeout) {
  return OpenConnection(host, port, mode, timeout, nullptr, 0);
}

void CloseConnection(ConnectionHandle connection) {
  if (!connection) return;
  if (IsUdpConnection(connection)) {
    UdpConnection* record = reinterpret_cast<UdpConnection*>(connection);
    ProgramHeapFree(record->keptDatagram);
    // A server's client shares the server's socket, which stays open.
    if (record->server) {
      DetachServerClient(record, record->server);
    } else {
      closesocket(record->socket);
      ProgramHeapFree(record);
    }
    return;
  }
  TcpConnection* record = reinterpret_cast<TcpConnection*>(connection);
  closesocket(record->socket);
  if (record->server) DetachServerClient(record, record->server);
  else ProgramHeapFree(record);
}
