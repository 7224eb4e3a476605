#pragma once
// The id the last dial request gave its call ({call}, e.g. asterisk's
// channelId), kept in %LOCALAPPDATA%\teldial\last-call.txt so that the tray,
// the console and the hang-up key, each in its own process, can end that call.
// The file is the user's own (local application data is per user) and is
// replaced whole, so that a reader sees the old id or the new one, never half.
#include <stddef.h>

const size_t kMaxCallId = 64;

// A new id, "teldial-" and 32 hex digits from the system's random number
// generator; false when it gives none.
bool MakeCallId(char* id, size_t size);

bool SaveLastCallId(const char* id);

// False when no id is kept (or it cannot be read); id holds kMaxCallId + 1 bytes.
bool LoadLastCallId(char* id);
