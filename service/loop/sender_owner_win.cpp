#include "service/loop/sender_owner_win.h"

#include <windows.h>
#include <iphlpapi.h>

// The table can grow between the call that sizes it and the call that fills
// it; a few tries are plenty unless sockets are opened without pause.
static const int kTableTries = 4;

// A token's user as GetTokenInformation writes it: the SID lies inside the
// buffer, so one is never copied.
union TokenUserBuffer {
  TOKEN_USER user;
  BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
};

// The service's own, read once.
static INIT_ONCE ownUserOnce = INIT_ONCE_STATIC_INIT;
static TokenUserBuffer ownUser;
static bool ownUserKnown;

// False when the process's token cannot be read.
static bool ReadTokenUser(HANDLE process, TokenUserBuffer* buffer) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return false;
  DWORD needed = 0;
  bool read = GetTokenInformation(token, TokenUser, buffer->bytes, sizeof buffer->bytes, &needed) != 0;
  CloseHandle(token);
  return read;
}

static BOOL CALLBACK ReadOwnUser(INIT_ONCE*, void*, void**) {
  ownUserKnown = ReadTokenUser(GetCurrentProcess(), &ownUser);
  return TRUE;
}

static SenderOwner OwnerOfProcess(DWORD pid) {
  // The System Idle Process; also what a socket whose owner is not known shows.
  if (pid == 0) return kSenderUnknown;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return kSenderUnknown;
  TokenUserBuffer sender;
  bool read = ReadTokenUser(process, &sender);
  CloseHandle(process);
  if (!read) return kSenderUnknown;
  return EqualSid(sender.user.User.Sid, ownUser.user.User.Sid) ? kSenderOwnUser : kSenderOtherUser;
}

// The system's UDP table with owner pids, from HeapAlloc; null when it cannot be had.
static MIB_UDPTABLE_OWNER_PID* ReadUdpTable() {
  HANDLE heap = GetProcessHeap();
  DWORD size = 0;
  void* table = nullptr;
  for (int tries = 0; tries < kTableTries; tries++) {
    DWORD result = GetExtendedUdpTable(table, &size, FALSE, AF_INET, UDP_TABLE_OWNER_PID, 0);
    if (result == NO_ERROR && table) return static_cast<MIB_UDPTABLE_OWNER_PID*>(table);
    if (result != NO_ERROR && result != ERROR_INSUFFICIENT_BUFFER) break;
    if (table) HeapFree(heap, 0, table);
    // Room for a few more sockets opened meanwhile.
    size += 8 * sizeof(MIB_UDPROW_OWNER_PID);
    table = HeapAlloc(heap, 0, size);
    if (!table) return nullptr;
  }
  if (table) HeapFree(heap, 0, table);
  return nullptr;
}

SenderOwner FindSenderOwner(const sockaddr_in& sender) {
  InitOnceExecuteOnce(&ownUserOnce, ReadOwnUser, nullptr, nullptr);
  if (!ownUserKnown) return kSenderUnknown;
  MIB_UDPTABLE_OWNER_PID* table = ReadUdpTable();
  if (!table) return kSenderUnknown;
  // Every socket on the sender's port and address must be the user's own: a
  // port can be shared, and then any of them could have sent the datagram.
  SenderOwner owner = kSenderUnknown;
  for (DWORD i = 0; i < table->dwNumEntries; i++) {
    const MIB_UDPROW_OWNER_PID& row = table->table[i];
    // Both address and port are in network byte order; the port in the low 16 bits.
    if (u_short(row.dwLocalPort) != sender.sin_port) continue;
    if (row.dwLocalAddr != sender.sin_addr.s_addr && row.dwLocalAddr != htonl(INADDR_ANY)) continue;
    owner = OwnerOfProcess(row.dwOwningPid);
    if (owner != kSenderOwnUser) break;
  }
  HeapFree(GetProcessHeap(), 0, table);
  return owner;
}
