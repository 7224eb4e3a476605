#pragma once
// Modal message boxes. While a box is up, the calling thread's other visible
// top-level windows are disabled and out of the topmost band; both are restored
// afterwards. With no owner given, the foreground window owns the box when it
// belongs to this process. A text longer than 65535 units is shown as its first
// 65534. A window for which no memory is left to record it is left untouched.
// The strings are not released.
#include <stdint.h>

#include "../strings/managed_strings.h"

// Screen metrics: 96 DPI and scale 1.0 until ReadScreenDpi reads the screen's
// DPI; each scale is its DPI / 96.0.
extern int32_t screenDpiX;
extern int32_t screenDpiY;
extern double screenScaleX;
extern double screenScaleY;

void ReadScreenDpi();
void InitRequester();
void EndRequester();

// Returns what MessageBoxW returns: the button pressed, or 0 on failure.
int32_t ShowMessage(String caption, String text);
int32_t ShowMessage(String caption, String text, uint32_t flags);
int32_t ShowMessage(String caption, String text, uint32_t flags, void* owner);
