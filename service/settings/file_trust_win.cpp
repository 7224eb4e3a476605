#include "service/settings/file_trust_win.h"

#include <aclapi.h>
#include <sddl.h>

#include <stdio.h>
#include <stdlib.h>

#include "service/settings/file_trust.h"

const DWORD kMaxEntries = 256;

// The SID as text, LocalFree'd by the caller; null when it cannot be read.
static char* SidText(PSID sid) {
  char* text = nullptr;
  return sid && IsValidSid(sid) && ConvertSidToStringSidA(sid, &text) ? text : nullptr;
}

// "DOMAIN\name" (or the name alone) as the system knows the SID, else its text.
static void NameOf(PSID sid, char* name, size_t size) {
  wchar_t account[256], domain[256];
  DWORD accountSize = 256, domainSize = 256;
  SID_NAME_USE use;
  if (sid && LookupAccountSidW(nullptr, sid, account, &accountSize, domain, &domainSize, &use)) {
    wchar_t both[520];
    _snwprintf(both, 520, domain[0] ? L"%ls\\%ls" : L"%ls%ls", domain, account);
    both[519] = 0;
    if (WideCharToMultiByte(CP_UTF8, 0, both, -1, name, int(size), nullptr, nullptr)) return;
  }
  char* text = SidText(sid);
  snprintf(name, size, "%s", text ? text : "an unknown account");
  LocalFree(text);
}

// The SID of the user this process runs as, as text; LocalFree'd by the caller.
static char* ReaderSidText() {
  union {
    TOKEN_USER user;
    char bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } buffer;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  DWORD used = 0;
  bool read = GetTokenInformation(token, TokenUser, &buffer, sizeof buffer, &used);
  CloseHandle(token);
  return read ? SidText(buffer.user.User.Sid) : nullptr;
}

// The SID of an allowing entry where every kind keeps it after the mask; the
// object kinds (for directory objects) carry GUIDs first, so none is read.
static PSID EntrySid(ACE_HEADER* header) {
  if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE)
    return &reinterpret_cast<ACCESS_ALLOWED_ACE*>(header)->SidStart;
  return nullptr;
}

static bool Allows(BYTE type) {
  return type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE ||
         type == ACCESS_ALLOWED_OBJECT_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE ||
         type == ACCESS_ALLOWED_COMPOUND_ACE_TYPE;
}

bool IsAdministratorsOnly(HANDLE handle, bool folder, char* reason, size_t size) {
  const char* what = folder ? "its folder" : "it";
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                      nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    snprintf(reason, size, "the owner and permissions of %s cannot be read", what);
    return false;
  }
  char* reader = ReaderSidText();
  char* ownerText = SidText(owner);
  DWORD count = dacl && dacl->AceCount < kMaxEntries ? dacl->AceCount : 0;
  AccessEntry* entries = static_cast<AccessEntry*>(calloc(count + 1, sizeof(AccessEntry)));
  PSID* sids = static_cast<PSID*>(calloc(count + 1, sizeof(PSID)));
  bool complete = entries && sids && (!dacl || dacl->AceCount < kMaxEntries);
  for (DWORD i = 0; complete && i < count; i++) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) {
      complete = false;
      break;
    }
    ACE_HEADER* header = static_cast<ACE_HEADER*>(ace);
    entries[i].allows = Allows(header->AceType);
    entries[i].inheritOnly = header->AceFlags & INHERIT_ONLY_ACE;
    // Every allowing kind keeps its mask right after the header.
    entries[i].mask = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header)->Mask;
    sids[i] = EntrySid(header);
    entries[i].sid = SidText(sids[i]);
  }
  size_t fault = 0;
  TrustVerdict verdict = complete ? JudgeAdministratorsOnly(ownerText, dacl != nullptr, entries, count, folder,
                                                            reader, &fault)
                                  : kNoAccessList;
  char name[600];
  if (!complete) {
    snprintf(reason, size, "the permissions of %s cannot be read", what);
  } else if (verdict == kOwnerNotTrusted) {
    NameOf(owner, name, sizeof name);
    snprintf(reason, size, folder ? "its folder is owned by %s" : "owned by %s", name);
  } else if (verdict == kNoAccessList) {
    snprintf(reason, size, "everyone may write to %s (it has no access list)", what);
  } else if (verdict == kEntryAllowsChange) {
    NameOf(sids[fault], name, sizeof name);
    const unsigned long writing = FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_WRITE | GENERIC_ALL;
    snprintf(reason, size, entries[fault].mask & writing ? "%s may write to %s" : "%s may delete or take over %s",
             name, what);
  }
  for (DWORD i = 0; entries && i < count; i++) LocalFree(const_cast<char*>(entries[i].sid));
  free(entries);
  free(sids);
  LocalFree(ownerText);
  LocalFree(reader);
  LocalFree(descriptor);
  return complete && verdict == kTrusted;
}
