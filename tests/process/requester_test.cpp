// The requester against real windows and real message boxes. ShowMessage
// blocks in the box's modal loop, so a watcher thread finds the box by its
// caption, looks at the windows while it is up, and then presses a button.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "heap_walk_win.h"
#include "processes_win.h"
#include "runtime/process/requester.h"
#include "runtime/program_heap.h"
#include "runtime/strings/managed_strings.h"

namespace {
const wchar_t kWindowClass[] = L"RequesterTestWindow";

void RegisterTestClass() {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kWindowClass;
  RegisterClassW(&windowClass);  // fails harmlessly once registered
}

enum WindowKind : unsigned { kVisible = 1, kDisabled = 2, kTopmost = 4 };

// A top-level window of the calling thread, destroyed with the object.
class TestWindow {
 public:
  explicit TestWindow(unsigned kind) {
    RegisterTestClass();
    DWORD style = WS_OVERLAPPEDWINDOW | ((kind & kVisible) ? WS_VISIBLE : 0) | ((kind & kDisabled) ? WS_DISABLED : 0);
    handle = CreateWindowExW((kind & kTopmost) ? WS_EX_TOPMOST : 0, kWindowClass, L"requester test", style, 40, 40,
                             200, 120, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  }
  ~TestWindow() { DestroyWindow(handle); }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;
  HWND handle;
};

bool IsTopmost(HWND window) { return (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }
bool IsEnabled(HWND window) { return IsWindowEnabled(window) != 0; }

// Two windows of another thread of this process, one of them topmost.
class WindowsOfAnotherThread {
 public:
  WindowsOfAnotherThread() {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this, ready] {
      TestWindow plain(kVisible), topmost(kVisible | kTopmost);
      this->plain = plain.handle;
      this->topmost = topmost.handle;
      threadId_ = GetCurrentThreadId();
      SetEvent(ready);
      MSG message;
      while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    });
    WaitForSingleObject(ready, 10000);
    CloseHandle(ready);
  }
  ~WindowsOfAnotherThread() {
    PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    thread_.join();
  }
  HWND plain = nullptr;
  HWND topmost = nullptr;

 private:
  std::thread thread_;
  DWORD threadId_ = 0;
};

// A managed string with the given text, released with the object.
class TestString {
 public:
  explicit TestString(const std::u16string& text) : value(AllocateString(int32_t(text.size()))) {
    for (size_t i = 0; i < text.size(); i++) value[i] = text[i];
    value[text.size()] = 0;
  }
  ~TestString() { FreeString(value); }
  TestString(const TestString&) = delete;
  TestString& operator=(const TestString&) = delete;
  String value;
};

// Captions differ from call to call, so a watcher never finds an earlier box.
std::u16string UniqueCaption(const char* what) {
  static int serial;
  std::string caption = std::string("requester ") + what + " " + std::to_string(++serial);
  return std::u16string(caption.begin(), caption.end());
}

HWND WaitForBox(const std::u16string& caption, DWORD timeoutMs) {
  const wchar_t* title = reinterpret_cast<const wchar_t*>(caption.c_str());
  DWORD start = GetTickCount();
  for (;;) {
    HWND box = FindWindowW(L"#32770", title);
    if (box && IsWindowVisible(box)) return box;
    if (GetTickCount() - start > timeoutMs) return nullptr;
    Sleep(10);
  }
}

void PressButton(HWND box, int id) {
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
}

struct BoxRun {
  bool seen = false;
  int32_t result = -1;
};

// Runs show() on this thread. Meanwhile a watcher waits for the box titled
// caption, calls whileUp(box) and presses the button.
BoxRun WithBox(const std::u16string& caption, int button, const std::function<void(HWND)>& whileUp,
               const std::function<int32_t()>& show) {
  BoxRun run;
  std::atomic<bool> seen{false};
  std::thread watcher([&] {
    HWND box = WaitForBox(caption, 20000);
    if (!box) return;
    seen = true;
    whileUp(box);
    PressButton(box, button);
  });
  run.result = show();
  watcher.join();
  run.seen = seen;
  return run;
}

size_t ProgramHeapBytes() { return HeapBytesInUse(static_cast<HANDLE>(programHeap)); }

// Makes the window the foreground window, as far as the window manager allows.
bool BringToForeground(HWND window) {
  for (int attempt = 0; attempt < 50 && GetForegroundWindow() != window; attempt++) {
    SetForegroundWindow(window);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    Sleep(10);
  }
  return GetForegroundWindow() == window;
}

struct WindowState {
  bool enabled;
  bool topmost;
};
WindowState StateOf(HWND window) { return {IsEnabled(window), IsTopmost(window)}; }
}  // namespace

// ---- The disable pass and the restore pass ----------------------------------

TEST(ShowMessage, DisablesThreadWindowsWhileUpAndRestoresThemAfterwards) {
  TestWindow plain(kVisible), alreadyDisabled(kVisible | kDisabled), topmost(kVisible | kTopmost);
  TestWindow hidden(kTopmost), foreground(kVisible);
  WindowsOfAnotherThread others;
  ASSERT_TRUE(BringToForeground(foreground.handle)) << "the window manager refused the foreground";

  std::u16string caption = UniqueCaption("disable");
  TestString captionString(caption), text(u"windows are disabled");
  size_t bytesBefore = ProgramHeapBytes();
  WindowState plainUp{}, disabledUp{}, topmostUp{}, hiddenUp{}, otherUp{}, otherTopmostUp{};
  HWND ownerUp = nullptr;
  size_t bytesUp = 0;
  BoxRun run = WithBox(
      caption, IDOK,
      [&](HWND box) {
        plainUp = StateOf(plain.handle);
        disabledUp = StateOf(alreadyDisabled.handle);
        topmostUp = StateOf(topmost.handle);
        hiddenUp = StateOf(hidden.handle);
        otherUp = StateOf(others.plain);
        otherTopmostUp = StateOf(others.topmost);
        ownerUp = GetWindow(box, GW_OWNER);
        bytesUp = ProgramHeapBytes();
      },
      [&] { return ShowMessage(captionString.value, text.value); });

  ASSERT_TRUE(run.seen);
  EXPECT_EQ(IDOK, run.result);
  EXPECT_EQ(foreground.handle, ownerUp) << "this process's foreground window owns the box";
  EXPECT_FALSE(plainUp.enabled);
  EXPECT_FALSE(disabledUp.enabled);
  EXPECT_FALSE(topmostUp.enabled);
  EXPECT_FALSE(topmostUp.topmost);
  EXPECT_TRUE(hiddenUp.enabled);
  EXPECT_TRUE(hiddenUp.topmost);
  EXPECT_TRUE(otherUp.enabled);
  EXPECT_TRUE(otherTopmostUp.enabled);
  EXPECT_TRUE(otherTopmostUp.topmost);
  // One entry (two links and the window, pointer-sized; the thread id; two
  // flags) for each visible window of the thread: plain, already disabled,
  // topmost, foreground.
  const size_t kEntryBytes = sizeof(void*) == 8 ? 32 : 20;
  EXPECT_EQ(bytesBefore + 4 * kEntryBytes, bytesUp);

  EXPECT_TRUE(IsEnabled(plain.handle));
  EXPECT_FALSE(IsEnabled(alreadyDisabled.handle));
  EXPECT_TRUE(IsEnabled(topmost.handle));
  EXPECT_TRUE(IsTopmost(topmost.handle));
  EXPECT_TRUE(IsEnabled(hidden.handle));
  EXPECT_TRUE(IsTopmost(hidden.handle));
  EXPECT_TRUE(IsEnabled(foreground.handle));
  EXPECT_TRUE(IsEnabled(others.plain));
  EXPECT_TRUE(IsTopmost(others.topmost));
  EXPECT_EQ(bytesBefore, ProgramHeapBytes()) << "every entry is returned to the program heap";
}

TEST(ShowMessage, NeverDisablesTheForegroundWindow) {
  TestWindow owner(kVisible), foreground(kVisible);
  ASSERT_TRUE(BringToForeground(foreground.handle)) << "the window manager refused the foreground";

  std::u16string caption = UniqueCaption("foreground");
  TestString captionString(caption), text(u"an owner is given");
  bool foregroundEnabledUp = false, ownerEnabledUp = true, hasCancel = false;
  HWND ownerUp = nullptr;
  BoxRun run = WithBox(
      caption, IDCANCEL,
      [&](HWND box) {
        foregroundEnabledUp = IsEnabled(foreground.handle);
        ownerEnabledUp = IsEnabled(owner.handle);
        ownerUp = GetWindow(box, GW_OWNER);
        hasCancel = GetDlgItem(box, IDCANCEL) != nullptr;
      },
      [&] { return ShowMessage(captionString.value, text.value, MB_OKCANCEL, owner.handle); });

  ASSERT_TRUE(run.seen);
  EXPECT_EQ(IDCANCEL, run.result) << "the button pressed is the result";
  EXPECT_TRUE(hasCancel) << "the flags are the box's style";
  EXPECT_EQ(owner.handle, ownerUp) << "a given owner is used as it is";
  EXPECT_TRUE(foregroundEnabledUp);
  EXPECT_FALSE(ownerEnabledUp);
  EXPECT_TRUE(IsEnabled(owner.handle));
  EXPECT_TRUE(IsEnabled(foreground.handle));
}

TEST(ShowMessage, ThreeArgumentFormPassesTheFlags) {
  std::u16string caption = UniqueCaption("flags");
  TestString captionString(caption), text(u"yes or no");
  bool hasYes = false;
  BoxRun run = WithBox(
      caption, IDNO, [&](HWND box) { hasYes = GetDlgItem(box, IDYES) != nullptr; },
      [&] { return ShowMessage(captionString.value, text.value, MB_YESNO); });
  ASSERT_TRUE(run.seen);
  EXPECT_TRUE(hasYes);
  EXPECT_EQ(IDNO, run.result);
}

TEST(ShowMessage, WithoutWindowsTheListStaysEmpty) {
  std::u16string caption = UniqueCaption("empty");
  TestString captionString(caption), text(u"no windows");
  size_t bytesBefore = ProgramHeapBytes();
  size_t bytesUp = 0;
  HWND ownerUp = reinterpret_cast<HWND>(1);
  BoxRun run = WithBox(
      caption, IDOK,
      [&](HWND box) {
        bytesUp = ProgramHeapBytes();
        ownerUp = GetWindow(box, GW_OWNER);
      },
      [&] { return ShowMessage(captionString.value, text.value); });
  ASSERT_TRUE(run.seen);
  EXPECT_EQ(IDOK, run.result);
  EXPECT_EQ(bytesBefore, bytesUp);
  EXPECT_EQ(bytesBefore, ProgramHeapBytes());
  EXPECT_EQ(nullptr, ownerUp);
}

// Without memory for an entry nothing could put a window back, so the window is
// neither disabled nor taken out of the topmost band.
TEST(ShowMessage, LeavesWindowsAloneWhenNoEntryCanBeRecorded) {
  // The box is given an owner because a box disables its owner itself.
  TestWindow plain(kVisible), topmost(kVisible | kTopmost), owner(kVisible);
  std::u16string caption = UniqueCaption("no memory");
  TestString captionString(caption), text(u"no entries");
  WindowState plainUp{}, topmostUp{};
  void* heap = programHeap;
  programHeap = nullptr;  // every program-heap allocation now fails
  BoxRun run = WithBox(
      caption, IDOK,
      [&](HWND) {
        plainUp = StateOf(plain.handle);
        topmostUp = StateOf(topmost.handle);
      },
      [&] { return ShowMessage(captionString.value, text.value, MB_OK, owner.handle); });
  programHeap = heap;
  ASSERT_TRUE(run.seen);
  EXPECT_EQ(IDOK, run.result);
  EXPECT_TRUE(plainUp.enabled);
  EXPECT_TRUE(topmostUp.enabled);
  EXPECT_TRUE(topmostUp.topmost);
  EXPECT_TRUE(IsEnabled(plain.handle));
  EXPECT_TRUE(IsTopmost(topmost.handle));
}

TEST(ShowMessage, RestoresWindowsWhenTheBoxCannotBeShown) {
  TestWindow plain(kVisible), topmost(kVisible | kTopmost);
  TestString caption(u"never shown"), text(u"the owner is no window");
  size_t bytesBefore = ProgramHeapBytes();
  HWND notAWindow = reinterpret_cast<HWND>(uintptr_t(0x7FFF0));
  ASSERT_FALSE(IsWindow(notAWindow));
  // Windows reports the failure as 0; Wine passes on the -1 of its dialog code.
  int32_t result = ShowMessage(caption.value, text.value, MB_OK, notAWindow);
  EXPECT_TRUE(result == 0 || result == -1) << result;
  EXPECT_TRUE(IsEnabled(plain.handle));
  EXPECT_TRUE(IsTopmost(topmost.handle));
  EXPECT_EQ(bytesBefore, ProgramHeapBytes());
}

// Each thread restores only what it recorded: closing one thread's box leaves
// the other thread's windows disabled until its own box closes. Both boxes get
// an owner of their own thread, so neither box disables the other's windows.
TEST(ShowMessage, EachThreadRestoresOnlyItsOwnWindows) {
  TestWindow mine(kVisible), myOwner(kVisible);
  std::u16string otherCaption = UniqueCaption("other thread");
  HWND otherWindow = nullptr;
  HWND otherBox = nullptr;
  HANDLE otherUp = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int32_t> otherResult{-1};
  std::thread other([&] {
    TestWindow theirs(kVisible), theirOwner(kVisible);
    otherWindow = theirs.handle;
    TestString captionString(otherCaption), text(u"from the other thread");
    std::thread watcher([&] {
      otherBox = WaitForBox(otherCaption, 20000);
      SetEvent(otherUp);
    });
    otherResult = ShowMessage(captionString.value, text.value, MB_OK, theirOwner.handle);
    watcher.join();
  });
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(otherUp, 20000));
  ASSERT_NE(nullptr, otherBox);
  bool otherEnabledBefore = IsEnabled(otherWindow);

  std::u16string caption = UniqueCaption("this thread");
  TestString captionString(caption), text(u"from the test thread");
  bool mineEnabledUp = true;
  BoxRun run = WithBox(
      caption, IDOK, [&](HWND) { mineEnabledUp = IsEnabled(mine.handle); },
      [&] { return ShowMessage(captionString.value, text.value, MB_OK, myOwner.handle); });
  bool otherEnabledAfterMyBox = IsEnabled(otherWindow);
  bool mineEnabledAfter = IsEnabled(mine.handle);

  PressButton(otherBox, IDOK);
  other.join();
  CloseHandle(otherUp);
  ASSERT_TRUE(run.seen);
  EXPECT_FALSE(otherEnabledBefore);
  EXPECT_FALSE(mineEnabledUp);
  EXPECT_TRUE(mineEnabledAfter);
  EXPECT_FALSE(otherEnabledAfterMyBox) << "the other thread's entry stays until its own box closes";
  EXPECT_EQ(IDOK, otherResult.load());
}

// ---- The owner --------------------------------------------------------------

TEST(ShowMessage, ForegroundWindowOfAnotherProcessDoesNotOwnTheBox) {
  TestWindow mine(kVisible);
  ProgramRun usage;
  ASSERT_TRUE(StartProgram(TeldialPath(), L"teldial", &usage));
  HWND usageBox = FindMessageBox(usage.processId, 20000);
  ASSERT_NE(nullptr, usageBox);
  bool foreign = BringToForeground(usageBox);

  HWND ownerUp = reinterpret_cast<HWND>(1);
  if (foreign) {
    std::u16string caption = UniqueCaption("foreign");
    TestString captionString(caption), text(u"the foreground is another process's");
    BoxRun run = WithBox(
        caption, IDOK, [&](HWND box) { ownerUp = GetWindow(box, GW_OWNER); },
        [&] { return ShowMessage(captionString.value, text.value); });
    EXPECT_TRUE(run.seen);
  }
  PressOk(usageBox);
  EXPECT_EQ(0, WaitForExit(&usage, 20000));
  if (!foreign) GTEST_SKIP() << "the window manager would not give another process the foreground";
  EXPECT_EQ(nullptr, ownerUp);
}

// ---- The length limit ---------------------------------------------------------

TEST(ShowMessage, ShortensTextsLongerThan65535Units) {
  struct Case {
    size_t length;
    size_t shown;
  };
  const Case cases[] = {{1, 1}, {65534, 65534}, {65535, 65535}, {65536, 65534}, {65537, 65534}, {100000, 65534}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::u16string full(c.length, u'x');
    for (size_t i = 0; i < c.length; i++) full[i] = (i % 64 == 63) ? u'\n' : char16_t(u'a' + (i * 7) % 26);
    std::u16string caption = UniqueCaption("length");
    TestString captionString(caption), text(full);
    std::wstring shown;
    BoxRun run = WithBox(
        caption, IDOK, [&](HWND box) { shown = MessageBoxText(box); },
        [&] { return ShowMessage(captionString.value, text.value); });
    ASSERT_TRUE(run.seen);
    EXPECT_EQ(c.shown, shown.size());
    EXPECT_TRUE(std::u16string(shown.begin(), shown.end()) == full.substr(0, c.shown));
    EXPECT_EQ(int32_t(c.length), StringLength(text.value)) << "the caller's text is left alone";
    EXPECT_TRUE(std::u16string(text.value, c.length) == full);
  }
}

TEST(ShowMessage, NullTextShowsAnEmptyBox) {
  std::u16string caption = UniqueCaption("null");
  TestString captionString(caption);
  std::wstring shown = L"unread";
  BoxRun run = WithBox(
      caption, IDOK, [&](HWND box) { shown = MessageBoxText(box); },
      [&] { return ShowMessage(captionString.value, nullptr); });
  ASSERT_TRUE(run.seen);
  EXPECT_EQ(IDOK, run.result);
  EXPECT_EQ(L"", shown);
}

// ---- Start-up steps -----------------------------------------------------------

// The start steps only take note; the next box does the work.
TEST(RequesterStartup, ScreenDpiIsReadForTheNextBox) {
  HDC screen = GetDC(nullptr);
  int dpiX = GetDeviceCaps(screen, LOGPIXELSX), dpiY = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  screenDpiX = screenDpiY = 0;
  screenScaleX = screenScaleY = 0.0;
  ReadScreenDpi();
  EXPECT_EQ(0, screenDpiX) << "read before a box was shown";

  std::u16string caption = UniqueCaption("dpi");
  TestString captionString(caption), text(u"dpi");
  BoxRun run = WithBox(caption, IDOK, [](HWND) {}, [&] { return ShowMessage(captionString.value, text.value); });
  ASSERT_TRUE(run.seen);
  EXPECT_EQ(dpiX, screenDpiX);
  EXPECT_EQ(dpiY, screenDpiY);
  EXPECT_DOUBLE_EQ(dpiX / 96.0, screenScaleX);
  EXPECT_DOUBLE_EQ(dpiY / 96.0, screenScaleY);
}

TEST(RequesterStartup, InitRequesterInitialisedComOnThisThread) {
  std::u16string caption = UniqueCaption("com");
  TestString captionString(caption), text(u"com");
  BoxRun run = WithBox(caption, IDOK, [](HWND) {}, [&] { return ShowMessage(captionString.value, text.value); });
  ASSERT_TRUE(run.seen);
  HRESULT again = CoInitialize(nullptr);
  if (SUCCEEDED(again)) CoUninitialize();
  EXPECT_EQ(S_FALSE, again) << "the box on the thread that started the requester initialises COM there";
}
