// Only one program at a time may have the clipboard open, and OpenClipboard
// fails at once while another has it (as a program that is just putting
// something there does for a moment), so it is tried again a few times.
#include "service/tray/clipboard_text_win.h"

#include <windows.h>

#include <wchar.h>

static const DWORD kRetryGapMs = 25;

// Any of the three: a program may have put only CF_TEXT there, from which
// GetClipboardData makes CF_UNICODETEXT when asked.
bool ClipboardHoldsText() {
  return IsClipboardFormatAvailable(CF_UNICODETEXT) || IsClipboardFormatAvailable(CF_TEXT) ||
         IsClipboardFormatAvailable(CF_OEMTEXT);
}

static bool OpenClipboardSoon() {
  DWORD start = GetTickCount();
  while (!OpenClipboard(nullptr)) {
    if (GetTickCount() - start >= kClipboardWaitMs) return false;
    Sleep(kRetryGapMs);
  }
  return true;
}

ClipboardText ReadOpenClipboardText(char* text, size_t size, size_t* length) {
  text[0] = 0;
  *length = 0;
  ClipboardText result = kClipboardHoldsNoText;
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  const wchar_t* wide = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
  if (wide) {
    // The memory block bounds the text: a program may have left out the 0.
    size_t units = wcsnlen(wide, GlobalSize(data) / sizeof(wchar_t));
    // No UTF-16 unit makes more than 3 bytes of UTF-8; a pair cut in two is
    // left out whole. A text cut short keeps its start, where the first
    // number is looked for.
    size_t room = (size - 1) / 3;
    if (units > room) units = room;
    if (units > 0 && wide[units - 1] >= 0xD800 && wide[units - 1] <= 0xDBFF) units--;
    int written = units ? WideCharToMultiByte(CP_UTF8, 0, wide, int(units), text, int(size - 1), nullptr, nullptr) : 0;
    if (written > 0) {
      text[written] = 0;
      *length = size_t(written);
      result = kClipboardTextCopied;
    }
    GlobalUnlock(data);
  }
  return result;
}

ClipboardText CopyClipboardText(char* text, size_t size, size_t* length) {
  text[0] = 0;
  *length = 0;
  if (!OpenClipboardSoon()) return kClipboardBusy;
  ClipboardText result = ReadOpenClipboardText(text, size, length);
  CloseClipboard();
  return result;
}
