// Copying the selection of another program through the clipboard, and
// putting back what the clipboard held. The pitfalls of tools that do this
// are each met here: the user's hotkey modifiers would turn Ctrl+C into
// Ctrl+Alt+C, so their release is awaited; a window running as administrator
// silently drops synthesized keys (SendInput's result does not show it), so
// its integrity level is looked at first; the copy arrives asynchronously, so
// the clipboard's sequence number is awaited with a bound; and every format
// is saved before and restored after, not only the text.
#include "service/tray/selection_copy_win.h"

#include <stdlib.h>
#include <string.h>

#include "service/tray/clipboard_text_win.h"

static const DWORD kReleaseWaitMs = 1500;
static const DWORD kCopyWaitMs = 500;
// How long the clipboard may stay open in another program before we give up.
static const DWORD kOpenWaitMs = 250;

// Waits up to ms, answering messages sent to this thread meanwhile: another
// program emptying the clipboard sends its owner WM_DESTROYCLIPBOARD (and a
// delayed rendering WM_RENDERFORMAT), and would hang on us otherwise.
static void PumpSentMessages(DWORD ms) {
  MsgWaitForMultipleObjectsEx(0, nullptr, ms, QS_SENDMESSAGE, 0);
  MSG message;
  PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

static bool OpenClipboardWithin(HWND owner, DWORD ms) {
  ULONGLONG until = GetTickCount64() + ms;
  for (;;) {
    if (OpenClipboard(owner)) return true;
    if (GetTickCount64() >= until) return false;
    PumpSentMessages(5);
  }
}

static bool AnyModifierHeld() {
  static const int kModifiers[] = {VK_CONTROL, VK_MENU, VK_SHIFT, VK_LWIN, VK_RWIN};
  for (int key : kModifiers)
    if (GetAsyncKeyState(key) & 0x8000) return true;
  return false;
}

static bool AwaitModifiersReleased() {
  ULONGLONG until = GetTickCount64() + kReleaseWaitMs;
  while (AnyModifierHeld()) {
    if (GetTickCount64() >= until) return false;
    PumpSentMessages(10);
  }
  return true;
}

// The integrity level's RID of a process token, or 0 when it cannot be read.
static DWORD IntegrityLevel(HANDLE token) {
  DWORD size = 0;
  GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size);
  TOKEN_MANDATORY_LABEL* label = size ? static_cast<TOKEN_MANDATORY_LABEL*>(malloc(size)) : nullptr;
  DWORD level = 0;
  if (label && GetTokenInformation(token, TokenIntegrityLevel, label, size, &size)) {
    PUCHAR count = GetSidSubAuthorityCount(label->Label.Sid);
    if (count && *count) level = *GetSidSubAuthority(label->Label.Sid, *count - 1);
  }
  free(label);
  return level;
}

// UIPI: a program takes synthesized input only from programs at its
// integrity level or above. A window whose process token we may not even
// query runs as administrator (or as another user): that is taken as above.
static bool ForegroundRunsAbove() {
  HWND front = GetForegroundWindow();
  DWORD processId = 0;
  if (!front || !GetWindowThreadProcessId(front, &processId) || processId == GetCurrentProcessId()) return false;
  HANDLE own = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own)) return false;
  DWORD ownLevel = IntegrityLevel(own);
  CloseHandle(own);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (!process) return false;
  HANDLE token = nullptr;
  bool above = false;
  if (OpenProcessToken(process, TOKEN_QUERY, &token)) {
    DWORD level = IntegrityLevel(token);
    above = ownLevel && level > ownLevel;
    CloseHandle(token);
  } else {
    above = GetLastError() == ERROR_ACCESS_DENIED;
  }
  CloseHandle(process);
  return above;
}

namespace {
enum DataKind { kGlobalMemory, kBitmap, kEnhancedMetafile, kMetafilePicture, kPalette };
struct SavedFormat {
  UINT format;
  DataKind kind;
  HANDLE data;  // our own copy, until SetClipboardData takes it
};
struct SavedClipboard {
  SavedFormat* formats;
  size_t count;
  bool lost;  // a format that could not be copied
};
}  // namespace

static HGLOBAL CopyGlobal(HANDLE data) {
  SIZE_T size = GlobalSize(data);
  const void* from = size ? GlobalLock(data) : nullptr;
  if (!from) return nullptr;
  HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
  void* to = copy ? GlobalLock(copy) : nullptr;
  if (to) {
    memcpy(to, from, size);
    GlobalUnlock(copy);
  } else if (copy) {
    GlobalFree(copy);
    copy = nullptr;
  }
  GlobalUnlock(data);
  return copy;
}

// A METAFILEPICT holds a metafile handle, which needs its own copy.
static HGLOBAL CopyMetafilePicture(HANDLE data) {
  const METAFILEPICT* from = static_cast<const METAFILEPICT*>(GlobalLock(data));
  if (!from) return nullptr;
  METAFILEPICT picture = *from;
  GlobalUnlock(data);
  picture.hMF = CopyMetaFileW(picture.hMF, nullptr);
  HGLOBAL copy = picture.hMF ? GlobalAlloc(GMEM_MOVEABLE, sizeof picture) : nullptr;
  METAFILEPICT* to = copy ? static_cast<METAFILEPICT*>(GlobalLock(copy)) : nullptr;
  if (!to) {
    if (copy) GlobalFree(copy);
    if (picture.hMF) DeleteMetaFile(picture.hMF);
    return nullptr;
  }
  *to = picture;
  GlobalUnlock(copy);
  return copy;
}

static HPALETTE CopyPalette(HPALETTE palette) {
  UINT count = GetPaletteEntries(palette, 0, 0, nullptr);
  LOGPALETTE* logical =
      count ? static_cast<LOGPALETTE*>(malloc(sizeof(LOGPALETTE) + count * sizeof(PALETTEENTRY))) : nullptr;
  if (!logical) return nullptr;
  logical->palVersion = 0x300;
  logical->palNumEntries = WORD(count);
  GetPaletteEntries(palette, 0, count, logical->palPalEntry);
  HPALETTE copy = CreatePalette(logical);
  free(logical);
  return copy;
}

static void FreeSavedData(const SavedFormat& saved) {
  if (!saved.data) return;
  switch (saved.kind) {
    case kBitmap:
      DeleteObject(saved.data);
      break;
    case kPalette:
      DeleteObject(saved.data);
      break;
    case kEnhancedMetafile:
      DeleteEnhMetaFile(static_cast<HENHMETAFILE>(saved.data));
      break;
    case kMetafilePicture: {
      if (METAFILEPICT* picture = static_cast<METAFILEPICT*>(GlobalLock(saved.data))) {
        DeleteMetaFile(picture->hMF);
        GlobalUnlock(saved.data);
      }
      GlobalFree(saved.data);
      break;
    }
    case kGlobalMemory:
      GlobalFree(saved.data);
      break;
  }
}

static void FreeSavedClipboard(SavedClipboard* saved) {
  for (size_t i = 0; i < saved->count; i++) FreeSavedData(saved->formats[i]);
  free(saved->formats);
  *saved = SavedClipboard{};
}

static bool Holds(const UINT* formats, size_t count, UINT format) {
  for (size_t i = 0; i < count; i++)
    if (formats[i] == format) return true;
  return false;
}

// Each format's data, copied, with the clipboard open. Formats the system
// makes from others (a bitmap from a DIB, a palette from a DIB, an old
// metafile from an enhanced one) are left to it again. What only its owner
// can draw (CF_OWNERDISPLAY) and private formats (CF_PRIVATEFIRST to
// CF_PRIVATELAST, handles of the owner's own kind) cannot be put back by
// anyone else, and are lost. The text formats are all kept: the system's
// conversions among them are of the same text.
static void SaveClipboard(SavedClipboard* saved) {
  *saved = SavedClipboard{};
  // Counted as enumerated: CountClipboardFormats need not count the formats
  // the system would make, which the enumeration lists among the others.
  size_t count = 0;
  for (UINT format = 0; (format = EnumClipboardFormats(format)) != 0;) count++;
  UINT* formats = count ? static_cast<UINT*>(calloc(count, sizeof(UINT))) : nullptr;
  size_t listed = 0;
  for (UINT format = 0; formats && listed < count && (format = EnumClipboardFormats(format)) != 0;)
    formats[listed++] = format;
  saved->formats = listed ? static_cast<SavedFormat*>(calloc(listed, sizeof(SavedFormat))) : nullptr;
  if (count && !saved->formats) saved->lost = true;
  bool dib = Holds(formats, listed, CF_DIB) || Holds(formats, listed, CF_DIBV5);
  bool enhanced = Holds(formats, listed, CF_ENHMETAFILE);
  for (size_t i = 0; saved->formats && i < listed; i++) {
    UINT format = formats[i];
    if (((format == CF_BITMAP || format == CF_PALETTE) && dib) || (format == CF_METAFILEPICT && enhanced)) continue;
    if (format == CF_OWNERDISPLAY || (format >= CF_PRIVATEFIRST && format <= CF_PRIVATELAST)) {
      saved->lost = true;
      continue;
    }
    HANDLE data = GetClipboardData(format);
    if (!data) continue;  // a delayed rendering its owner did not make
    SavedFormat& copy = saved->formats[saved->count];
    copy.format = format;
    switch (format) {
      case CF_BITMAP:
      case CF_DSPBITMAP:
        copy.kind = kBitmap;
        copy.data = CopyImage(data, IMAGE_BITMAP, 0, 0, 0);
        break;
      case CF_ENHMETAFILE:
      case CF_DSPENHMETAFILE:
        copy.kind = kEnhancedMetafile;
        copy.data = CopyEnhMetaFileW(static_cast<HENHMETAFILE>(data), nullptr);
        break;
      case CF_METAFILEPICT:
      case CF_DSPMETAFILEPICT:
        copy.kind = kMetafilePicture;
        copy.data = CopyMetafilePicture(data);
        break;
      case CF_PALETTE:
        copy.kind = kPalette;
        copy.data = CopyPalette(static_cast<HPALETTE>(data));
        break;
      default:  // every other format, CF_GDIOBJFIRST to CF_GDIOBJLAST too, is GlobalAlloc memory
        copy.kind = kGlobalMemory;
        copy.data = CopyGlobal(data);
        break;
    }
    if (copy.data)
      saved->count++;
    else
      saved->lost = true;
  }
  free(formats);
}

static void PutDword(UINT format, DWORD value) {
  HGLOBAL memory = format ? GlobalAlloc(GMEM_MOVEABLE, sizeof value) : nullptr;
  DWORD* to = memory ? static_cast<DWORD*>(GlobalLock(memory)) : nullptr;
  if (!to) {
    if (memory) GlobalFree(memory);
    return;
  }
  *to = value;
  GlobalUnlock(memory);
  if (!SetClipboardData(format, memory)) GlobalFree(memory);
}

// With the clipboard open: empty, then the saved formats in their order.
// The contract for the clipboard history and the cloud clipboard (Clipboard
// Formats, "Cloud Clipboard and Clipboard History Formats") lets the program
// that places data keep it out: any data in the registered format
// ExcludeClipboardContentFromMonitorProcessing keeps all of it from both, a
// DWORD 0 in CanIncludeInClipboardHistory or CanUploadToCloudClipboard from
// one. What is put back was in the history (or not) since it was first
// copied, and is kept from being entered a second time; the temporary copy
// was placed by the other program, which alone could have marked it, so it
// is replaced as soon as its text is read, in the same opening.
static void PutBack(SavedClipboard* saved) {
  EmptyClipboard();
  for (size_t i = 0; i < saved->count; i++)
    if (SetClipboardData(saved->formats[i].format, saved->formats[i].data)) saved->formats[i].data = nullptr;
  if (saved->count) PutDword(RegisterClipboardFormatW(L"ExcludeClipboardContentFromMonitorProcessing"), 0);
  FreeSavedClipboard(saved);
}

static bool SendCopyKeys() {
  INPUT keys[4] = {};
  const WORD codes[4] = {VK_CONTROL, 'C', 'C', VK_CONTROL};
  for (int i = 0; i < 4; i++) {
    keys[i].type = INPUT_KEYBOARD;
    keys[i].ki.wVk = codes[i];
    keys[i].ki.dwFlags = i >= 2 ? KEYEVENTF_KEYUP : 0;
  }
  return SendInput(4, keys, sizeof(INPUT)) == 4;
}

SelectionCopy CopySelectedText(HWND owner, char* text, size_t size, size_t* length, bool* restored) {
  text[0] = 0;
  *length = 0;
  *restored = true;
  if (!AwaitModifiersReleased()) return kSelectionKeysHeld;
  if (ForegroundRunsAbove()) return kSelectionElevated;
  if (!OpenClipboardWithin(owner, kOpenWaitMs)) return kSelectionClipboardBusy;
  SavedClipboard saved;
  SaveClipboard(&saved);
  CloseClipboard();
  DWORD before = GetClipboardSequenceNumber();
  if (!SendCopyKeys()) {
    FreeSavedClipboard(&saved);
    return kSelectionInputRefused;
  }
  ULONGLONG until = GetTickCount64() + kCopyWaitMs;
  while (GetClipboardSequenceNumber() == before && GetTickCount64() < until) PumpSentMessages(2);
  if (GetClipboardSequenceNumber() == before) {
    FreeSavedClipboard(&saved);
    return kSelectionNothingCopied;
  }
  // The number changes as the other program empties the clipboard; it holds
  // it open until its copy is whole.
  if (!OpenClipboardWithin(owner, kOpenWaitMs)) {
    FreeSavedClipboard(&saved);
    *restored = false;
    return kSelectionClipboardBusy;
  }
  bool hasText = ReadOpenClipboardText(text, size, length) == kClipboardTextCopied;
  *restored = !saved.lost;
  PutBack(&saved);
  CloseClipboard();
  return hasText ? kSelectionCopied : kSelectionNoText;
}

const char* DescribeSelectionCopy(SelectionCopy outcome) {
  switch (outcome) {
    case kSelectionCopied:
      return "the selection was copied";
    case kSelectionKeysHeld:
      return "the keys were still held down after 1.5 seconds, so nothing was copied";
    case kSelectionElevated:
      return "the window in front runs as administrator (or as another user) and takes no keys from teldial: "
             "copy the number and use Dial clipboard";
    case kSelectionInputRefused:
      return "Windows did not take the copy keys (another program blocks input)";
    case kSelectionNothingCopied:
      return "nothing was copied from the window in front: select the number first";
    case kSelectionNoText:
      return "the selection holds no text";
    case kSelectionClipboardBusy:
      return "another program keeps the clipboard open";
  }
  return "?";
}
