#include "service_usage_win.h"

#include <vector>

#include "http_record_win.h"

struct HandleEntry {
  ULONG ownerProcessId;
  UCHAR objectType;
  UCHAR flags;
  USHORT handle;
  void* object;
  ACCESS_MASK access;
};

static unsigned long HandlesOf(DWORD processId) {
  typedef LONG(WINAPI * QuerySystem)(ULONG, void*, ULONG, ULONG*);
  auto query = reinterpret_cast<QuerySystem>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  const ULONG kSystemHandleInformation = 16;
  std::vector<char> buffer(1 << 20);
  ULONG needed = 0;
  while (query(kSystemHandleInformation, buffer.data(), ULONG(buffer.size()), &needed) == LONG(0xC0000004))
    buffer.resize(buffer.size() * 2);
  ULONG count = *reinterpret_cast<ULONG*>(buffer.data());
  const HandleEntry* entries = reinterpret_cast<const HandleEntry*>(buffer.data() + sizeof(void*));
  unsigned long owned = 0;
  for (ULONG i = 0; i < count; i++)
    if (entries[i].ownerProcessId == processId) owned++;
  return owned;
}

std::wstring LinuxProcessFolder(const std::string& program) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &found);
  if (search == INVALID_HANDLE_VALUE) return L"";
  std::wstring folder;
  do {
    if (found.cFileName[0] < L'1' || found.cFileName[0] > L'9') continue;
    std::wstring candidate = std::wstring(L"Z:\\proc\\") + found.cFileName;
    if (ReadWholeFile(candidate + L"\\cmdline").find(program) != std::string::npos) folder = candidate;
  } while (folder.empty() && FindNextFileW(search, &found));
  FindClose(search);
  return folder;
}

Usage UsageOf(HANDLE process, const std::wstring& linuxFolder) {
  std::string status = ReadWholeFile(linuxFolder + L"\\status");
  size_t at = status.find("RssAnon:");
  unsigned long kb = at == std::string::npos ? 0 : strtoul(status.c_str() + at + 8, nullptr, 10);
  return Usage{HandlesOf(GetProcessId(process)), kb};
}

std::wstring UniqueServiceCopy(std::string* name) {
  static int serial = 0;
  wchar_t temp[MAX_PATH];
  if (GetTempPathW(MAX_PATH, temp) == 0) return L"";
  *name = "dial-service-usage-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
  std::wstring copy = std::wstring(temp) + std::wstring(name->begin(), name->end()) + L".exe";
  return CopyFileW(DialServicePath().c_str(), copy.c_str(), FALSE) ? copy : L"";
}
