#pragma once
// Modal message boxes. While a box is up, the calling thread's other visible
// top-level windows are disabled and out of the topmost band; both are restored
// afterwards. With no owner given, the foreground window owns the box when it
// belongs to this process. The strings are not released.
#include <stdint.h>

#include "../strings/managed_strings.h"

void ReadScreenDpi();
void InitRequester();
void EndRequester();

// Returns what MessageBoxW returns: the button pressed, or 0 on failure.
int32_t ShowMessage(String caption, String text);
int32_t ShowMessage(String caption, String text, uint32_t flags);
int32_t ShowMessage(String caption, String text, uint32_t flags, void* owner);
