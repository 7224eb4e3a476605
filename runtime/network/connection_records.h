#pragma once
// Inside the network library: the layout of connection records and server
// objects, and the process-wide library state. Only the network library's own
// files (and its tests) include this.
//
// Records live on the program heap. A handle is the record's address and the
// record's first 32-bit word tells its kind (bit 0 set: UDP). A client record of
// a server sits inside a list node of that server's client list; releasing the
// node releases the record. NetworkStartup writes the library state, everything
// else only reads it.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <stddef.h>
#include <stdint.h>

#include "../object_registry.h"
#include "network.h"

struct ServerObject;

struct UdpConnection {
  uint32_t kind;  // always 1
  union {
    sockaddr_in ipv4;
    sockaddr_in6 ipv6;
  } peer;
  uint8_t peerIsIpv6;  // selects the address length when sending
  ServerObject* server;
  SOCKET socket;
  uint8_t* keptDatagram;  // program-heap block exactly as long as the datagram, or null
  int32_t remaining;      // unread bytes of the kept datagram
  uint8_t* readPosition;  // next unread byte
};

struct TcpConnection {
  uint32_t mode;  // as passed to OpenConnection; bit 0 clear
  SOCKET socket;
  ServerObject* server;
  void* secureSession;  // never set: no secure-transport provider exists
};

const uint32_t kConnectionKindUdp = 1;

inline bool IsUdpConnection(ConnectionHandle connection) {
  return (*reinterpret_cast<const uint32_t*>(connection) & kConnectionKindUdp) != 0;
}

// A client record of a server, linked into the server's client list.
struct ClientNode {
  ClientNode* next;
  ClientNode* previous;
  union {
    UdpConnection udp;
    TcpConnection tcp;
  } record;
};

inline ClientNode* ClientNodeOf(void* record) {
  return reinterpret_cast<ClientNode*>(static_cast<uint8_t*>(record) - offsetof(ClientNode, record));
}

// An item of the server registry; in use while `inUse` is non-zero.
struct ServerObject {
  uint32_t inUse;
  uint32_t mode;  // bit 0: UDP
  SOCKET socket;  // the listening (TCP) or receiving (UDP) socket
  ClientNode* clients;
};

const int32_t kServerSlots = 16;
const intptr_t kAllServers = -1;

// Resolver entry points that older systems lack, looked up at start-up.
typedef int(WSAAPI* GetAddrInfoEntry)(const char* node, const char* service, const addrinfo* hints,
                                      addrinfo** results);
typedef void(WSAAPI* FreeAddrInfoEntry)(addrinfo* results);
typedef int(WSAAPI* GetNameInfoEntry)(const sockaddr* address, socklen_t length, char* host, DWORD hostSize,
                                      char* service, DWORD serviceSize, int flags);
typedef INT(WSAAPI* StringToAddressEntry)(LPSTR text, INT family, LPWSAPROTOCOL_INFOA protocol,
                                          LPSOCKADDR address, LPINT length);

struct NetworkLibrary {
  uint16_t started;  // WSAStartup succeeded
  HMODULE module;    // ws2_32.dll loaded by name, or null
  GetAddrInfoEntry getAddrInfo;
  FreeAddrInfoEntry freeAddrInfo;
  GetNameInfoEntry getNameInfo;
  StringToAddressEntry stringToAddress;
  uint32_t ipv6Support;  // all four entry points were found
  ObjectRegistry* servers;
  uint32_t secureProviderPresent;  // nothing registers a provider; stays 0
};

extern NetworkLibrary networkLibrary;

// Free routine of the server registry: closes a server's clients (TCP) and
// socket and frees it; kAllServers frees every server.
void FreeServerObject(ObjectRegistry* registry, intptr_t number);
// Unlinks a client record from its server's list and releases its node.
void DetachServerClient(void* record, ServerObject* server);

// Converts a numeric address text of family AF_INET (4 bytes) or AF_INET6 (16
// bytes); text beyond 65 bytes is not looked at. 1 on success, else 0.
int32_t ParseAddressLiteral(int32_t family, const char* text, void* address);
// Binds `socket` to the local endpoint; 1 on success, else 0.
int32_t BindLocalAddress(bool ipv6, SOCKET socket, String localAddress, int32_t localPort);
