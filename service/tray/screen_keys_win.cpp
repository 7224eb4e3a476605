#include "service/tray/screen_keys_win.h"

#include <stdio.h>

#include "service/log/service_log_win.h"
#include "service/loop/dial_service_win.h"
#include "service/number/number_in_text.h"
#include "service/tray/selection_copy_win.h"

namespace {
struct HeldKey {
  int id;
  const char* name;  // for the log and the balloon
  bool held;
};
}  // namespace

static HeldKey heldKeys[] = {{kDialHotkeyId, "dial key", false}, {kHangUpHotkeyId, "hang-up key", false}};

void ReleaseHotkeys(HWND window) {
  for (HeldKey& key : heldKeys) {
    if (key.held) UnregisterHotKey(window, key.id);
    key.held = false;
  }
}

void TakeHotkeys(HWND window, const ServiceOptions& options, KeyWarning warn) {
  ReleaseHotkeys(window);
  for (HeldKey& key : heldKeys) {
    const Hotkey& chosen = key.id == kDialHotkeyId ? options.dialHotkey : options.hangUpHotkey;
    if (!chosen.key) continue;
    char name[48];
    FormatHotkey(chosen, name, sizeof name);
    // MOD_NOREPEAT: a key held down dials once, not at the keyboard's repeat rate.
    key.held = RegisterHotKey(window, key.id, chosen.modifiers | MOD_NOREPEAT, chosen.key);
    if (key.held) {
      LogLine("the %s is %s", key.name, name);
      continue;
    }
    DWORD error = GetLastError();
    if (error != ERROR_HOTKEY_ALREADY_REGISTERED) {
      LogLine("the %s %s cannot be registered, error %lu", key.name, name, error);
      continue;
    }
    LogLine("the notification area says: the %s %s is taken by another program", key.name, name);
    char text[256];
    snprintf(text, sizeof text,
             "Another program already uses %s, so it does nothing here. Choose another key in Settings.", name);
    warn(key.id == kDialHotkeyId ? L"teldial: the dial key is taken" : L"teldial: the hang-up key is taken", text);
  }
}

// Long enough for any selection whose first number matters.
static const size_t kMaxSelection = 4096;

void DialSelection(HWND window, KeyWarning warn) {
  static char text[kMaxSelection];
  size_t length = 0;
  bool restored = true;
  SelectionCopy outcome = CopySelectedText(window, text, sizeof text, &length, &restored);
  if (!restored) LogLine("the clipboard could not be put back whole after the dial key");
  size_t start = 0, size = 0;
  if (outcome == kSelectionCopied && FindPhoneNumberInText(text, length, &start, &size)) {
    DialFromScreen(text + start, size, "the dial key");
    return;
  }
  const char* why = outcome == kSelectionCopied ? "the selected text holds no phone number"
                                                : DescribeSelectionCopy(outcome);
  LogLine("the notification area says: nothing dialled with the dial key: %s", why);
  char sentence[320];
  snprintf(sentence, sizeof sentence, "%s%s.", why, outcome == kSelectionCopied ? " (select one, then press the key)" : "");
  sentence[0] = char(sentence[0] >= 'a' && sentence[0] <= 'z' ? sentence[0] - 'a' + 'A' : sentence[0]);
  warn(L"teldial: nothing dialled", sentence);
}
