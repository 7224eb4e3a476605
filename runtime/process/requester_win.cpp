#include "requester.h"

#include <windows.h>
#include <commctrl.h>
#include <string.h>

#include "../program_heap.h"
#include "window_library_win.h"

// The process declares itself DPI-aware in its manifest, so the screen's real
// DPI is what it draws with. Building with REQUESTER_DPI_AWARE=0 leaves the
// metrics at 96 DPI.
#ifndef REQUESTER_DPI_AWARE
#define REQUESTER_DPI_AWARE 1
#endif

int32_t screenDpiX = 96;
int32_t screenDpiY = 96;
double screenScaleX = 1.0;
double screenScaleY = 1.0;

// Bound by the first box; the window calls below run only after that.
static const WindowFunctions* gui;

// What the start steps asked for, done before the first box (see requester.h).
static bool screenDpiDue;
static bool commonControlsDue;
static DWORD comThreadId;  // 0 once COM is initialised, or when it was never asked for

namespace {
// One window that a ShowMessage call recorded, so that the same thread can put
// it back the way it was once the box is closed.
// The pointer-sized fields lead, so that no padding falls between them in a
// 64-bit process: 20 bytes there in a 32-bit process, 32 in a 64-bit one.
struct WindowEntry {
  WindowEntry* next;
  WindowEntry* previous;
  HWND window;
  uint32_t threadId;
  uint8_t wasTopmost;
  uint8_t disabledHere;
};
}  // namespace

// Newest entry first; empty between calls. Entries belong to the thread that
// recorded them and only that thread unlinks them. The lock guards the links
// only: it is never held across a window call, because those call the
// thread's own window procedures, which may show a message themselves.
static WindowEntry* windowList;
static SRWLOCK windowListLock = SRWLOCK_INIT;

const int32_t kLongestShownText = 65535;
const int32_t kShortenedTextLength = 65534;
const int32_t kShortenedBufferUnits = 65536;
const UINT kKeepPlaceAndSize = SWP_NOMOVE | SWP_NOSIZE;

void ReadScreenDpi() { screenDpiDue = REQUESTER_DPI_AWARE; }

// Tab, hot-key, date, extended combo box and IP address controls.
const DWORD kCommonControlClasses =
    ICC_TAB_CLASSES | ICC_HOTKEY_CLASS | ICC_DATE_CLASSES | ICC_USEREX_CLASSES | ICC_INTERNET_CLASSES;
static_assert(kCommonControlClasses == 0xB48, "the classes the requester's dialogs use");

void InitRequester() {
  commonControlsDue = true;
  comThreadId = GetCurrentThreadId();
}

// Nothing to release: the window libraries stay until the process ends.
void EndRequester() {}

// Binds the window functions and does what the start steps asked for, in their
// order: the screen's DPI, the common controls, and COM on the thread that
// started the requester once that thread shows a box. Two threads showing
// their first boxes at once may both read the DPI or register the controls,
// which is harmless. False when the window libraries cannot be had.
static bool PrepareBox() {
  gui = WindowLibrary();
  if (!gui) return false;
  if (screenDpiDue) {
    screenDpiDue = false;
    HDC screen = gui->GetDC(nullptr);
    screenDpiX = gui->GetDeviceCaps(screen, LOGPIXELSX);
    screenDpiY = gui->GetDeviceCaps(screen, LOGPIXELSY);
    screenScaleX = screenDpiX / 96.0;
    screenScaleY = screenDpiY / 96.0;
    gui->ReleaseDC(nullptr, screen);
  }
  if (commonControlsDue) {
    commonControlsDue = false;
    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof controls;
    controls.dwICC = kCommonControlClasses;
    gui->InitCommonControlsEx(&controls);
  }
  if (comThreadId && comThreadId == GetCurrentThreadId()) {
    comThreadId = 0;
    gui->CoInitialize(nullptr);
  }
  return true;
}

static void LinkAtHead(WindowEntry* entry) {
  AcquireSRWLockExclusive(&windowListLock);
  entry->next = windowList;
  entry->previous = nullptr;
  if (windowList) windowList->previous = entry;
  windowList = entry;
  ReleaseSRWLockExclusive(&windowListLock);
}

static void Unlink(WindowEntry* entry) {
  if (entry->previous) entry->previous->next = entry->next;
  else windowList = entry->next;
  if (entry->next) entry->next->previous = entry->previous;
}

static bool IsListed(const WindowEntry* wanted) {
  for (WindowEntry* entry = windowList; entry; entry = entry->next)
    if (entry == wanted) return true;
  return false;
}

// The thread's entry after `after`, or its first one when `after` is null.
// A message shown from a window procedure during a window call restores and
// frees this thread's entries, so `after` may be gone: then the walk starts
// over, which at worst repeats a harmless SetWindowPos.
static WindowEntry* NextEntryOfThread(WindowEntry* after, uint32_t threadId) {
  AcquireSRWLockExclusive(&windowListLock);
  WindowEntry* entry = (after && IsListed(after)) ? after->next : windowList;
  while (entry && entry->threadId != threadId) entry = entry->next;
  ReleaseSRWLockExclusive(&windowListLock);
  return entry;
}

static WindowEntry* UnlinkFirstEntryOfThread(uint32_t threadId) {
  AcquireSRWLockExclusive(&windowListLock);
  WindowEntry* entry = windowList;
  while (entry && entry->threadId != threadId) entry = entry->next;
  if (entry) Unlink(entry);
  ReleaseSRWLockExclusive(&windowListLock);
  return entry;
}

// A window that cannot be recorded is left alone: nothing would put it back.
static BOOL CALLBACK RecordAndDisable(HWND window, LPARAM parameter) {
  uint32_t threadId = uint32_t(parameter);
  if (gui->GetWindowThreadProcessId(window, nullptr) != threadId || !gui->IsWindowVisible(window)) return TRUE;
  WindowEntry* entry = static_cast<WindowEntry*>(ProgramHeapAllocate(sizeof(WindowEntry)));
  if (!entry) return TRUE;
  entry->threadId = threadId;
  entry->window = window;
  LinkAtHead(entry);
  if (gui->GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) entry->wasTopmost = 1;
  if (window != gui->GetForegroundWindow() && gui->IsWindowEnabled(window)) {
    entry->disabledHere = 1;
    gui->EnableWindow(window, FALSE);
  }
  return TRUE;
}

static void DisableThreadWindows(uint32_t threadId) {
  gui->EnumWindows(RecordAndDisable, LPARAM(threadId));
  for (WindowEntry* entry = NextEntryOfThread(nullptr, threadId); entry; entry = NextEntryOfThread(entry, threadId)) {
    if (entry->wasTopmost) gui->SetWindowPos(entry->window, HWND_NOTOPMOST, 0, 0, 0, 0, kKeepPlaceAndSize);
  }
}

// Restores every entry of the thread, also those of an enclosing call.
static void RestoreThreadWindows(uint32_t threadId) {
  while (WindowEntry* entry = UnlinkFirstEntryOfThread(threadId)) {
    if (entry->disabledHere) gui->EnableWindow(entry->window, TRUE);
    if (entry->wasTopmost) gui->SetWindowPos(entry->window, HWND_TOPMOST, 0, 0, 0, 0, kKeepPlaceAndSize);
    ProgramHeapFree(entry);
  }
}

static HWND ForegroundWindowOfThisProcess() {
  HWND foreground = gui->GetForegroundWindow();
  if (!foreground) return nullptr;
  DWORD processId = 0;
  gui->GetWindowThreadProcessId(foreground, &processId);
  return processId == GetCurrentProcessId() ? foreground : nullptr;
}

static int32_t ShowWithThreadWindowsDisabled(HWND owner, const char16_t* text, String caption, uint32_t flags) {
  uint32_t threadId = GetCurrentThreadId();
  DisableThreadWindows(threadId);
  int32_t result = gui->MessageBoxW(owner, reinterpret_cast<LPCWSTR>(text), reinterpret_cast<LPCWSTR>(caption), flags);
  RestoreThreadWindows(threadId);
  return result;
}

int32_t ShowMessage(String caption, String text) { return ShowMessage(caption, text, 0, nullptr); }

int32_t ShowMessage(String caption, String text, uint32_t flags) { return ShowMessage(caption, text, flags, nullptr); }

int32_t ShowMessage(String caption, String text, uint32_t flags, void* owner) {
  // 0 is what MessageBoxW gives when it cannot show a box.
  if (!PrepareBox()) return 0;
  HWND ownerWindow = owner ? static_cast<HWND>(owner) : ForegroundWindowOfThisProcess();
  if (StringLength(text) > kLongestShownText) {
    char16_t shortened[kShortenedBufferUnits];
    memcpy(shortened, text, kShortenedTextLength * sizeof(char16_t));
    shortened[kShortenedTextLength] = 0;
    return ShowWithThreadWindowsDisabled(ownerWindow, shortened, caption, flags);
  }
  return ShowWithThreadWindowsDisabled(ownerWindow, text, caption, flags);
}
