#pragma once
// Modal message boxes. While a box is up, the calling thread's other visible
// top-level windows are disabled and out of the topmost band; both are restored
// afterwards. With no owner given, the foreground window owns the box when it
// belongs to this process. A text longer than 65535 units is shown as its first
// 65534. A window for which no memory is left to record it is left untouched.
// The strings are not released.
#include <stdint.h>

#include "../strings/managed_strings.h"

// Screen metrics: 96 DPI and scale 1.0 until the screen's DPI is read; each
// scale is its DPI / 96.0.
extern int32_t screenDpiX;
extern int32_t screenDpiY;
extern double screenScaleX;
extern double screenScaleY;

// Start steps. They only take note, so that a program that never shows a box
// never loads the window libraries: the first ShowMessage reads the screen's
// DPI (ReadScreenDpi), registers the common controls and, when it runs on the
// thread that called InitRequester, initialises COM there, in that order.
void ReadScreenDpi();
void InitRequester();
void EndRequester();

// Returns what MessageBoxW returns: the button pressed, or 0 on failure.
int32_t ShowMessage(String caption, String text);
int32_t ShowMessage(String caption, String text, uint32_t flags);
int32_t ShowMessage(String caption, String text, uint32_t flags, void* owner);
