#pragma once
// The dial service's settings files: INI text read into key/value entries,
// layered under the command line as one argv for ParseServiceOptions, and
// rewritten with changed keys. Pure text work; the files themselves are
// settings_win's business.
//
//   [dial-service]
//   phone=snom
//   http-header=X-A: 1
//
// UTF-8 (a BOM allowed), CRLF or LF lines; blank lines and lines starting with
// ";" or "#" are comments. Keys are the long options without "--"; lines
// before any section count as [dial-service], keys of other sections are
// ignored. Blanks around keys and values are dropped.
#include <stddef.h>

struct SettingsEntry {
  const char16_t* key;
  const char16_t* value;
  unsigned line;  // counted from 1
};
struct SettingsFile {
  SettingsEntry* entries;
  size_t count;
  void* storage;
};

// False with "line N: <problem>" when a line is neither blank, a comment, a
// section nor key=value, a value holds a control character (TAB, DEL and C1
// included), or the text is not UTF-8; file is then empty.
bool ReadSettingsText(const char* utf8, size_t length, SettingsFile* file, char* problem, size_t size);
void FreeSettingsFile(SettingsFile* file);

// Told of a line left out (counted from 1) and why, in the words above.
typedef void (*SettingsNote)(void* context, unsigned line, const char* problem);
// As ReadSettingsText, but each line at fault is told to note and left out
// (the machine's file, which one bad line must not turn into every user's
// failure); false only when memory runs out.
bool ReadSettingsTextLeniently(const char* utf8, size_t length, SettingsFile* file, SettingsNote note, void* context);
void DropSettingsEntry(SettingsFile* file, size_t index);

// The machine's file may set only what an administrator rolls out: the
// phone (phone, phone-...), http-user, http-timeout, the dialing rules,
// confirm, block, max-calls at least as strict as the default 5/10 (at
// most 5 calls in at least 10 seconds), and the dial and hang-up keys. False with the problem (without file
// and line) for anything else.
bool MachineMaySet(const char16_t* key, const char16_t* value, char* problem, size_t size);
// Drops each entry the machine's file may not set, telling note of each.
void KeepMachineSettings(SettingsFile* file, SettingsNote note, void* context);

// The options of the layers as one argv (argv[0] the program) for
// ParseServiceOptions: the machine file, the user file, the command line. A
// later layer that names a key replaces every value of it from earlier layers
// (a repeated key such as http-header as a whole), except block, whose values
// of all layers add up; naming how to reach the phone (exec, http or phone)
// also drops the earlier layers' other ways, and naming one password source
// drops the earlier ones. A flag takes yes or no (true/false, 1/0); no only
// removes it.
struct OptionOrigin {
  const char16_t* path;  // null: the command line
  unsigned line;
};
struct MergedOptions {
  int argc;
  const char16_t** argv;
  OptionOrigin* origins;  // one per argv element
  void* storage;
};
// machine and user may be null (no such file). False with one line naming
// "PATH:LINE: " for a clear http-password, a key only for the command line, or
// a flag that is neither yes nor no, or for no memory.
bool MergeOptionLayers(const SettingsFile* machine, const char16_t* machinePath, const SettingsFile* user,
                       const char16_t* userPath, int argc, const char16_t* const* argv, MergedOptions* merged,
                       char* problem, size_t size);
void FreeMergedOptions(MergedOptions* merged);

// The file text with each given key set (all its lines replaced by one line
// per value, at the end of [dial-service]) or removed (no values), other
// lines and comments kept, "[dial-service]" added when missing. Malloc'd
// UTF-8 with *outLength set; null when a key is not lower-case letters, digits
// and "-", a value holds a control character, or memory ran out.
struct SettingsChange {
  const char16_t* key;
  const char16_t* const* values;
  size_t valueCount;
};
char* UpdateSettingsText(const char* utf8, size_t length, const SettingsChange* changes, size_t count,
                         size_t* outLength);

// The text without the given lines (counted from 1, as ReadSettingsText
// counts them), every other line kept as it is. Malloc'd, with *outLength
// set; null when memory ran out.
char* DropSettingsLines(const char* utf8, size_t length, const unsigned* lines, size_t count, size_t* outLength);
