#pragma once
// The call a phone reports in its status answer, for the hang-up request that
// names it. Poly's /api/v1/webCallControl/callStatus answers JSON whose "data"
// object (or the first of a "data" array) holds the call's handle as
// "CallHandle", or as "Ref", the name its endCall request takes. Pure text
// work on bytes as the phone sent them.
#include <stddef.h>

const size_t kMaxCallHandle = 64;

enum CallHandleResult {
  kCallHandleFound,
  kNoCallHandle,        // well-formed, and no call in it
  kCallStatusUnreadable,  // not JSON, or a handle of other characters than letters, digits and "-._~"
};

// Writes the handle and a 0 into handle (kMaxCallHandle + 1 bytes) when found.
CallHandleResult ReadCallHandle(const char* answer, size_t length, char* handle);
