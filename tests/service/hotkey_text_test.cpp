// The global keys as text: what the settings file and the settings window say,
// read into RegisterHotKey's modifiers and virtual key and written back.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "service/settings/hotkey_text.h"

TEST(HotkeyText, KeysAreReadRefusedAndWrittenBack) {
  struct Case {
    const char16_t* text;
    HotkeyError error;
    const char* written;  // FormatHotkey of what was read
    unsigned modifiers, key;
  };
  const unsigned kCtrlAltShift = kHotkeyCtrl | kHotkeyAlt | kHotkeyShift;
  const Case cases[] = {
      {u"Ctrl+Alt+Shift+F8", kHotkeyParsed, "Ctrl+Alt+Shift+F8", kCtrlAltShift, 0x77},
      {u" shift + CONTROL +alt+ f8 ", kHotkeyParsed, "Ctrl+Alt+Shift+F8", kCtrlAltShift, 0x77},
      {u"Ctrl+Shift+D", kHotkeyParsed, "Ctrl+Shift+D", kHotkeyCtrl | kHotkeyShift, 'D'},
      {u"Win+F9", kHotkeyParsed, "Win+F9", kHotkeyWin, 0x78},
      {u"windows+shift+7", kHotkeyParsed, "Shift+Win+7", kHotkeyShift | kHotkeyWin, '7'},
      {u"Alt+PgDn", kHotkeyParsed, "Alt+PageDown", kHotkeyAlt, 0x22},
      {u"ctrl+del", kHotkeyParsed, "Ctrl+Delete", kHotkeyCtrl, 0x2E},
      {u"Ctrl+Num0", kHotkeyParsed, "Ctrl+Num0", kHotkeyCtrl, 0x60},
      {u"F13", kHotkeyParsed, "F13", 0, 0x7C},
      {u"shift+f24", kHotkeyParsed, "Shift+F24", kHotkeyShift, 0x87},
      {u"Ctrl+Alt+F1", kHotkeyParsed, "Ctrl+Alt+F1", kHotkeyCtrl | kHotkeyAlt, 0x70},
      {u"Ctrl+Alt+Win+D", kHotkeyParsed, "Ctrl+Alt+Win+D", kHotkeyCtrl | kHotkeyAlt | kHotkeyWin, 'D'},
      {u"None", kHotkeyParsed, "none", 0, 0},
      {u"", kHotkeyEmpty, "none", 0, 0},
      {u"  ", kHotkeyEmpty, "none", 0, 0},
      // AltGr is Ctrl+Alt: AltGr+D types on Czech, AltGr+Shift+A on Polish.
      {u"Ctrl+Alt+D", kHotkeyAltGr, "none", 0, 0},
      {u"Ctrl+Alt+Shift+A", kHotkeyAltGr, "none", 0, 0},
      {u"Alt+Ctrl+2", kHotkeyAltGr, "none", 0, 0},
      {u"Ctrl+Alt+Space", kHotkeyAltGr, "none", 0, 0},
      {u"D", kHotkeyNoModifier, "none", 0, 0},
      {u"Shift+D", kHotkeyNoModifier, "none", 0, 0},
      {u"Shift+F8", kHotkeyNoModifier, "none", 0, 0},
      {u"F12", kHotkeyDebuggerKey, "none", 0, 0},
      {u"Ctrl+Shift+F12", kHotkeyDebuggerKey, "none", 0, 0},
      {u"Shift+F11", kHotkeyNoModifier, "none", 0, 0},
      {u"Ctrl+Shift", kHotkeyNoKey, "none", 0, 0},
      {u"Ctrl+D+E", kHotkeyTwoKeys, "none", 0, 0},
      {u"Ctrl+Ctrl+D", kHotkeyNameTwice, "none", 0, 0},
      {u"Ctrl+F25", kHotkeyUnknownName, "none", 0, 0},
      {u"Ctrl+F0", kHotkeyUnknownName, "none", 0, 0},
      {u"Ctrl++D", kHotkeyUnknownName, "none", 0, 0},
      {u"Ctrl+", kHotkeyUnknownName, "none", 0, 0},
      {u"Ctrl Shift D", kHotkeyUnknownName, "none", 0, 0},
      {u"Strg+D", kHotkeyUnknownName, "none", 0, 0},
      {u"Ctrl+\u00c4", kHotkeyUnknownName, "none", 0, 0},
      {u"Ctrl+ScrollLockScrollLockScrollLock", kHotkeyUnknownName, "none", 0, 0},
      {u"none+Ctrl+D", kHotkeyUnknownName, "none", 0, 0},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const char16_t* t = c.text; *t; t++) shown += *t < 0x80 ? char(*t) : '?';
    SCOPED_TRACE(shown);
    Hotkey hotkey = {99, 99};
    EXPECT_EQ(c.error, ParseHotkey(c.text, &hotkey));
    EXPECT_EQ(c.modifiers, hotkey.modifiers);
    EXPECT_EQ(c.key, hotkey.key);
    char written[32];
    EXPECT_EQ(strlen(c.written), FormatHotkey(hotkey, written, sizeof written));
    EXPECT_STREQ(c.written, written);
    // What is written back reads as the same key.
    std::u16string again(written, written + strlen(written));
    Hotkey reread;
    if (c.error == kHotkeyParsed) {
      EXPECT_EQ(kHotkeyParsed, ParseHotkey(again.c_str(), &reread));
      EXPECT_TRUE(SameHotkey(hotkey, reread));
    }
  }
  // The default and the keys offered instead are keys the parser takes.
  char written[32];
  Hotkey reread;
  for (const Hotkey& offered : kSpareDialHotkeys) {
    FormatHotkey(offered, written, sizeof written);
    std::u16string text(written, written + strlen(written));
    EXPECT_EQ(kHotkeyParsed, ParseHotkey(text.c_str(), &reread)) << written;
    EXPECT_FALSE(SameHotkey(kDefaultDialHotkey, offered)) << written;
  }
  EXPECT_EQ(0u, kDefaultHangUpHotkey.key);
  FormatHotkey(kDefaultDialHotkey, written, 5);
  EXPECT_STREQ("Ctrl", written) << "cut to the room given";
}
