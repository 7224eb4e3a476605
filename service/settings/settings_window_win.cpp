// The settings window. The form is read into settings, key and value as in
// the settings file, which serve twice: as changes to the file, and as a
// command line that the option parser checks before anything is written and
// that the test call is made with. A password typed in goes to the file only
// protected for the user; an empty password field keeps the one in effect.
#include "service/settings/settings_window_win.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "service/number/dialing_rules.h"
#include "service/settings/desk_names_win.h"
#include "service/settings/field_wording.h"
#include "service/settings/hotkey_text.h"
#include "service/settings/settings_file.h"
#include "service/settings/settings_win.h"
#include "service/settings/settings_window_ids.h"
#include "service/sinks/http_requester_win.h"
#include "service/sinks/phone_presets.h"

static const UINT kTestCallEndedMessage = WM_APP + 1;
// The item data of the first kind in the list when it stands for a request
// of one's own (--http or --exec) rather than for none.
static const LRESULT kCustomItem = -1;
static const size_t kMaxFormSettings = 32 + kMaxHttpHeaders;
static const size_t kFormTextLength = 32768;
static const size_t kMaxOutcome = 512;
static const size_t kMaxProtectedPassword = 4096;

enum SettingUse { kInFileAndCommandLine, kInFileOnly, kOnCommandLineOnly };

struct FormSetting {
  const char16_t* key;    // as in the file, without "--"
  const char16_t* value;  // null: the file loses the key
  SettingUse use;
  bool flag;              // "yes" or "no"; on the command line only the option itself, when yes
};

// What the form says. Made with calloc, never copied: the options point into it.
struct Form {
  FormSetting settings[kMaxFormSettings];
  size_t settingCount;
  char16_t text[kFormTextLength];
  size_t textUsed;
  bool full;
  const char16_t* argv[2 * kMaxFormSettings + 1];
  ServiceOptions options;
  HWND window;
  char dialled[kMaxDialledLength + 1];
};

struct PhoneFieldControl {
  PhoneField field;
  int control;
  int label;
  const char16_t* key;
};

static const PhoneFieldControl kPhoneFieldControls[] = {
    {kPhoneFieldLine, IDC_LINE, IDC_LINE_LABEL, u"phone-line"},
    {kPhoneFieldAccount, IDC_ACCOUNT, IDC_ACCOUNT_LABEL, u"phone-account"},
    {kPhoneFieldEndpoint, IDC_ENDPOINT, IDC_ENDPOINT_LABEL, u"phone-endpoint"},
    {kPhoneFieldContext, IDC_CONTEXT, IDC_CONTEXT_LABEL, u"phone-context"},
};

struct RuleControl {
  int control;  // 0: not in the form, only carried over
  DialingRule rule;
};

static const RuleControl kRuleControls[] = {
    {IDC_COUNTRY, kRuleCountry}, {IDC_AREA, kRuleArea}, {IDC_OUTSIDE, kRuleOutside},
    {0, kRuleNationalPrefix},    {0, kRuleInternationalPrefix}, {0, kRuleExtensionDigits},
};

// A phone replaces a request of one's own; these keys would contradict it.
static const char16_t* const kOwnRequestKeys[] = {u"http",        u"exec",        u"http-method",
                                                  u"http-body",   u"http-header", u"http-hang-up"};

// The fields an administrator's file may set, by their keys; a field whose
// key the machine's file names is locked.
struct KeyedControl {
  int control;
  const char16_t* key;
  bool edit;      // an edit field, made read-only; others are disabled
  bool userOwn = false;  // what the machine's file sets is only where the user starts from
};

static const KeyedControl kKeyedControls[] = {
    {IDC_KIND, u"phone", false},           {IDC_ADDRESS, u"phone-address", true},
    {IDC_HTTPS, u"phone-https", false},    {IDC_LINE, u"phone-line", true},
    {IDC_ACCOUNT, u"phone-account", true}, {IDC_ENDPOINT, u"phone-endpoint", true},
    {IDC_CONTEXT, u"phone-context", true}, {IDC_USER, u"http-user", true},
    {IDC_COUNTRY, u"country", true},       {IDC_AREA, u"area", true},
    {IDC_OUTSIDE, u"outside", true},       {IDC_CONFIRM, u"confirm", false},
    {IDC_PASSWORD, u"http-password", true}, {IDC_PASSWORD, u"http-password-protected", true},
    {IDC_PASSWORD, u"http-password-env", true}, {IDC_INSECURE, u"http-insecure", false},
    // Only the user knows which of their programs holds a key.
    {IDC_DIAL_HOTKEY, u"dial-hotkey", true, true}, {IDC_HANG_UP_HOTKEY, u"hang-up-hotkey", true, true},
};

static HWND settingsWindow;
static const LoadedOptions* loaded;
static const ServiceOptions* current;
static const wchar_t* settingsPath;
static int checkArgc;
static const wchar_t* const* checkArgv;
static ApplySettings applySettings;
static const char* askLine;
static bool testing;
// The form as it was opened, against which Save finds what the user changed.
static Form* openedForm;
static bool formOpened;
static bool droppedFaults[kMaxSettingsFaults];

static const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

static bool SameText(const char16_t* a, const char16_t* b) {
  if (!a || !b) return a == b;
  return wcscmp(Wide(a), Wide(b)) == 0;
}

static bool FileNames(const SettingsFile& file, const char16_t* key) {
  for (size_t i = 0; i < file.count; i++)
    if (SameText(file.entries[i].key, key)) return true;
  return false;
}

static bool MachineSets(const char16_t* key) { return loaded->machinePath[0] && FileNames(loaded->machine, key); }

static bool IsLocked(const KeyedControl& c) { return !c.userOwn && MachineSets(c.key); }

static bool IsLocked(int control) {
  for (const KeyedControl& c : kKeyedControls)
    if (c.control == control && IsLocked(c)) return true;
  return false;
}

// Whether a file or the command line gives the key.
static bool GivenAnywhere(const char16_t* key) {
  if ((loaded->userPath[0] && FileNames(loaded->user, key)) || MachineSets(key)) return true;
  const MergedOptions& merged = loaded->merged;
  for (int i = 1; i < merged.argc; i++)
    if (!merged.origins[i].path && merged.argv[i][0] == u'-' && merged.argv[i][1] == u'-' &&
        SameText(merged.argv[i] + 2, key))
      return true;
  return false;
}

// A copy of text in the form's own storage; null (and the form full) when it does not fit.
static const char16_t* Keep(Form* form, const char16_t* text, size_t length) {
  if (form->textUsed + length + 1 > kFormTextLength) {
    form->full = true;
    return nullptr;
  }
  char16_t* copy = form->text + form->textUsed;
  memcpy(copy, text, length * sizeof(char16_t));
  copy[length] = 0;
  form->textUsed += length + 1;
  return copy;
}

static const char16_t* KeepAscii(Form* form, const char* text) {
  char16_t wide[kMaxProtectedPassword];
  size_t length = 0;
  for (; text[length] && length < kMaxProtectedPassword; length++) wide[length] = char16_t(text[length]);
  return Keep(form, wide, length);
}

// The text of an edit field; null when it is empty.
static const char16_t* ControlText(Form* form, HWND window, int control) {
  size_t room = kFormTextLength - form->textUsed;
  char16_t* text = form->text + form->textUsed;
  int length = GetDlgItemTextW(window, control, reinterpret_cast<wchar_t*>(text), int(room));
  if (length <= 0) return nullptr;
  if (size_t(length) + 1 >= room) form->full = true;
  form->textUsed += size_t(length) + 1;
  return text;
}

static void Set(Form* form, const char16_t* key, const char16_t* value, SettingUse use = kInFileAndCommandLine,
                bool flag = false) {
  if (form->settingCount == kMaxFormSettings) {
    form->full = true;
    return;
  }
  form->settings[form->settingCount++] = {key, value, use, flag};
}

static void SetFlag(Form* form, HWND window, const char16_t* key, int control) {
  Set(form, key, IsDlgButtonChecked(window, control) == BST_CHECKED ? u"yes" : u"no", kInFileAndCommandLine, true);
}

static PhoneKind ChosenKind(HWND window, bool* ownRequest) {
  LRESULT item = SendDlgItemMessageW(window, IDC_KIND, CB_GETCURSEL, 0, 0);
  LRESULT data = SendDlgItemMessageW(window, IDC_KIND, CB_GETITEMDATA, WPARAM(item), 0);
  *ownRequest = data == kCustomItem;
  return data > 0 ? PhoneKind(data) : kPhoneNone;
}

static size_t Length(const char16_t* text) { return wcslen(Wide(text)); }

// The phone's keys, which a request of one's own replaces.
static const char16_t* const kPhoneKeys[] = {u"phone", u"phone-address", u"phone-https", u"phone-line",
                                             u"phone-account", u"phone-endpoint", u"phone-context"};

// Other phone or PBX: the URL typed in, or the --exec in effect when none is;
// the rest of a request given elsewhere (method, body, headers, hang-up) goes
// with it.
static void SetOwnRequest(Form* form, HWND window) {
  const SinkOptions& sink = current->sink;
  for (const char16_t* key : kPhoneKeys) Set(form, key, nullptr, kInFileOnly);
  const char16_t* url = ControlText(form, window, IDC_URL);
  if (url) {
    Set(form, u"http", url);
    Set(form, u"exec", nullptr, kInFileOnly);
  } else if (sink.command) {
    Set(form, u"exec", sink.command, kOnCommandLineOnly);
  }
  if (!url || !sink.http.url) return;
  if (sink.http.post) Set(form, u"http-method", u"POST", kOnCommandLineOnly);
  if (sink.http.body) Set(form, u"http-body", sink.http.body, kOnCommandLineOnly);
  if (sink.http.hangUp.url) Set(form, u"http-hang-up", sink.http.hangUp.url, kOnCommandLineOnly);
  for (size_t i = 0; i < sink.http.headerCount; i++)
    Set(form, u"http-header", sink.http.headers[i], kOnCommandLineOnly);
}

static void SetCredentials(Form* form, HWND window, const char16_t* protectedPassword) {
  Set(form, u"http-user", ControlText(form, window, IDC_USER));
  SetFlag(form, window, u"http-insecure", IDC_INSECURE);
  const HttpOptions& http = current->sink.http;
  if (const char16_t* typed = ControlText(form, window, IDC_PASSWORD)) {
    Set(form, u"http-password", typed, kOnCommandLineOnly);
    if (protectedPassword) {
      Set(form, u"http-password-protected", protectedPassword, kInFileOnly);
      Set(form, u"http-password-env", nullptr, kInFileOnly);
    }
  } else if (http.protectedPassword) {
    Set(form, u"http-password-protected", http.protectedPassword, kOnCommandLineOnly);
  } else if (http.passwordVariable) {
    Set(form, u"http-password-env", http.passwordVariable, kOnCommandLineOnly);
  } else if (http.password) {
    Set(form, u"http-password", http.password, kOnCommandLineOnly);
  }
  if (http.timeoutMs && http.timeoutMs != kDefaultHttpTimeoutMs) {
    char timeout[16];
    snprintf(timeout, sizeof timeout, "%lu", http.timeoutMs);
    Set(form, u"http-timeout", KeepAscii(form, timeout), kOnCommandLineOnly);
  }
}

static void SetNoCredentials(Form* form) {
  static const char16_t* const keys[] = {u"http-user", u"http-insecure", u"http-password-protected",
                                         u"http-password-env"};
  for (const char16_t* key : keys) Set(form, key, nullptr, kInFileOnly);
}

static void SetPhone(Form* form, HWND window, PhoneKind kind) {
  Set(form, u"phone", kind == kPhoneNone ? nullptr : KeepAscii(form, PhoneKindName(kind)));
  bool phone = kind != kPhoneNone;
  Set(form, u"phone-address", phone ? ControlText(form, window, IDC_ADDRESS) : nullptr);
  if (phone)
    SetFlag(form, window, u"phone-https", IDC_HTTPS);
  else
    Set(form, u"phone-https", nullptr);
  unsigned fields = phone ? PhoneFieldsOfKind(kind) : 0;
  for (const PhoneFieldControl& c : kPhoneFieldControls)
    Set(form, c.key, fields & c.field ? ControlText(form, window, c.control) : nullptr);
  if (phone)
    for (const char16_t* key : kOwnRequestKeys) Set(form, key, nullptr, kInFileOnly);
}

// A key as typed; an empty field turns it off. The program's own default is
// left to the program rather than written into the file, unless the
// machine's file sets another one, which the user's file then replaces.
static void SetHotkey(Form* form, HWND window, const char16_t* key, int control, const Hotkey& programDefault) {
  const char16_t* text = ControlText(form, window, control);
  if (!text) text = u"none";
  Hotkey typed;
  if (ParseHotkey(text, &typed) == kHotkeyParsed && SameHotkey(typed, programDefault) && !MachineSets(key))
    text = nullptr;
  Set(form, key, text);
}

static void SetDialingRules(Form* form, HWND window) {
  for (const RuleControl& c : kRuleControls) {
    const char16_t* key = KeepAscii(form, DialingRuleOption(c.rule) + 2);
    if (c.control)
      Set(form, key, ControlText(form, window, c.control));
    else if (current->rules.given & (1u << c.rule))
      Set(form, key, KeepAscii(form, current->rules.digits[c.rule]), kOnCommandLineOnly);
  }
}

// The form as settings, key by key.
static void CollectForm(HWND window, Form* form, const char16_t* protectedPassword) {
  bool ownRequest = false;
  PhoneKind kind = ChosenKind(window, &ownRequest);
  if (ownRequest)
    SetOwnRequest(form, window);
  else
    SetPhone(form, window, kind);
  if (ownRequest || kind != kPhoneNone)
    SetCredentials(form, window, protectedPassword);
  else
    SetNoCredentials(form);
  SetDialingRules(form, window);
  SetFlag(form, window, u"confirm", IDC_CONFIRM);
  SetHotkey(form, window, u"dial-hotkey", IDC_DIAL_HOTKEY, kDefaultDialHotkey);
  SetHotkey(form, window, u"hang-up-hotkey", IDC_HANG_UP_HOTKEY, kDefaultHangUpHotkey);
}

// The form as settings, checked by the option parser into form->options;
// false with the one-line problem, in the window's words.
static bool ReadForm(HWND window, Form* form, const char16_t* protectedPassword, char* problem, size_t size) {
  CollectForm(window, form, protectedPassword);
  bool ownRequest = false;
  PhoneKind kind = ChosenKind(window, &ownRequest);
  bool anyRequest = false;
  for (size_t i = 0; i < form->settingCount; i++)
    anyRequest = anyRequest || ((SameText(form->settings[i].key, u"http") || SameText(form->settings[i].key, u"exec")) &&
                                form->settings[i].value);
  if (ownRequest && !anyRequest) {
    snprintf(problem, size, "URL is missing: the phone's or PBX's web address, with {number} where the number goes");
    return false;
  }
  // At the first start nothing is set up yet: "none" would leave every click unanswered.
  if (!ownRequest && kind == kPhoneNone && !loaded->userPath[0] && !loaded->machinePath[0]) {
    snprintf(problem, size, "Kind: choose your phone, or Other phone or PBX (URL)");
    return false;
  }
  int argc = 0;
  form->argv[argc++] = u"dial-service-tray";
  for (size_t i = 0; i < form->settingCount; i++) {
    const FormSetting& setting = form->settings[i];
    if (setting.use == kInFileOnly || !setting.value) continue;
    if (setting.flag && setting.value[0] == u'n') continue;
    char16_t option[64] = u"--";
    memcpy(option + 2, setting.key, (Length(setting.key) + 1) * sizeof(char16_t));
    form->argv[argc++] = Keep(form, option, Length(option));
    if (!setting.flag) form->argv[argc++] = setting.value;
  }
  if (form->full) {
    snprintf(problem, size, "the settings are too long for this window");
    return false;
  }
  char parsed[kMaxOptionProblem];
  static DeskNames names;
  ReadDeskNames(&names);
  if (ParseServiceOptions(argc, form->argv, &form->options, parsed, nullptr, &names)) return true;
  FieldWording(parsed, problem, size);
  return false;
}

static void ShowLine(HWND window, int control, const char* utf8) {
  wchar_t text[kMaxOutcome];
  if (!MultiByteToWideChar(CP_UTF8, 0, utf8, -1, text, int(kMaxOutcome))) text[0] = 0;
  text[kMaxOutcome - 1] = 0;
  SetDlgItemTextW(window, control, text);
}

static void SetText(HWND window, int control, const char16_t* text) {
  if (text) SetDlgItemTextW(window, control, Wide(text));
}

static void ShowFieldsOfKind(HWND window) {
  bool ownRequest = false;
  PhoneKind kind = ChosenKind(window, &ownRequest);
  bool phone = kind != kPhoneNone;
  unsigned fields = phone ? PhoneFieldsOfKind(kind) : 0;
  for (const PhoneFieldControl& c : kPhoneFieldControls) {
    ShowWindow(GetDlgItem(window, c.label), fields & c.field ? SW_SHOW : SW_HIDE);
    ShowWindow(GetDlgItem(window, c.control), fields & c.field ? SW_SHOW : SW_HIDE);
  }
  static const int addressControls[] = {IDC_ADDRESS_LABEL, IDC_ADDRESS, IDC_HTTPS};
  static const int urlControls[] = {IDC_URL_LABEL, IDC_URL, IDC_URL_CHECK};
  for (int control : addressControls) ShowWindow(GetDlgItem(window, control), ownRequest ? SW_HIDE : SW_SHOW);
  for (int control : urlControls) ShowWindow(GetDlgItem(window, control), ownRequest ? SW_SHOW : SW_HIDE);
  static const int phoneControls[] = {IDC_ADDRESS, IDC_HTTPS};
  static const int requestControls[] = {IDC_USER, IDC_PASSWORD, IDC_INSECURE, IDC_TEST_NUMBER, IDC_TEST_CALL};
  for (int control : phoneControls) EnableWindow(GetDlgItem(window, control), phone && !IsLocked(control));
  for (int control : requestControls) EnableWindow(GetDlgItem(window, control), phone || ownRequest);
  if (testing) EnableWindow(GetDlgItem(window, IDC_TEST_CALL), FALSE);
}

// The URL of Other phone or PBX as it is typed: "OK", or what is wrong with it.
static void CheckTypedUrl(HWND window) {
  wchar_t url[2048];
  GetDlgItemTextW(window, IDC_URL, url, 2048);
  const char16_t* argv[] = {u"dial-service-tray", u"--http", reinterpret_cast<const char16_t*>(url)};
  ServiceOptions* options = static_cast<ServiceOptions*>(calloc(1, sizeof(ServiceOptions)));
  char parsed[kMaxOptionProblem], words[kMaxOptionProblem] = "OK";
  if (!url[0])
    words[0] = 0;
  else if (!options || !ParseServiceOptions(3, argv, options, parsed))
    FieldWording(options ? parsed : "out of memory", words, sizeof words);
  free(options);
  ShowLine(window, IDC_URL_CHECK, words);
}

// Whether another program holds the key now: the window tries to take it, as
// the tray does (which has let its own keys go while this window is open).
static bool HeldElsewhere(HWND window, const Hotkey& key) {
  const int kProbeId = 0x7E00;
  if (RegisterHotKey(window, kProbeId, key.modifiers | MOD_NOREPEAT, key.key)) {
    UnregisterHotKey(window, kProbeId);
    return false;
  }
  return GetLastError() == ERROR_HOTKEY_ALREADY_REGISTERED;
}

// One key field as typed: what is wrong with it, or that another program
// holds it, and then a key that is free (not the other field's either).
static void DescribeTypedKey(HWND window, int control, const char* label, const Hotkey& other, char* line,
                             size_t size) {
  line[0] = 0;
  wchar_t typed[64];
  GetDlgItemTextW(window, control, typed, 64);
  Hotkey key;
  HotkeyError error = typed[0] ? ParseHotkey(reinterpret_cast<const char16_t*>(typed), &key) : kHotkeyParsed;
  if (!typed[0]) key = Hotkey{};
  if (error != kHotkeyParsed) {
    snprintf(line, size, "%s: %s.", label, DescribeHotkeyError(error));
    return;
  }
  if (!key.key || !HeldElsewhere(window, key)) return;
  char name[48], free[48] = "";
  FormatHotkey(key, name, sizeof name);
  Hotkey candidates[1 + sizeof kSpareDialHotkeys / sizeof kSpareDialHotkeys[0]] = {kDefaultDialHotkey};
  memcpy(candidates + 1, kSpareDialHotkeys, sizeof kSpareDialHotkeys);
  for (const Hotkey& candidate : candidates)
    if (!SameHotkey(candidate, key) && !SameHotkey(candidate, other) && !HeldElsewhere(window, candidate)) {
      FormatHotkey(candidate, free, sizeof free);
      break;
    }
  if (free[0])
    snprintf(line, size, "%s: another program already uses %s. %s is free: type it in instead.", label, name, free);
  else
    snprintf(line, size, "%s: another program already uses %s. Type another key.", label, name);
}

static Hotkey TypedKey(HWND window, int control) {
  wchar_t typed[64];
  GetDlgItemTextW(window, control, typed, 64);
  Hotkey key = {};
  if (ParseHotkey(reinterpret_cast<const char16_t*>(typed), &key) != kHotkeyParsed) key = Hotkey{};
  return key;
}

// Under the key fields: each one's trouble, or else what the dial key does.
static void CheckTypedKeys(HWND window) {
  char dial[kMaxOutcome / 2], hangUp[kMaxOutcome / 2], both[kMaxOutcome];
  DescribeTypedKey(window, IDC_DIAL_HOTKEY, "Dial key", TypedKey(window, IDC_HANG_UP_HOTKEY), dial, sizeof dial);
  DescribeTypedKey(window, IDC_HANG_UP_HOTKEY, "Hang-up key", TypedKey(window, IDC_DIAL_HOTKEY), hangUp,
                   sizeof hangUp);
  if (!dial[0] && !hangUp[0])
    snprintf(both, sizeof both, "%s",
             TypedKey(window, IDC_DIAL_HOTKEY).key
                 ? "Select a phone number in any program, then press the dial key: it is dialled as a clicked link is."
                 : "The dial key is off.");
  else
    snprintf(both, sizeof both, "%s%s%s", dial, dial[0] && hangUp[0] ? " " : "", hangUp);
  ShowLine(window, IDC_HOTKEY_STATE, both);
}

// The list's names, as the makers write them, in the order of the kinds.
static const wchar_t* const kKindNames[] = {L"Yealink", L"snom",          L"Grandstream", L"Poly",
                                            L"FRITZ!Box", L"Asterisk (ARI)", L"baresip"};

static void FillForm(HWND window) {
  HWND kinds = GetDlgItem(window, IDC_KIND);
  const PhoneOptions& phone = current->phone;
  bool ownRequest = phone.kind == kPhoneNone && (current->sink.command || current->sink.http.url);
  // The kinds in their order, so that an item's place is its kind; Other last.
  LRESULT item = SendMessageW(kinds, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"none: numbers are only logged"));
  SendMessageW(kinds, CB_SETITEMDATA, WPARAM(item), kPhoneNone);
  for (int kind = kPhoneYealink; kind <= kPhoneBaresip; kind++) {
    item = SendMessageW(kinds, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kKindNames[kind - kPhoneYealink]));
    SendMessageW(kinds, CB_SETITEMDATA, WPARAM(item), kind);
  }
  LRESULT other = SendMessageW(kinds, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Other phone or PBX (URL)"));
  SendMessageW(kinds, CB_SETITEMDATA, WPARAM(other), kCustomItem);
  SendMessageW(kinds, CB_SETCURSEL, ownRequest ? WPARAM(other) : WPARAM(phone.kind), 0);
  if (ownRequest) SetText(window, IDC_URL, current->sink.http.url);
  SetText(window, IDC_ADDRESS, phone.address);
  CheckDlgButton(window, IDC_HTTPS, phone.https ? BST_CHECKED : BST_UNCHECKED);
  SetText(window, IDC_LINE, phone.line);
  SetText(window, IDC_ACCOUNT, phone.account);
  SetText(window, IDC_ENDPOINT, phone.endpoint);
  SetText(window, IDC_CONTEXT, phone.context);
  SetText(window, IDC_USER, current->sink.http.user);
  CheckDlgButton(window, IDC_INSECURE, current->sink.http.insecure ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(window, IDC_CONFIRM, current->confirm ? BST_CHECKED : BST_UNCHECKED);
  char key[48];
  FormatHotkey(current->dialHotkey, key, sizeof key);
  SetDlgItemTextA(window, IDC_DIAL_HOTKEY, key);
  FormatHotkey(current->hangUpHotkey, key, sizeof key);
  SetDlgItemTextA(window, IDC_HANG_UP_HOTKEY, key);
  for (const RuleControl& c : kRuleControls)
    if (c.control && (current->rules.given & (1u << c.rule)))
      SetDlgItemTextA(window, c.control, current->rules.digits[c.rule]);
  bool anyLocked = false;
  for (const KeyedControl& c : kKeyedControls) {
    if (!IsLocked(c)) continue;
    anyLocked = true;
    // What the machine's file sets is shown as it says, also while the
    // options leave its phone out for want of a password.
    const char16_t* value = nullptr;
    for (size_t i = 0; i < loaded->machine.count; i++)
      if (SameText(loaded->machine.entries[i].key, c.key)) value = loaded->machine.entries[i].value;
    if (c.control == IDC_KIND)
      SendMessageW(kinds, CB_SETCURSEL, WPARAM(PhoneKindOfName(value)), 0);
    else if (c.edit)
      SetDlgItemTextW(window, c.control, Wide(value));
    else
      CheckDlgButton(window, c.control, value[0] == u'y' || value[0] == u't' || value[0] == u'1' ? BST_CHECKED
                                                                                                 : BST_UNCHECKED);
    if (c.edit)
      SendDlgItemMessageW(window, c.control, EM_SETREADONLY, TRUE, 0);
    else
      EnableWindow(GetDlgItem(window, c.control), FALSE);
  }
  ShowWindow(GetDlgItem(window, IDC_LOCKED_NOTE), anyLocked ? SW_SHOW : SW_HIDE);
  // A good line left out with one at fault stays in its field, and in the file.
  for (size_t i = 0; i < loaded->userFaultCount; i++) {
    const SettingsFault& fault = loaded->userFaults[i];
    const char* value = strchr(fault.text, '=');
    wchar_t text[sizeof fault.text];
    if (!fault.dependent || !value || !MultiByteToWideChar(CP_UTF8, 0, value + 1, -1, text, int(sizeof fault.text)))
      continue;
    for (const KeyedControl& c : kKeyedControls)
      if (SameText(c.key, fault.key) && c.edit) SetDlgItemTextW(window, c.control, text);
  }
  const HttpOptions& http = current->sink.http;
  bool stored = http.password || http.passwordVariable || http.protectedPassword;
  ShowWindow(GetDlgItem(window, IDC_PASSWORD_CUE), stored ? SW_SHOW : SW_HIDE);
  ShowFieldsOfKind(window);
}

// Whether the key has the same values, in order, in both forms.
static bool SameValues(const Form* a, const Form* b, const char16_t* key) {
  size_t i = 0, j = 0;
  for (;;) {
    while (i < a->settingCount && !SameText(a->settings[i].key, key)) i++;
    while (j < b->settingCount && !SameText(b->settings[j].key, key)) j++;
    if (i == a->settingCount || j == b->settingCount) return i == a->settingCount && j == b->settingCount;
    if (!SameText(a->settings[i++].value, b->settings[j++].value)) return false;
  }
}

// The first line of the user's file at fault that is neither dropped nor put
// right in its field; -1 when none.
static int ShownFault(HWND window) {
  Form* form = formOpened ? static_cast<Form*>(calloc(1, sizeof(Form))) : nullptr;
  if (form) CollectForm(window, form, nullptr);
  int shown = -1;
  for (size_t i = 0; i < loaded->userFaultCount && shown < 0; i++) {
    const SettingsFault& fault = loaded->userFaults[i];
    bool putRight = form && fault.key[0] && !SameValues(openedForm, form, fault.key);
    if (!droppedFaults[i] && !putRight && !fault.dependent) shown = int(i);
  }
  if (form) SecureZeroMemory(form, sizeof *form);
  free(form);
  return shown;
}

// The line at the top: the line of the file at fault, or what is missing.
static void ShowFault(HWND window) {
  int shown = ShownFault(window);
  char text[kMaxOutcome] = "";
  if (shown >= 0) {
    const SettingsFault& fault = loaded->userFaults[shown];
    char words[kMaxOptionProblem];
    FieldWording(fault.problem, words, sizeof words);
    snprintf(text, sizeof text, "Line %u: %s: %s", fault.line, fault.text, words);
  } else if (askLine) {
    snprintf(text, sizeof text, "%s", askLine);
  }
  ShowLine(window, IDC_FAULT, text);
  ShowWindow(GetDlgItem(window, IDC_FAULT), text[0] ? SW_SHOW : SW_HIDE);
  ShowWindow(GetDlgItem(window, IDC_DROP_LINE), shown >= 0 ? SW_SHOW : SW_HIDE);
}

// The field of the line at fault, or of what is missing; 0 when none.
static int FieldToPutRight(HWND window) {
  int shown = ShownFault(window);
  if (shown < 0) return askLine ? IDC_PASSWORD : 0;
  for (const KeyedControl& c : kKeyedControls)
    if (SameText(c.key, loaded->userFaults[shown].key) && !IsLocked(c)) return c.control;
  return 0;
}

static DWORD WINAPI MakeTestCall(void* parameter) {
  Form* form = static_cast<Form*>(parameter);
  char* outcome = static_cast<char*>(malloc(kMaxOutcome));
  if (outcome) {
    HttpRequester* requester = OpenHttpRequester(form->options.sink.http, outcome, kMaxOutcome);
    if (requester) {
      RequestDialledNumber(requester, form->dialled, outcome, kMaxOutcome);
      CloseHttpRequester(requester);
    }
    // The window may have been closed meanwhile.
    if (!PostMessageW(form->window, kTestCallEndedMessage, 0, reinterpret_cast<LPARAM>(outcome))) free(outcome);
  }
  SecureZeroMemory(form, sizeof *form);
  free(form);
  return 0;
}

// What is dialled for the number in the test field; false with the reason.
static bool DialledTestNumber(HWND window, Form* form, char* problem, size_t size) {
  // Longer than any number with its separators, so a long text is refused, never cut.
  wchar_t typed[8 * kMaxNumberLength + 2];
  GetDlgItemTextW(window, IDC_TEST_NUMBER, typed, int(sizeof typed / sizeof typed[0]));
  NumberVerdict verdict = DialTypedNumber(form->options.rules, reinterpret_cast<const char16_t*>(typed), form->dialled);
  if (verdict == kNumberAccepted) return true;
  snprintf(problem, size, "the number cannot be dialled: %s", DescribeNumberVerdict(verdict));
  return false;
}

static void StartTestCall(HWND window) {
  if (testing) return;
  Form* form = static_cast<Form*>(calloc(1, sizeof(Form)));
  if (!form) return;
  char problem[kMaxOutcome];
  bool ready = ReadForm(window, form, nullptr, problem, sizeof problem) &&
               DialledTestNumber(window, form, problem, sizeof problem);
  if (ready && !form->options.sink.http.url) {
    snprintf(problem, sizeof problem, "a test call makes HTTP requests only");
    ready = false;
  }
  form->window = window;
  HANDLE thread = ready ? CreateThread(nullptr, 0, MakeTestCall, form, 0, nullptr) : nullptr;
  if (!thread) {
    ShowLine(window, IDC_TEST_OUTCOME, ready ? "no thread can be started for the test call" : problem);
    SecureZeroMemory(form, sizeof *form);
    free(form);
    return;
  }
  CloseHandle(thread);
  testing = true;
  EnableWindow(GetDlgItem(window, IDC_TEST_CALL), FALSE);
  snprintf(problem, sizeof problem, "calling %s ...", form->dialled);
  ShowLine(window, IDC_TEST_OUTCOME, problem);
}

// Writes what the user changed in the form, and what no file or the command
// line gave before (the form's own choice, such as confirm=yes at the first
// Save); every other line of the file stays as it is. False with the problem
// in the window's words.
static bool WriteForm(Form* form, char* problem, size_t size) {
  SettingsChange changes[kMaxFormSettings];
  size_t count = 0;
  for (size_t i = 0; i < form->settingCount; i++) {
    FormSetting& setting = form->settings[i];
    if (setting.use == kOnCommandLineOnly) continue;
    bool changed = !SameValues(openedForm, form, setting.key);
    bool saysNothing = !setting.value || (setting.flag && setting.value[0] == u'n');
    if (!changed && (GivenAnywhere(setting.key) || saysNothing)) continue;
    changes[count++] = {setting.key, setting.value ? &setting.value : nullptr, setting.value ? size_t(1) : 0};
  }
  unsigned dropped[kMaxSettingsFaults];
  size_t droppedCount = 0;
  for (size_t i = 0; i < loaded->userFaultCount; i++) {
    const SettingsFault& fault = loaded->userFaults[i];
    bool putRight = droppedFaults[i] || fault.dependent;
    for (size_t c = 0; c < count && !putRight; c++) putRight = fault.key[0] && SameText(changes[c].key, fault.key);
    if (!putRight) {
      snprintf(problem, size, "Line %u of the settings file is still at fault: put it right in its field, or drop it",
               fault.line);
      return false;
    }
    if (droppedFaults[i]) dropped[droppedCount++] = fault.line;
  }
  char fault[kMaxOptionProblem];
  if (WriteCheckedSettings(settingsPath, {changes, count, dropped, droppedCount}, checkArgc, checkArgv, fault,
                           sizeof fault))
    return true;
  if (fault[0])
    FieldWording(fault, problem, size);
  else
    snprintf(problem, size, "the settings cannot be written to %ls", settingsPath);
  return false;
}

static void Save(HWND window) {
  Form* form = static_cast<Form*>(calloc(1, sizeof(Form)));
  if (!form) return;
  char problem[kMaxOutcome] = "";
  wchar_t typed[256];
  GetDlgItemTextW(window, IDC_PASSWORD, typed, 256);
  char protectedText[kMaxProtectedPassword];
  const char16_t* protectedPassword = nullptr;
  bool passwordTyped = typed[0] != 0;
  if (passwordTyped && ProtectPassword(typed, protectedText, sizeof protectedText))
    protectedPassword = KeepAscii(form, protectedText);
  SecureZeroMemory(typed, sizeof typed);
  bool saved = false;
  if (passwordTyped && !protectedPassword)
    snprintf(problem, sizeof problem, "the password cannot be protected for this user");
  else if (ReadForm(window, form, protectedPassword, problem, sizeof problem) &&
           WriteForm(form, problem, sizeof problem))
    saved = applySettings(problem, sizeof problem);
  if (!saved && problem[0]) {
    char words[kMaxOutcome];
    FieldWording(problem, words, sizeof words);
    snprintf(problem, sizeof problem, "%s", words);
  }
  SecureZeroMemory(form, sizeof *form);
  free(form);
  if (saved)
    EndDialog(window, IDOK);
  else
    ShowLine(window, IDC_PROBLEM, problem);
}

static INT_PTR CALLBACK SettingsProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      settingsWindow = window;
      FillForm(window);
      ShowFault(window);
      CollectForm(window, openedForm, nullptr);
      formOpened = true;
      CheckTypedKeys(window);
      // The focus Windows chose came before the line at the top was hidden.
      int field = FieldToPutRight(window);
      SetFocus(field ? GetDlgItem(window, field) : GetNextDlgTabItem(window, nullptr, FALSE));
      return FALSE;
    }
    case WM_COMMAND:
      if (formOpened && loaded->userFaultCount &&
          (HIWORD(wParam) == EN_CHANGE || HIWORD(wParam) == BN_CLICKED || HIWORD(wParam) == CBN_SELCHANGE) &&
          LOWORD(wParam) != IDC_DROP_LINE)
        ShowFault(window);
      switch (LOWORD(wParam)) {
        case IDC_KIND:
          if (HIWORD(wParam) == CBN_SELCHANGE) ShowFieldsOfKind(window);
          return TRUE;
        case IDC_TEST_CALL:
          StartTestCall(window);
          return TRUE;
        case IDC_URL:
          if (HIWORD(wParam) == EN_CHANGE) CheckTypedUrl(window);
          return TRUE;
        case IDC_DIAL_HOTKEY:
        case IDC_HANG_UP_HOTKEY:
          if (HIWORD(wParam) == EN_CHANGE && formOpened) CheckTypedKeys(window);
          return TRUE;
        case IDC_DROP_LINE:
          if (int shown = ShownFault(window); shown >= 0) droppedFaults[shown] = true;
          ShowFault(window);
          if (int field = FieldToPutRight(window)) SetFocus(GetDlgItem(window, field));
          return TRUE;
        case IDOK:
          // Enter in the number field means the test call, not Save.
          if (GetFocus() == GetDlgItem(window, IDC_TEST_NUMBER))
            StartTestCall(window);
          else
            Save(window);
          return TRUE;
        case IDCANCEL:
          EndDialog(window, IDCANCEL);
          return TRUE;
      }
      return FALSE;
    case kTestCallEndedMessage:
      ShowLine(window, IDC_TEST_OUTCOME, reinterpret_cast<char*>(lParam));
      free(reinterpret_cast<char*>(lParam));
      testing = false;
      ShowFieldsOfKind(window);
      return TRUE;
    case WM_DESTROY:
      settingsWindow = nullptr;
      return FALSE;
  }
  return FALSE;
}

bool RunSettingsWindow(const LoadedOptions& options, const wchar_t* path, int argc, const wchar_t* const* argv,
                       ApplySettings apply, const char* ask) {
  openedForm = static_cast<Form*>(calloc(1, sizeof(Form)));
  if (!openedForm) return false;
  loaded = &options;
  current = &options.options;
  settingsPath = path;
  checkArgc = argc;
  checkArgv = argv;
  applySettings = apply;
  askLine = ask;
  formOpened = false;
  testing = false;
  for (bool& dropped : droppedFaults) dropped = false;
  bool saved = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SETTINGS), nullptr, SettingsProcedure,
                               0) == IDOK;
  SecureZeroMemory(openedForm, sizeof *openedForm);
  free(openedForm);
  openedForm = nullptr;
  return saved;
}

HWND OpenSettingsWindow() { return settingsWindow; }
