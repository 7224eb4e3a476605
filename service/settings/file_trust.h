#pragma once
// Whether a file (or its folder) is an administrator's: the rule the machine's
// settings file must meet before a word of it is read. Pure over what the
// security descriptor says, each SID as text ("S-1-5-32-545"), so that every
// case is table-tested; file_trust_win reads the descriptor of an open handle.
//
// Trusted principals: SYSTEM, Administrators, TrustedInstaller, and the user
// who reads the file, whom a file of his own can harm no more than his own
// settings file can (Git's safe.directory rule). The owner must be one of
// them, and no entry of the DACL may allow anyone else to write, append,
// delete, change the permissions or take ownership (for a folder also to add
// or delete what it holds). A null DACL lets everyone do everything. CREATOR
// OWNER and OWNER RIGHTS stand for the owner. Entries that apply only to what
// is created inside are skipped: those objects carry them as their own.
// Denials are never relied on.
#include <stddef.h>

struct AccessEntry {
  bool allows;       // an access-allowed entry of any kind
  bool inheritOnly;  // INHERIT_ONLY_ACE
  unsigned long mask;
  const char* sid;   // null when it cannot be read
};

enum TrustVerdict { kTrusted, kOwnerNotTrusted, kNoAccessList, kEntryAllowsChange };

// entryAtFault: for kEntryAllowsChange, which entry.
TrustVerdict JudgeAdministratorsOnly(const char* ownerSid, bool hasAccessList, const AccessEntry* entries,
                                     size_t count, bool folder, const char* readerSid, size_t* entryAtFault);
