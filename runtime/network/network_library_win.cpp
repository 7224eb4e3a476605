// Start and end of Windows Sockets, the resolver entry points that decide IPv6
// support, and the registry of server objects with its free routine.
#include "connection_records.h"

#include "../library_function_win.h"
#include "../program_heap.h"

NetworkLibrary networkLibrary;

void NetworkStartup() {
  // A second start must not lose the registry that the first one made.
  if (!networkLibrary.servers) {
    networkLibrary.servers = CreateRegistry(sizeof(ServerObject), kServerSlots, FreeServerObject);
  }
  if (networkLibrary.started) return;

  WSADATA data;
  networkLibrary.started = WSAStartup(MAKEWORD(1, 1), &data) == 0 ? 1 : 0;

  // Loaded by name so that a system without the resolver functions still runs,
  // with IPv4 only.
  networkLibrary.module = LoadLibraryW(L"ws2_32.dll");
  if (!networkLibrary.module) return;
  HMODULE module = networkLibrary.module;
  networkLibrary.getAddrInfo = LibraryFunction<GetAddrInfoEntry>(module, "getaddrinfo");
  networkLibrary.freeAddrInfo = LibraryFunction<FreeAddrInfoEntry>(module, "freeaddrinfo");
  networkLibrary.getNameInfo = LibraryFunction<GetNameInfoEntry>(module, "getnameinfo");
  networkLibrary.stringToAddress = LibraryFunction<StringToAddressEntry>(module, "WSAStringToAddressA");
  if (networkLibrary.getAddrInfo && networkLibrary.freeAddrInfo && networkLibrary.getNameInfo &&
      networkLibrary.stringToAddress) {
    networkLibrary.ipv6Support = 1;
  }
}

void NetworkShutdown() {
  FreeAllObjects(networkLibrary.servers);
  if (networkLibrary.started) WSACleanup();
  if (networkLibrary.module) FreeLibrary(networkLibrary.module);
}

void DetachServerClient(void* record, ServerObject* server) {
  ClientNode* node = ClientNodeOf(record);
  if (node->previous) node->previous->next = node->next;
  else if (server->clients == node) server->clients = node->next;
  if (node->next) node->next->previous = node->previous;
  ProgramHeapFree(node);
}

void FreeServerObject(ObjectRegistry* registry, intptr_t number) {
  if (number == kAllServers) {
    FreeAllObjects(registry);
    return;
  }
  ServerObject* server = static_cast<ServerObject*>(LookUpObject(registry, number));
  if (!server) return;
  bool udp = (server->mode & kModeUdp) != 0;
  while (ClientNode* node = server->clients) {
    server->clients = node->next;
    // UDP clients share the server's socket; TCP clients own theirs.
    if (udp) {
      ProgramHeapFree(node->record.udp.keptDatagram);
    } else {
      closesocket(node->record.tcp.socket);
    }
    ProgramHeapFree(node);
  }
  closesocket(server->socket);
  FreeObject(registry, number);
}
