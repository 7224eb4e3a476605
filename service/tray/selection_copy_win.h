#pragma once
// The text selected in the window in front, taken the way a user would: Ctrl+C
// sent to it, the copy read from the clipboard, and what the clipboard held
// before put back, every format of it. Called on the thread of owner (a window
// of this program), which owns the clipboard once it is put back; it waits
// at most about two seconds and handles sent messages meanwhile.
#include <windows.h>

#include <stddef.h>

enum SelectionCopy {
  kSelectionCopied,
  kSelectionKeysHeld,       // Ctrl, Alt, Shift or Win was still held down
  kSelectionElevated,       // the window in front runs above this program, which it takes no keys from
  kSelectionInputRefused,   // SendInput inserted fewer keys than given
  kSelectionNothingCopied,  // the clipboard did not change in time: nothing selected
  kSelectionNoText,         // the copy holds no text
  kSelectionClipboardBusy,  // another program kept the clipboard open
};

// The selection as UTF-8 in text (size bytes, 0-terminated, a longer one cut
// at a character), *length its bytes; on any other outcome text is empty and
// the clipboard as it was. *restored: false when what the clipboard held
// could not be put back whole (a format only its owner can draw is lost, or
// the clipboard stayed busy).
SelectionCopy CopySelectedText(HWND owner, char* text, size_t size, size_t* length, bool* restored);
// A sentence for the balloon and the log.
const char* DescribeSelectionCopy(SelectionCopy outcome);
