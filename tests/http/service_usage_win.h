#pragma once
// What the service holds, seen from outside: its handles (from the system's
// handle table) and the anonymous memory of its Linux process under Wine, read
// from /proc through drive Z:. GetProcessMemoryInfo and GetProcessHandleCount
// return zeros under Wine 8.
#include <windows.h>

#include <string>

struct Usage {
  unsigned long handles;
  unsigned long anonymousKb;
};

// A copy of dial-service.exe in the temporary folder under a name no other
// process has, so that its Linux process can be found; its path (empty when
// it could not be made) and that name.
std::wstring UniqueServiceCopy(std::string* name);
// The Linux process whose command line names program (a name no other process
// has), as a folder under Z:\proc; empty when there is none.
std::wstring LinuxProcessFolder(const std::string& program);
Usage UsageOf(HANDLE process, const std::wstring& linuxFolder);
