#include "service/settings/settings_file.h"

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "service/number/call_guard.h"
#include "service/number/dialing_rules.h"
#include "service/number/service_text.h"

static const char kSection[] = "dial-service";


// One code point of strict UTF-8 at text[*at]; -1 for a bad sequence.
static long DecodeUtf8(const unsigned char* text, size_t end, size_t* at) {
  unsigned char lead = text[(*at)++];
  if (lead < 0x80) return lead;
  size_t count = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
  static const long kLowest[] = {0, 0x80, 0x800, 0x10000};
  if (!count || lead > 0xF4 || *at + count > end) return -1;
  long code = lead & (0x3F >> count);
  for (size_t i = 0; i < count; i++) {
    unsigned char next = text[(*at)++];
    if ((next & 0xC0) != 0x80) return -1;
    code = code << 6 | (next & 0x3F);
  }
  if (code < kLowest[count] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return -1;
  return code;
}

// UTF-16 as UTF-8 into out (bytes, 0 included), cut short when long; the
// length it needs (without the 0) either way.
static size_t EncodeUtf8(const char16_t* text, char* out, size_t size) {
  size_t used = 0;
  for (size_t units; *text; text += units) {
    char bytes[4];
    size_t count = EncodeUtf8CodePoint(ReadUtf16CodePoint(text, &units), bytes);
    for (size_t i = 0; i < count; i++, used++)
      if (used + 1 < size) out[used] = bytes[i];
  }
  if (size) out[used < size ? used : size - 1] = 0;
  return used;
}

static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

static bool HasBom(const char* text, size_t length) { return length >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0; }

namespace {
// One line of the text: [begin, end) without its line end, next past it.
struct TextLine {
  size_t begin, end, next;
};

struct LineReader {
  const char* text;
  size_t length;
  size_t at;

  bool Next(TextLine* line) {
    if (at >= length) return false;
    line->begin = at;
    while (at < length && text[at] != '\n') at++;
    line->end = at;
    if (at < length) at++;
    line->next = at;
    if (line->end > line->begin && text[line->end - 1] == '\r') line->end--;
    return true;
  }
};

enum LineKind { kLineComment, kLineSection, kLineEntry, kLineWrong };

// A line read: its kind, the section's name or the key and the value, each
// trimmed.
struct LineParts {
  LineKind kind;
  size_t nameBegin, nameEnd;
  size_t valueBegin, valueEnd;
};
}  // namespace

static LineParts ReadLine(const char* text, size_t begin, size_t end) {
  LineParts parts = {kLineComment, 0, 0, 0, 0};
  while (begin < end && IsBlank(text[begin])) begin++;
  while (end > begin && IsBlank(text[end - 1])) end--;
  if (begin == end || text[begin] == ';' || text[begin] == '#') return parts;
  if (text[begin] == '[') {
    if (text[end - 1] != ']' || end - begin < 2) return parts.kind = kLineWrong, parts;
    parts.kind = kLineSection;
    parts.nameBegin = begin + 1;
    parts.nameEnd = end - 1;
    while (parts.nameBegin < parts.nameEnd && IsBlank(text[parts.nameBegin])) parts.nameBegin++;
    while (parts.nameEnd > parts.nameBegin && IsBlank(text[parts.nameEnd - 1])) parts.nameEnd--;
    return parts;
  }
  size_t equals = begin;
  while (equals < end && text[equals] != '=') equals++;
  if (equals == end) return parts.kind = kLineWrong, parts;
  parts.kind = kLineEntry;
  parts.nameBegin = begin;
  parts.nameEnd = equals;
  while (parts.nameEnd > parts.nameBegin && IsBlank(text[parts.nameEnd - 1])) parts.nameEnd--;
  if (parts.nameBegin == parts.nameEnd) return parts.kind = kLineWrong, parts;
  parts.valueBegin = equals + 1;
  parts.valueEnd = end;
  while (parts.valueBegin < end && IsBlank(text[parts.valueBegin])) parts.valueBegin++;
  return parts;
}

static bool IsOurSection(const char* text, const LineParts& parts) {
  size_t length = parts.nameEnd - parts.nameBegin;
  if (length != sizeof kSection - 1) return false;
  for (size_t i = 0; i < length; i++) {
    char c = text[parts.nameBegin + i];
    if ((c >= 'A' && c <= 'Z' ? char(c + 32) : c) != kSection[i]) return false;
  }
  return true;
}

// text[begin, end) as UTF-16 at *out, 0-terminated; the text is known UTF-8.
static const char16_t* Widen(const char* text, size_t begin, size_t end, char16_t** out) {
  char16_t* start = *out;
  char16_t* c = start;
  for (size_t at = begin; at < end;) {
    long code = DecodeUtf8(reinterpret_cast<const unsigned char*>(text), end, &at);
    if (code >= 0x10000) {
      *c++ = char16_t(0xD800 + ((code - 0x10000) >> 10));
      *c++ = char16_t(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      *c++ = char16_t(code);
    }
  }
  *c++ = 0;
  *out = c;
  return start;
}

// A control character in a value (C0 with TAB, DEL, C1) is no phone setting;
// refused, so that nothing can carry a line break or an escape into a request.
static bool HoldsControlCharacter(const char* text, size_t begin, size_t end) {
  for (size_t at = begin; at < end;) {
    long code = DecodeUtf8(reinterpret_cast<const unsigned char*>(text), end, &at);
    if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) return true;
  }
  return false;
}

// What is wrong with the line, or null.
static const char* LineFault(const char* utf8, const TextLine& line) {
  for (size_t at = line.begin; at < line.end;) {
    long code = DecodeUtf8(reinterpret_cast<const unsigned char*>(utf8), line.end, &at);
    if (code < 0) return "not UTF-8 text";
    if (code == 0) return "holds a NUL byte";
  }
  LineParts parts = ReadLine(utf8, line.begin, line.end);
  if (parts.kind == kLineWrong) return "neither key=value, a [section], a comment nor blank";
  if (parts.kind == kLineEntry && HoldsControlCharacter(utf8, parts.valueBegin, parts.valueEnd))
    return "the value holds a control character";
  return nullptr;
}

// With note, a line at fault is told and left out; without, it fails the text.
static bool ReadText(const char* utf8, size_t length, SettingsFile* file, char* problem, size_t size,
                     SettingsNote note, void* context) {
  *file = SettingsFile{};
  if (problem && size) problem[0] = 0;
  size_t start = HasBom(utf8, length) ? 3 : 0;
  size_t lines = 1;
  for (size_t i = start; i < length; i++) lines += utf8[i] == '\n';
  LineReader reader = {utf8, length, start};
  TextLine line;
  unsigned number = 0;
  while (reader.Next(&line)) {
    number++;
    const char* fault = LineFault(utf8, line);
    if (fault && !note) return RefuseWith(problem, size, "line %u: %s", number, fault);
    if (fault) note(context, number, fault);
  }
  // Each byte gives at most one UTF-16 unit, each entry two 0s.
  size_t entryBytes = lines * sizeof(SettingsEntry);
  char* storage = static_cast<char*>(malloc(entryBytes + (length + 2 * lines) * sizeof(char16_t)));
  if (!storage) return RefuseWith(problem, size, "no memory for the settings");
  file->storage = storage;
  file->entries = reinterpret_cast<SettingsEntry*>(storage);
  char16_t* texts = reinterpret_cast<char16_t*>(storage + entryBytes);
  reader = LineReader{utf8, length, start};
  bool ours = true;
  number = 0;
  while (reader.Next(&line)) {
    number++;
    if (LineFault(utf8, line)) continue;
    LineParts parts = ReadLine(utf8, line.begin, line.end);
    if (parts.kind == kLineSection) ours = IsOurSection(utf8, parts);
    if (parts.kind != kLineEntry || !ours) continue;
    SettingsEntry& entry = file->entries[file->count++];
    entry.key = Widen(utf8, parts.nameBegin, parts.nameEnd, &texts);
    entry.value = Widen(utf8, parts.valueBegin, parts.valueEnd, &texts);
    entry.line = number;
  }
  return true;
}

bool ReadSettingsText(const char* utf8, size_t length, SettingsFile* file, char* problem, size_t size) {
  return ReadText(utf8, length, file, problem, size, nullptr, nullptr);
}

bool ReadSettingsTextLeniently(const char* utf8, size_t length, SettingsFile* file, SettingsNote note, void* context) {
  return ReadText(utf8, length, file, nullptr, 0, note, context);
}

void DropSettingsEntry(SettingsFile* file, size_t index) {
  if (index >= file->count) return;
  memmove(&file->entries[index], &file->entries[index + 1], (file->count - index - 1) * sizeof(SettingsEntry));
  file->count--;
}

void FreeSettingsFile(SettingsFile* file) {
  free(file->storage);
  *file = SettingsFile{};
}

static bool EqualsAscii(const char16_t* text, const char* ascii) {
  for (; *text && *text == char16_t((unsigned char)*ascii); text++, ascii++) {
  }
  return *text == 0 && *ascii == 0;
}

static bool StartsWithAscii(const char16_t* text, const char* ascii) {
  for (; *ascii; text++, ascii++)
    if (*text != char16_t((unsigned char)*ascii)) return false;
  return true;
}

static bool IsAnyOf(const char16_t* key, const char* const* names) {
  for (; *names; names++)
    if (EqualsAscii(key, *names)) return true;
  return false;
}

static const char* const kFlagKeys[] = {"verbose", "help", "http-insecure", "phone-https", "store-password",
                                        "no-settings", "confirm", "allow-codes", "any-user", "show-secrets", "hang-up",
                                        nullptr};
static const char* const kCommandLineKeys[] = {"settings", "no-settings", "show-request", "show-secrets", "test-call",
                                               "hang-up", "store-password", "help", nullptr};
static const char* const kPasswordKeys[] = {"http-password", "http-password-env", "http-password-protected", nullptr};
static const char* const kWaysToThePhone[] = {"exec", "http", "phone", nullptr};
static const char* const kHttpRequestKeys[] = {"http-method", "http-body", "http-hang-up", nullptr};

// Whether a later layer's key replaces an earlier layer's. Blocked prefixes
// add up, so that a user's file cannot lift the machine's.
static bool Replaces(const char16_t* later, const char16_t* earlier) {
  if (EqualsAscii(later, "block")) return false;
  const char16_t* a = later;
  const char16_t* b = earlier;
  for (; *a && *a == *b; a++, b++) {
  }
  if (*a == *b) return true;
  if (IsAnyOf(later, kPasswordKeys) && IsAnyOf(earlier, kPasswordKeys)) return true;
  if (!IsAnyOf(later, kWaysToThePhone)) return false;
  if (IsAnyOf(earlier, kWaysToThePhone) || IsAnyOf(earlier, kHttpRequestKeys)) return true;
  return !EqualsAscii(later, "phone") && StartsWithAscii(earlier, "phone-");
}

static int FlagValue(const char16_t* value) {
  static const char* const kYes[] = {"yes", "true", "1", nullptr};
  static const char* const kNo[] = {"no", "false", "0", nullptr};
  char16_t lower[8];
  size_t i = 0;
  for (; value[i] && i + 1 < sizeof lower / sizeof lower[0]; i++)
    lower[i] = value[i] >= u'A' && value[i] <= u'Z' ? char16_t(value[i] + 32) : value[i];
  if (value[i]) return -1;
  lower[i] = 0;
  return IsAnyOf(lower, kYes) ? 1 : IsAnyOf(lower, kNo) ? 0 : -1;
}

// What an administrator rolls out to every user: the phone, how numbers are
// dialled, and what only makes the service more careful. Whatever runs a
// program, chooses a server, loosens a check or reaches other users' programs
// stays the user's own choice.
static const char* const kMachineKeys[] = {
    "phone", "phone-address", "phone-https", "phone-line", "phone-account", "phone-endpoint", "phone-context",
    "http-user", "http-timeout", "confirm", "block", "max-calls",
    // A desk-wide key (or none) may be rolled out; the user's own file still
    // changes it, as only the user knows which of their programs holds a key.
    "dial-hotkey", "hang-up-hotkey", nullptr};

// country, area, outside and the other dialing rules.
static bool IsDialingRuleKey(const char16_t* key) {
  char16_t option[40] = u"--";
  size_t length = 0;
  while (key[length] && length + 3 < sizeof option / sizeof option[0]) {
    option[length + 2] = key[length];
    length++;
  }
  if (key[length]) return false;
  option[length + 2] = 0;
  return DialingRuleOfOption(option) != kRuleCount;
}

static bool ParseCount(const char16_t* text, size_t length, unsigned long* value) {
  *value = 0;
  if (length == 0 || length > 9) return false;
  for (size_t i = 0; i < length; i++) {
    if (text[i] < u'0' || text[i] > u'9') return false;
    *value = *value * 10 + unsigned(text[i] - u'0');
  }
  return true;
}

// max-calls N/SECONDS no looser than the default: at most as many calls in
// at least as long a time. 0 (no brake) never is.
static bool IsStricterBrake(const char16_t* value) {
  size_t slash = 0;
  while (value[slash] && value[slash] != u'/') slash++;
  if (!value[slash]) return false;
  size_t length = slash + 1;
  while (value[length]) length++;
  unsigned long calls, seconds;
  return ParseCount(value, slash, &calls) && ParseCount(value + slash + 1, length - slash - 1, &seconds) &&
         calls >= 1 && calls <= kDefaultMaxCalls && seconds >= kDefaultMaxCallsSeconds;
}

bool MachineMaySet(const char16_t* key, const char16_t* value, char* problem, size_t size) {
  if (problem && size) problem[0] = 0;
  char shown[100];
  EncodeUtf8(key, shown, sizeof shown);
  if (!IsAnyOf(key, kMachineKeys) && !IsDialingRuleKey(key))
    return RefuseWith(problem, size, "%s is not read from the machine's settings file", shown);
  if (IsAnyOf(key, kFlagKeys) && FlagValue(value) < 0) return RefuseWith(problem, size, "%s takes yes or no", shown);
  if (EqualsAscii(key, "max-calls") && !IsStricterBrake(value))
    return RefuseWith(problem, size,
                      "the machine's settings file may set max-calls only to N/SECONDS with N at most %u and "
                      "SECONDS at least %u",
                      kDefaultMaxCalls, kDefaultMaxCallsSeconds);
  return true;
}

void KeepMachineSettings(SettingsFile* file, SettingsNote note, void* context) {
  char problem[200];
  for (size_t i = 0; i < file->count;) {
    if (MachineMaySet(file->entries[i].key, file->entries[i].value, problem, sizeof problem)) {
      i++;
      continue;
    }
    if (note) note(context, file->entries[i].line, problem);
    DropSettingsEntry(file, i);
  }
}

namespace {
struct Layer {
  const SettingsFile* file;  // null: the command line
  const char16_t* path;
};

// The keys the command line names, in argv order: "--key" without its dashes.
struct CommandLine {
  int argc;
  const char16_t* const* argv;

  bool Names(const char16_t* key) const {
    for (int i = 1; i < argc; i++) {
      const char16_t* option = argv[i];
      if (!StartsWithAscii(option, "--")) continue;
      if (Replaces(option + 2, key)) return true;
      if (!IsAnyOf(option + 2, kFlagKeys)) i++;
    }
    return false;
  }
};
}  // namespace

static bool LaterLayerNames(const Layer* layers, size_t count, size_t from, const CommandLine& commandLine,
                            const char16_t* key) {
  for (size_t l = from; l < count; l++) {
    if (!layers[l].file) continue;
    for (size_t i = 0; i < layers[l].file->count; i++)
      if (Replaces(layers[l].file->entries[i].key, key)) return true;
  }
  return commandLine.Names(key);
}

bool MergeOptionLayers(const SettingsFile* machine, const char16_t* machinePath, const SettingsFile* user,
                       const char16_t* userPath, int argc, const char16_t* const* argv, MergedOptions* merged,
                       char* problem, size_t size) {
  *merged = MergedOptions{};
  if (problem && size) problem[0] = 0;
  const Layer layers[] = {{machine, machinePath}, {user, userPath}};
  const size_t layerCount = sizeof layers / sizeof layers[0];
  CommandLine commandLine = {argc, argv};
  size_t arguments = argc > 0 ? size_t(argc) : 1;
  size_t keyUnits = 0;
  for (const Layer& layer : layers) {
    if (!layer.file) continue;
    char path[260];
    EncodeUtf8(layer.path ? layer.path : u"settings", path, sizeof path);
    for (size_t i = 0; i < layer.file->count; i++) {
      const SettingsEntry& entry = layer.file->entries[i];
      if (EqualsAscii(entry.key, "http-password"))
        return RefuseWith(problem, size,
                      "%s:%u: a clear http-password is not kept in a settings file; store it with "
                      "dial-service.exe --store-password",
                      path, entry.line);
      char key[100];
      EncodeUtf8(entry.key, key, sizeof key);
      if (IsAnyOf(entry.key, kCommandLineKeys))
        return RefuseWith(problem, size, "%s:%u: %s is only for the command line", path, entry.line, key);
      if (IsAnyOf(entry.key, kFlagKeys) && FlagValue(entry.value) < 0)
        return RefuseWith(problem, size, "%s:%u: %s takes yes or no", path, entry.line, key);
      arguments += 2;
      for (const char16_t* c = entry.key; *c; c++) keyUnits++;
      keyUnits += 3;
    }
  }
  size_t originBytes = arguments * sizeof(OptionOrigin);
  size_t argvBytes = arguments * sizeof(const char16_t*);
  char* storage = static_cast<char*>(malloc(originBytes + argvBytes + keyUnits * sizeof(char16_t)));
  if (!storage) return RefuseWith(problem, size, "no memory for the settings");
  merged->storage = storage;
  merged->origins = reinterpret_cast<OptionOrigin*>(storage);
  merged->argv = reinterpret_cast<const char16_t**>(storage + originBytes);
  char16_t* keys = reinterpret_cast<char16_t*>(storage + originBytes + argvBytes);
  int count = 0;
  auto add = [&](const char16_t* argument, const char16_t* path, unsigned line) {
    merged->argv[count] = argument;
    merged->origins[count] = OptionOrigin{path, line};
    count++;
  };
  add(argc > 0 ? argv[0] : u"dial-service", nullptr, 0);
  for (size_t l = 0; l < layerCount; l++) {
    const Layer& layer = layers[l];
    if (!layer.file) continue;
    for (size_t i = 0; i < layer.file->count; i++) {
      const SettingsEntry& entry = layer.file->entries[i];
      if (LaterLayerNames(layers, layerCount, l + 1, commandLine, entry.key)) continue;
      bool flag = IsAnyOf(entry.key, kFlagKeys);
      if (flag && FlagValue(entry.value) == 0) continue;
      char16_t* option = keys;
      *keys++ = u'-';
      *keys++ = u'-';
      for (const char16_t* c = entry.key; *c; c++) *keys++ = *c;
      *keys++ = 0;
      add(option, layer.path, entry.line);
      if (!flag) add(entry.value, layer.path, entry.line);
    }
  }
  for (int i = 1; i < argc; i++) add(argv[i], nullptr, 0);
  merged->argc = count;
  return true;
}

void FreeMergedOptions(MergedOptions* merged) {
  free(merged->storage);
  *merged = MergedOptions{};
}

static bool IsKey(const char16_t* text) {
  if (!*text) return false;
  for (; *text; text++)
    if (!((*text >= u'a' && *text <= u'z') || (*text >= u'0' && *text <= u'9') || *text == u'-')) return false;
  return true;
}

// What ReadSettingsText would refuse to read back.
static bool HoldsControlCharacter(const char16_t* text) {
  for (; *text; text++)
    if (*text < 0x20 || (*text >= 0x7F && *text <= 0x9F)) return true;
  return false;
}

static char* Utf8Copy(const char16_t* text, size_t* length) {
  size_t needed = EncodeUtf8(text, nullptr, 0);
  char* copy = static_cast<char*>(malloc(needed + 1));
  if (copy) EncodeUtf8(text, copy, needed + 1);
  *length = needed;
  return copy;
}

// The "key=value" lines of the changes with the given line end; malloc'd.
static char* NewLines(const SettingsChange* changes, size_t count, const char* lineEnd, size_t* length) {
  size_t total = 0;
  for (int pass = 0; pass < 2; pass++) {
    char* text = pass ? static_cast<char*>(malloc(total + 1)) : nullptr;
    if (pass && !text) return nullptr;
    size_t used = 0;
    for (size_t i = 0; i < count; i++) {
      for (size_t v = 0; changes[i].values && v < changes[i].valueCount; v++) {
        size_t keyLength, valueLength;
        char* key = Utf8Copy(changes[i].key, &keyLength);
        char* value = Utf8Copy(changes[i].values[v], &valueLength);
        if (!key || !value) {
          free(key);
          free(value);
          free(text);
          return nullptr;
        }
        if (text) {
          memcpy(text + used, key, keyLength);
          text[used + keyLength] = '=';
          memcpy(text + used + keyLength + 1, value, valueLength);
          memcpy(text + used + keyLength + 1 + valueLength, lineEnd, strlen(lineEnd));
        }
        used += keyLength + 1 + valueLength + strlen(lineEnd);
        free(key);
        free(value);
      }
    }
    total = used;
    if (text) {
      text[used] = 0;
      *length = used;
      return text;
    }
  }
  return nullptr;
}

// The keys of changes are ASCII (IsKey), so they compare unit by byte.
static bool IsChangedKey(const char* text, const LineParts& parts, const SettingsChange* changes, size_t count) {
  for (size_t i = 0; i < count; i++) {
    size_t at = parts.nameBegin;
    const char16_t* key = changes[i].key;
    for (; *key && at < parts.nameEnd && char16_t((unsigned char)text[at]) == *key; key++, at++) {
    }
    if (!*key && at == parts.nameEnd) return true;
  }
  return false;
}

char* UpdateSettingsText(const char* utf8, size_t length, const SettingsChange* changes, size_t count,
                         size_t* outLength) {
  for (size_t i = 0; i < count; i++) {
    if (!IsKey(changes[i].key)) return nullptr;
    for (size_t v = 0; changes[i].values && v < changes[i].valueCount; v++)
      if (HoldsControlCharacter(changes[i].values[v])) return nullptr;
  }
  const char* lineEnd = "\r\n";
  for (size_t i = 0; i < length; i++)
    if (utf8[i] == '\n') {
      lineEnd = i > 0 && utf8[i - 1] == '\r' ? "\r\n" : "\n";
      break;
    }
  size_t newLength = 0;
  char* newLines = NewLines(changes, count, lineEnd, &newLength);
  if (!newLines) return nullptr;
  static const char kHeader[] = "[dial-service]";
  size_t capacity = length + newLength + sizeof kHeader + 2 * strlen(lineEnd) + 3 + 1;
  char* out = static_cast<char*>(malloc(capacity));
  if (!out) {
    free(newLines);
    return nullptr;
  }
  size_t used = 0;
  size_t start = HasBom(utf8, length) ? 3 : 0;
  memcpy(out, utf8, start);
  used = start;
  // Where the new lines go: after the last line of our section's header or
  // keys; SIZE_MAX while the text has no such section.
  size_t insertAt = SIZE_MAX;
  bool insertNeedsLineEnd = false;
  bool ours = true, sectionSeen = false;
  LineReader reader = {utf8, length, start};
  TextLine line;
  while (reader.Next(&line)) {
    LineParts parts = ReadLine(utf8, line.begin, line.end);
    if (parts.kind == kLineSection) {
      ours = IsOurSection(utf8, parts);
      sectionSeen = true;
    }
    if (ours && parts.kind == kLineEntry && IsChangedKey(utf8, parts, changes, count)) continue;
    memcpy(out + used, utf8 + line.begin, line.next - line.begin);
    used += line.next - line.begin;
    if (ours && sectionSeen && (parts.kind == kLineSection || parts.kind == kLineEntry)) {
      insertAt = used;
      insertNeedsLineEnd = utf8[line.next - 1] != '\n';
    }
  }
  // A last line without its line end gets one; after a lone CR only the LF.
  auto endOfLastLine = [&](size_t at) { return at > start && out[at - 1] == '\r' ? "\n" : lineEnd; };
  if (insertAt == SIZE_MAX) {
    if (used > start && out[used - 1] != '\n') {
      const char* end = endOfLastLine(used);
      memcpy(out + used, end, strlen(end));
      used += strlen(end);
    }
    memcpy(out + used, kHeader, sizeof kHeader - 1);
    used += sizeof kHeader - 1;
    memcpy(out + used, lineEnd, strlen(lineEnd));
    used += strlen(lineEnd);
    insertAt = used;
  } else if (insertNeedsLineEnd) {
    const char* end = endOfLastLine(insertAt);
    memmove(out + insertAt + strlen(end), out + insertAt, used - insertAt);
    memcpy(out + insertAt, end, strlen(end));
    used += strlen(end);
    insertAt += strlen(end);
  }
  memmove(out + insertAt + newLength, out + insertAt, used - insertAt);
  memcpy(out + insertAt, newLines, newLength);
  used += newLength;
  // With the first lines gone, a later line's own BOM would be taken for the
  // file's; one in front keeps it part of its line.
  if (start == 0 && HasBom(out, used)) {
    memmove(out + 3, out, used);
    memcpy(out, "\xEF\xBB\xBF", 3);
    used += 3;
  }
  out[used] = 0;
  free(newLines);
  *outLength = used;
  return out;
}

char* DropSettingsLines(const char* utf8, size_t length, const unsigned* lines, size_t count, size_t* outLength) {
  char* out = static_cast<char*>(malloc(length + 1));
  if (!out) return nullptr;
  size_t start = HasBom(utf8, length) ? 3 : 0;
  memcpy(out, utf8, start);
  size_t used = start;
  LineReader reader = {utf8, length, start};
  TextLine line;
  for (unsigned number = 1; reader.Next(&line); number++) {
    bool dropped = false;
    for (size_t i = 0; i < count; i++) dropped = dropped || lines[i] == number;
    if (dropped) continue;
    memcpy(out + used, utf8 + line.begin, line.next - line.begin);
    used += line.next - line.begin;
  }
  out[used] = 0;
  *outLength = used;
  return out;
}
