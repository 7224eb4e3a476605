#include "service/settings/desk_names_win.h"

#include <windows.h>

// The DNS host name rather than the NetBIOS name: phone-address puts it into
// a host name, and the NetBIOS name is the DNS one cut to 15 characters and
// upper-cased, and may hold characters that a host name may not (FillDeskNames
// refuses those). GetComputerNameW, the NetBIOS name, only when the DNS one
// cannot be read.
void ReadDeskNames(DeskNames* names) {
  wchar_t* user = reinterpret_cast<wchar_t*>(names->user);
  wchar_t* computer = reinterpret_cast<wchar_t*>(names->computer);
  DWORD size = DWORD(kMaxDeskName);
  if (!GetUserNameW(user, &size)) user[0] = 0;
  size = DWORD(kMaxDeskName);
  if (!GetComputerNameExW(ComputerNameDnsHostname, computer, &size)) {
    size = DWORD(kMaxDeskName);
    if (!GetComputerNameW(computer, &size)) computer[0] = 0;
  }
}
