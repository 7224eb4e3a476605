#pragma once
// The settings as the two programs read and write them: the machine's file
// (%ProgramData%\teldial\dial-service.ini, an administrator's defaults), then
// the user's (%APPDATA%\teldial\dial-service.ini, or --settings FILE; none with
// --no-settings), then the command line, each overriding the one before. A
// missing file is no error; a user's file that cannot be read, or holds a bad
// line, is. The machine's file is read only when administrators alone may
// change it and its folder (file_trust.h), and only for the keys it may set
// (MachineMaySet); what is wrong with it is noted and left out, never fatal.
#include <stddef.h>
#include <wchar.h>

#include "service/settings/service_options.h"
#include "service/settings/settings_file.h"
#include "service/sinks/password_protection_win.h"

// The user's and the machine's settings file; false when no folder is known
// or the path would not fit size characters.
bool UserSettingsPath(wchar_t* path, size_t size);
bool MachineSettingsPath(wchar_t* path, size_t size);

const size_t kMaxSettingsPath = 1024;
const size_t kMaxSettingsFaults = 8;

// A line of the user's file left out when it is read keeping its good lines.
struct SettingsFault {
  unsigned line;                    // counted from 1
  char16_t key[64];                 // "" when the line is no key=value
  char text[160];                   // the line as written (UTF-8), cut short
  char problem[kMaxOptionProblem];  // in the options' words, without file and line
  // A good line left out only because it needs one at fault (area without
  // country): it is put back in its field, not named as at fault.
  bool dependent;
};

// The options and everything they point into; never copied.
struct LoadedOptions {
  ServiceOptions options;
  SettingsFile machine;
  SettingsFile user;
  MergedOptions merged;
  wchar_t machinePath[kMaxSettingsPath];  // "" when not read
  wchar_t userPath[kMaxSettingsPath];     // the user's file or --settings FILE; "" when not read
  // For the log: "PATH:LINE: ..." for each line of the machine's file left
  // out, or "PATH: not read: REASON"; "\n"-ended lines, null when none.
  char* machineNotes;
  bool machineDistrusted;  // not read because others than administrators may change it
  DeskNames names;         // what {user} and {computer} were filled with
  // With keepGoodLines, the lines of the user's file left out, in order.
  SettingsFault userFaults[kMaxSettingsFaults];
  size_t userFaultCount;
  // The machine's file names a phone that asks for a password and this user
  // has none: the options hold no phone until one is given, while machine
  // keeps the phone's lines, which the settings window shows.
  bool passwordMissing;
};

// The user's and computer's names fill {user} and {computer} (desk_names.h).
// Null with the one-line problem (UTF-8, prefixed "FILE:LINE: " when a line
// of a file is at fault) and *exitCode: 2 for bad settings or options, 1 when
// a file cannot be read or memory runs out. With keepGoodLines, each line of
// the user's file at fault is left out and noted in userFaults instead (the
// tray runs on the good ones while the user puts the rest right); a fault of
// the command line, or of more lines than userFaults holds, still fails.
LoadedOptions* LoadServiceOptions(int argc, const wchar_t* const* argv, char* problem, size_t size, int* exitCode,
                                  bool keepGoodLines = false);
void FreeLoadedOptions(LoadedOptions* loaded);
// Hands each line of machineNotes to tell, in order.
void ForEachMachineNote(const LoadedOptions* loaded, void (*tell)(const char* line));

// Whether either settings file exists (the tray program opens its settings
// window at its first start when neither does).
bool AnySettingsFileExists();

// Sets or removes keys in the settings file at path, keeping its other lines:
// the folder is made when missing, and the new text replaces the old at once
// (written beside it, then moved over it), so that a reader never sees half a
// file. False when it cannot be read, written or replaced, or when the new
// text is no settings file.
bool WriteSettingsChanges(const wchar_t* path, const SettingsChange* changes, size_t count);

// As WriteSettingsChanges, with lines of the old text left out too (counted
// from 1), and the file replaced only when the whole new text loads with the
// machine's file and the command line argv as LoadServiceOptions would load
// it; false with the problem ("line N: ..." when a line of the new text is at
// fault, "" when the file cannot be read or written).
struct SettingsEdit {
  const SettingsChange* changes;
  size_t count;
  const unsigned* droppedLines;
  size_t droppedCount;
};
bool WriteCheckedSettings(const wchar_t* path, const SettingsEdit& edit, int argc, const wchar_t* const* argv,
                          char* problem, size_t size);
