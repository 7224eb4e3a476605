#include "service/settings/hotkey_text.h"

#include <stdio.h>
#include <string.h>

namespace {
struct NamedKey {
  const char* name;
  unsigned key;
};
struct NamedModifier {
  const char* name;
  unsigned modifier;
};
}  // namespace

static const NamedModifier kModifiers[] = {
    {"ctrl", kHotkeyCtrl}, {"control", kHotkeyCtrl}, {"alt", kHotkeyAlt},
    {"shift", kHotkeyShift}, {"win", kHotkeyWin},     {"windows", kHotkeyWin},
};

// The first name of a key is the one written back.
static const NamedKey kNamedKeys[] = {
    {"Insert", 0x2D},   {"Delete", 0x2E},     {"Del", 0x2E},   {"Home", 0x24},     {"End", 0x23},
    {"PageUp", 0x21},   {"PgUp", 0x21},       {"PageDown", 0x22}, {"PgDn", 0x22},  {"Up", 0x26},
    {"Down", 0x28},     {"Left", 0x25},       {"Right", 0x27}, {"Space", 0x20},    {"Pause", 0x13},
    {"ScrollLock", 0x91},
};

const unsigned kF1 = 0x70;
const unsigned kNumpad0 = 0x60;

static char Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? char(c + 32) : c < 0x80 ? char(c) : '?'; }

static bool SameName(const char* name, const char* lowered) {
  for (; *name && *lowered; name++, lowered++)
    if (Lower(char16_t(*name)) != *lowered) return false;
  return *name == *lowered;
}

// A decimal number from low to high, the whole of text.
static bool SmallNumber(const char* text, unsigned low, unsigned high, unsigned* value) {
  if (!text[0] || strlen(text) > 2) return false;
  unsigned parsed = 0;
  for (const char* c = text; *c; c++) {
    if (*c < '0' || *c > '9') return false;
    parsed = parsed * 10 + unsigned(*c - '0');
  }
  if (parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

// The key of a lower-case name, or 0.
static unsigned KeyOfName(const char* name) {
  if (name[0] && !name[1] && ((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= '0' && name[0] <= '9')))
    return name[0] >= 'a' ? unsigned(name[0] - 'a' + 'A') : unsigned(name[0]);
  unsigned number;
  if (name[0] == 'f' && SmallNumber(name + 1, 1, 24, &number)) return kF1 + number - 1;
  if (strncmp(name, "num", 3) == 0 && SmallNumber(name + 3, 0, 9, &number)) return kNumpad0 + number;
  for (const NamedKey& k : kNamedKeys)
    if (SameName(k.name, name)) return k.key;
  return 0;
}

// The keys that type a character, and so one with AltGr too.
static bool TypesCharacter(unsigned key) {
  return (key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9') || key == 0x20;
}

HotkeyError ParseHotkey(const char16_t* text, Hotkey* hotkey) {
  *hotkey = Hotkey{};
  const char16_t* at = text;
  while (*at == u' ') at++;
  if (!*at) return kHotkeyEmpty;
  Hotkey parsed = {};
  bool any = false;
  for (;;) {
    // One name, lowered; a name longer than any known is unknown.
    char name[16];
    size_t length = 0;
    while (*at == u' ') at++;
    for (; *at && *at != u'+' && *at != u' '; at++)
      if (length + 1 < sizeof name) name[length++] = Lower(*at);
      else length = sizeof name;  // too long: no name matches
    if (length >= sizeof name) return kHotkeyUnknownName;
    name[length] = 0;
    while (*at == u' ') at++;
    if (!any && !*at && SameName("none", name)) return kHotkeyParsed;
    any = true;
    unsigned modifier = 0;
    for (const NamedModifier& m : kModifiers)
      if (SameName(m.name, name)) modifier = m.modifier;
    unsigned key = modifier ? 0 : KeyOfName(name);
    if (!modifier && !key) return kHotkeyUnknownName;
    if (modifier & parsed.modifiers) return kHotkeyNameTwice;
    if (key && parsed.key) return kHotkeyTwoKeys;
    parsed.modifiers |= modifier;
    if (key) parsed.key = key;
    if (!*at) break;
    if (*at != u'+') return kHotkeyUnknownName;
    at++;
  }
  if (!parsed.key) return kHotkeyNoKey;
  if (parsed.key == kF1 + 11) return kHotkeyDebuggerKey;
  bool f13ToF24 = parsed.key >= kF1 + 12 && parsed.key <= kF1 + 23;
  if (!(parsed.modifiers & (kHotkeyCtrl | kHotkeyAlt | kHotkeyWin)) && !f13ToF24) return kHotkeyNoModifier;
  if ((parsed.modifiers & (kHotkeyCtrl | kHotkeyAlt)) == (kHotkeyCtrl | kHotkeyAlt) &&
      !(parsed.modifiers & kHotkeyWin) && TypesCharacter(parsed.key))
    return kHotkeyAltGr;
  *hotkey = parsed;
  return kHotkeyParsed;
}

const char* DescribeHotkeyError(HotkeyError error) {
  switch (error) {
    case kHotkeyParsed:
      return "is a key";
    case kHotkeyEmpty:
      return "is empty (none turns the key off)";
    case kHotkeyUnknownName:
      return "names no key (for example Ctrl+Alt+Shift+F8, Ctrl+Shift+F11, none)";
    case kHotkeyNameTwice:
      return "names a key twice";
    case kHotkeyTwoKeys:
      return "names two keys besides Ctrl, Alt, Shift and Win";
    case kHotkeyNoKey:
      return "names no key besides Ctrl, Alt, Shift and Win";
    case kHotkeyNoModifier:
      return "needs Ctrl, Alt or Win with the key (only F13 to F24 may stand alone)";
    case kHotkeyAltGr:
      return "types a character with AltGr (which is Ctrl+Alt) on some keyboards: take an F-key, or add Win";
    case kHotkeyDebuggerKey:
      return "uses F12, which Windows keeps for debuggers";
  }
  return "?";
}

size_t FormatHotkey(const Hotkey& hotkey, char* text, size_t size) {
  char out[48] = "";
  if (!hotkey.key) {
    strcpy(out, "none");
  } else {
    static const NamedModifier kOrder[] = {
        {"Ctrl", kHotkeyCtrl}, {"Alt", kHotkeyAlt}, {"Shift", kHotkeyShift}, {"Win", kHotkeyWin}};
    for (const NamedModifier& m : kOrder)
      if (hotkey.modifiers & m.modifier) {
        strcat(out, m.name);
        strcat(out, "+");
      }
    char key[16] = "?";
    unsigned k = hotkey.key;
    if ((k >= 'A' && k <= 'Z') || (k >= '0' && k <= '9'))
      snprintf(key, sizeof key, "%c", char(k));
    else if (k >= kF1 && k < kF1 + 24)
      snprintf(key, sizeof key, "F%u", k - kF1 + 1);
    else if (k >= kNumpad0 && k <= kNumpad0 + 9)
      snprintf(key, sizeof key, "Num%u", k - kNumpad0);
    else
      for (const NamedKey& n : kNamedKeys)
        if (n.key == k) {
          snprintf(key, sizeof key, "%s", n.name);
          break;
        }
    strcat(out, key);
  }
  size_t length = strlen(out);
  if (size) snprintf(text, size, "%s", out);
  return length;
}
