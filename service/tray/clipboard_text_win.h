#pragma once
// The clipboard's text, for the tray's "Dial clipboard" and its dial key.
#include <stddef.h>

enum ClipboardText {
  kClipboardTextCopied,
  kClipboardHoldsNoText,
  kClipboardBusy,  // another program kept it open through every try
};

// Whether the clipboard offers text in any of the system's text formats,
// without opening it.
bool ClipboardHoldsText();
// The clipboard's text (CF_UNICODETEXT) as UTF-8 in text, 0-terminated; a
// longer text is cut at a character so that it fits size (at least 4).
// *length gets its bytes. As another program may hold the clipboard open for
// a moment, opening it is tried again for up to kClipboardWaitMs.
const unsigned long kClipboardWaitMs = 500;
ClipboardText CopyClipboardText(char* text, size_t size, size_t* length);
// The same, for a caller that has the clipboard open already.
ClipboardText ReadOpenClipboardText(char* text, size_t size, size_t* length);
