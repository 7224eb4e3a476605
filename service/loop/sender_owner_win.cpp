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

static SenderOwner OwnerOfProcess(HANDLE process) {
  TokenUserBuffer sender;
  if (!ReadTokenUser(process, &sender)) return kSenderUnknown;
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

// A port can be shared, and then any of its sockets could have sent the
// datagram; more than this many are not judged.
static const DWORD kMaxPortSockets = 8;

// The owner pids of the sockets bound to the sender's port and address (or to
// any address); false when the table cannot be read or holds too many.
static bool ReadPortOwners(const sockaddr_in& sender, DWORD* pids, DWORD* count) {
  MIB_UDPTABLE_OWNER_PID* table = ReadUdpTable();
  if (!table) return false;
  bool fits = true;
  *count = 0;
  for (DWORD i = 0; i < table->dwNumEntries && fits; i++) {
    const MIB_UDPROW_OWNER_PID& row = table->table[i];
    // Both address and port are in network byte order; the port in the low 16 bits.
    if (u_short(row.dwLocalPort) != sender.sin_port) continue;
    if (row.dwLocalAddr != sender.sin_addr.s_addr && row.dwLocalAddr != htonl(INADDR_ANY)) continue;
    if (*count == kMaxPortSockets)
      fits = false;
    else
      pids[(*count)++] = row.dwOwningPid;
  }
  HeapFree(GetProcessHeap(), 0, table);
  return fits;
}

static bool AllAmong(const DWORD* pids, DWORD count, const DWORD* among, DWORD amongCount) {
  for (DWORD i = 0; i < count; i++) {
    DWORD found = 0;
    while (found < amongCount && among[found] != pids[i]) found++;
    if (found == amongCount) return false;
  }
  return true;
}

static bool SameOwners(const DWORD* pids, DWORD count, const DWORD* again, DWORD againCount) {
  return count == againCount && AllAmong(pids, count, again, againCount) && AllAmong(again, againCount, pids, count);
}

SenderOwner FindSenderOwner(const sockaddr_in& sender) {
  InitOnceExecuteOnce(&ownUserOnce, ReadOwnUser, nullptr, nullptr);
  if (!ownUserKnown) return kSenderUnknown;
  DWORD pids[kMaxPortSockets], count;
  if (!ReadPortOwners(sender, pids, &count) || count == 0) return kSenderUnknown;
  // The table names ids, and an id is free for a new process once its process
  // has ended and the last handle to it is closed: between the reading and
  // OpenProcess another process could have taken it. An open handle holds its
  // id, so once every owner is open, a second reading that names the same ids
  // names the processes that are open. pid 0: the owner is not known.
  HANDLE processes[kMaxPortSockets];
  DWORD opened = 0;
  while (opened < count && pids[opened] &&
         (processes[opened] = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pids[opened])))
    opened++;
  DWORD again[kMaxPortSockets], againCount;
  SenderOwner owner = kSenderUnknown;
  if (opened == count && ReadPortOwners(sender, again, &againCount) && SameOwners(pids, count, again, againCount)) {
    owner = kSenderOwnUser;
    for (DWORD i = 0; i < count && owner == kSenderOwnUser; i++) owner = OwnerOfProcess(processes[i]);
  }
  for (DWORD i = 0; i < opened; i++) CloseHandle(processes[i]);
  return owner;
}
