#include "service/settings/file_trust.h"

#include <string.h>

// The access rights by their documented values (winnt.h), so that this stays
// free of <windows.h>.
enum : unsigned long {
  kWriteData = 0x2,       // FILE_WRITE_DATA, for a folder FILE_ADD_FILE
  kAppendData = 0x4,      // FILE_APPEND_DATA, for a folder FILE_ADD_SUBDIRECTORY
  kDeleteChild = 0x40,    // FILE_DELETE_CHILD
  kDelete = 0x10000,      // DELETE
  kWriteDac = 0x40000,    // WRITE_DAC
  kWriteOwner = 0x80000,  // WRITE_OWNER
  kGenericAll = 0x10000000,
  kGenericWrite = 0x40000000,
};

static const char* const kTrustedSids[] = {
    "S-1-5-18",      // SYSTEM
    "S-1-5-32-544",  // BUILTIN\Administrators
    "S-1-5-80-956008885-3425733324-1104396946-1414706236-1418498166",  // NT SERVICE\TrustedInstaller
};
static const char* const kOwnerSids[] = {"S-1-3-0", "S-1-3-4"};  // CREATOR OWNER, OWNER RIGHTS

static bool IsOneOf(const char* sid, const char* const* list, size_t count) {
  for (size_t i = 0; i < count; i++)
    if (strcmp(sid, list[i]) == 0) return true;
  return false;
}

static bool IsTrusted(const char* sid, const char* readerSid) {
  return sid && (IsOneOf(sid, kTrustedSids, sizeof kTrustedSids / sizeof kTrustedSids[0]) ||
                 (readerSid && strcmp(sid, readerSid) == 0));
}

TrustVerdict JudgeAdministratorsOnly(const char* ownerSid, bool hasAccessList, const AccessEntry* entries,
                                     size_t count, bool folder, const char* readerSid, size_t* entryAtFault) {
  if (!IsTrusted(ownerSid, readerSid)) return kOwnerNotTrusted;
  if (!hasAccessList) return kNoAccessList;
  // GENERIC_WRITE and GENERIC_ALL map to rights that include writing data.
  unsigned long change = kWriteData | kAppendData | kDelete | kWriteDac | kWriteOwner | kGenericAll | kGenericWrite;
  if (folder) change |= kDeleteChild;
  for (size_t i = 0; i < count; i++) {
    const AccessEntry& entry = entries[i];
    if (!entry.allows || entry.inheritOnly || !(entry.mask & change)) continue;
    const char* sid = entry.sid && IsOneOf(entry.sid, kOwnerSids, 2) ? ownerSid : entry.sid;
    if (IsTrusted(sid, readerSid)) continue;
    if (entryAtFault) *entryAtFault = i;
    return kEntryAllowsChange;
  }
  return kTrusted;
}
