#include "service/settings/settings_win.h"

#include <windows.h>
#include <shlobj.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "service/number/service_text.h"
#include "service/settings/desk_names_win.h"
#include "service/settings/file_trust_win.h"

static const wchar_t kSettingsTail[] = L"\\teldial\\dial-service.ini";
// Far more than any settings file; a larger one is not a settings file.
static const DWORD kMaxSettingsBytes = 1 << 20;

static const char16_t* Text16(const wchar_t* text) { return reinterpret_cast<const char16_t*>(text); }


// The folder from the environment (as the user's session sets it), else from
// the shell, with the settings file's tail added.
static bool SettingsPathIn(const wchar_t* variable, int folder, wchar_t* path, size_t size) {
  wchar_t base[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(variable, base, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    if (FAILED(SHGetFolderPathW(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, base))) return false;
    length = DWORD(wcslen(base));
  }
  if (length + wcslen(kSettingsTail) >= size) return false;
  wcscpy(path, base);
  wcscat(path, kSettingsTail);
  return true;
}

bool UserSettingsPath(wchar_t* path, size_t size) { return SettingsPathIn(L"APPDATA", CSIDL_APPDATA, path, size); }

bool MachineSettingsPath(wchar_t* path, size_t size) {
  return SettingsPathIn(L"ProgramData", CSIDL_COMMON_APPDATA, path, size);
}

static bool Exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

bool AnySettingsFileExists() {
  wchar_t path[kMaxSettingsPath];
  return (UserSettingsPath(path, kMaxSettingsPath) && Exists(path)) ||
         (MachineSettingsPath(path, kMaxSettingsPath) && Exists(path));
}

static void Utf8Path(const wchar_t* path, char* out, size_t size) {
  if (!WideCharToMultiByte(CP_UTF8, 0, path, -1, out, int(size), nullptr, nullptr)) strcpy(out, "?");
}

enum FileRead { kFileRead, kFileMissing, kFileUnreadable };

// The whole of the open file, malloc'd (with a 0 after it); false when it
// cannot be read or is too large for a settings file.
static bool ReadOpenFile(HANDLE file, char** text, DWORD* length) {
  LARGE_INTEGER size = {};
  *text = nullptr;
  if (GetFileSizeEx(file, &size) && size.QuadPart <= kMaxSettingsBytes)
    *text = static_cast<char*>(malloc(size_t(size.QuadPart) + 1));
  DWORD got = 0;
  bool read = *text && ReadFile(file, *text, DWORD(size.QuadPart), &got, nullptr) && got == DWORD(size.QuadPart);
  if (!read) {
    free(*text);
    *text = nullptr;
    return false;
  }
  (*text)[got] = 0;
  *length = got;
  return true;
}

static bool IsMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// The whole file, malloc'd (with a 0 after it), or why not.
static FileRead ReadWholeFile(const wchar_t* path, char** text, DWORD* length) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  *text = nullptr;
  if (file == INVALID_HANDLE_VALUE) return IsMissing(GetLastError()) ? kFileMissing : kFileUnreadable;
  bool read = ReadOpenFile(file, text, length);
  CloseHandle(file);
  return read ? kFileRead : kFileUnreadable;
}

static void AddNote(LoadedOptions* loaded, const char* format, ...) __attribute__((format(printf, 2, 3)));
static void AddNote(LoadedOptions* loaded, const char* format, ...) {
  char line[kMaxOptionProblem + 3 * kMaxSettingsPath];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  size_t used = loaded->machineNotes ? strlen(loaded->machineNotes) : 0;
  char* grown = static_cast<char*>(realloc(loaded->machineNotes, used + strlen(line) + 2));
  if (!grown) return;
  memcpy(grown + used, line, strlen(line));
  memcpy(grown + used + strlen(line), "\n", 2);
  loaded->machineNotes = grown;
}

namespace {
struct MachineNotes {
  LoadedOptions* loaded;
  const char* shown;
};
}  // namespace

static void NoteBadMachineLine(void* context, unsigned line, const char* problem) {
  MachineNotes* notes = static_cast<MachineNotes*>(context);
  AddNote(notes->loaded, "%s:%u: %s; the line is left out", notes->shown, line, problem);
}

static void NoteMachineKey(void* context, unsigned line, const char* problem) {
  MachineNotes* notes = static_cast<MachineNotes*>(context);
  AddNote(notes->loaded, "%s:%u: %s", notes->shown, line, problem);
}

// The machine's file is every user's, so it is read only when administrators
// alone may change it and its folder, and only for what it may set; what is
// wrong with it is noted, never fatal. The folder stays open without sharing
// deletion, so that neither can be swapped between the check and the read.
static void ReadMachineLayer(LoadedOptions* loaded) {
  wchar_t* path = loaded->machinePath;
  char shown[3 * kMaxSettingsPath];
  Utf8Path(path, shown, sizeof shown);
  wchar_t folderPath[kMaxSettingsPath];
  wcscpy(folderPath, path);
  if (wchar_t* last = wcsrchr(folderPath, L'\\')) *last = 0;
  HANDLE folder = CreateFileW(folderPath, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  DWORD folderError = GetLastError();
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD error = GetLastError();
  char reason[kMaxOptionProblem];
  char* text = nullptr;
  DWORD length = 0;
  bool read = false;
  if (file == INVALID_HANDLE_VALUE) {
    if (!IsMissing(error)) AddNote(loaded, "%s: not read: the file cannot be opened, error %lu", shown, error);
  } else if (folder == INVALID_HANDLE_VALUE) {
    AddNote(loaded, "%s: not read: its folder cannot be opened, error %lu", shown, folderError);
  } else if (!IsAdministratorsOnly(folder, true, reason, sizeof reason) ||
             !IsAdministratorsOnly(file, false, reason, sizeof reason)) {
    AddNote(loaded, "%s: not read: %s", shown, reason);
    loaded->machineDistrusted = true;
  } else if (!ReadOpenFile(file, &text, &length)) {
    AddNote(loaded, "%s: not read: the file cannot be read", shown);
  } else {
    MachineNotes notes = {loaded, shown};
    read = ReadSettingsTextLeniently(text, length, &loaded->machine, NoteBadMachineLine, &notes);
    if (read) KeepMachineSettings(&loaded->machine, NoteMachineKey, &notes);
  }
  free(text);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
  if (!read) path[0] = 0;
}

static void AddUserFault(LoadedOptions* loaded, unsigned line, const char16_t* key, const char* text,
                         const char* problem) {
  if (loaded->userFaultCount == kMaxSettingsFaults) return;
  SettingsFault& fault = loaded->userFaults[loaded->userFaultCount++];
  fault.line = line;
  size_t length = key ? wcslen(reinterpret_cast<const wchar_t*>(key)) : 0;
  if (length >= sizeof fault.key / sizeof fault.key[0]) length = 0;
  memcpy(fault.key, key, length * sizeof(char16_t));
  fault.key[length] = 0;
  snprintf(fault.text, sizeof fault.text, "%s", text);
  snprintf(fault.problem, sizeof fault.problem, "%s", problem);
}

namespace {
struct UserText {
  LoadedOptions* loaded;
  const char* text;
  size_t length;
};
}  // namespace

// A line the settings file's reader leaves out, noted with the line as written.
static void NoteBadUserLine(void* context, unsigned line, const char* problem) {
  UserText* user = static_cast<UserText*>(context);
  const char* at = user->text;
  const char* end = user->text + user->length;
  for (unsigned number = 1; number < line && at < end; number++) {
    const char* next = static_cast<const char*>(memchr(at, '\n', size_t(end - at)));
    at = next ? next + 1 : end;
  }
  char written[160];
  size_t length = 0;
  for (; at + length < end && at[length] != '\n' && at[length] != '\r' && length + 1 < sizeof written; length++)
    written[length] = at[length] >= 0x20 || at[length] < 0 ? at[length] : '?';
  written[length] = 0;
  AddUserFault(user->loaded, line, nullptr, written, problem);
}

// Reads one layer's file into *file; a missing file leaves path "" (when
// optional) and is no error. ReadSettingsText's "line N: ..." becomes "PATH:N: ...".
// With keepGoodLinesIn, lines at fault are noted there and left out.
static bool ReadLayer(wchar_t* path, bool optional, SettingsFile* file, char* problem, size_t size, int* exitCode,
                      LoadedOptions* keepGoodLinesIn = nullptr) {
  char* text = nullptr;
  DWORD length = 0;
  char shown[3 * kMaxSettingsPath];
  Utf8Path(path, shown, sizeof shown);
  FileRead read = ReadWholeFile(path, &text, &length);
  if (read == kFileMissing && optional) {
    path[0] = 0;
    return true;
  }
  if (read != kFileRead) {
    RefuseWith(problem, size, "%s: %s", shown,
        read == kFileMissing ? "no such settings file" : "the settings file cannot be read");
    *exitCode = read == kFileMissing ? 2 : 1;
    return false;
  }
  char fault[kMaxOptionProblem];
  UserText user = {keepGoodLinesIn, text, length};
  bool parsed = keepGoodLinesIn ? ReadSettingsTextLeniently(text, length, file, NoteBadUserLine, &user)
                                : ReadSettingsText(text, length, file, fault, sizeof fault);
  if (!parsed && keepGoodLinesIn) snprintf(fault, sizeof fault, "no memory for the settings");
  free(text);
  if (parsed) return true;
  unsigned line = 0;
  int skipped = 0;
  if (sscanf(fault, "line %u: %n", &line, &skipped) == 1 && skipped > 0)
    RefuseWith(problem, size, "%s:%u: %s", shown, line, fault + skipped);
  else
    RefuseWith(problem, size, "%s: %s", shown, fault);
  *exitCode = 2;
  return false;
}

// --settings FILE and --no-settings decide which files are read, so they are
// looked for before anything is parsed; the parser checks them as usual later.
static void FindUserLayer(int argc, const wchar_t* const* argv, const wchar_t** settingsFile, bool* noSettings) {
  for (int i = 1; i < argc; i++) {
    if (wcscmp(argv[i], L"--no-settings") == 0) *noSettings = true;
    if (wcscmp(argv[i], L"--settings") == 0 && i + 1 < argc) *settingsFile = argv[++i];
  }
}

static bool ReadLayers(LoadedOptions* loaded, int argc, const wchar_t* const* argv, char* problem, size_t size,
                       int* exitCode, bool keepGoodLines) {
  LoadedOptions* keepGoodLinesIn = keepGoodLines ? loaded : nullptr;
  const wchar_t* settingsFile = nullptr;
  bool noSettings = false;
  FindUserLayer(argc, argv, &settingsFile, &noSettings);
  if (noSettings) return true;
  if (MachineSettingsPath(loaded->machinePath, kMaxSettingsPath)) ReadMachineLayer(loaded);
  if (settingsFile) {
    if (wcslen(settingsFile) >= kMaxSettingsPath) {
      RefuseWith(problem, size, "the --settings path is too long");
      *exitCode = 2;
      return false;
    }
    wcscpy(loaded->userPath, settingsFile);
    return ReadLayer(loaded->userPath, false, &loaded->user, problem, size, exitCode, keepGoodLinesIn);
  }
  return !UserSettingsPath(loaded->userPath, kMaxSettingsPath) ||
         ReadLayer(loaded->userPath, true, &loaded->user, problem, size, exitCode, keepGoodLinesIn);
}

// Leaves out the user's entry on that line, noting it; false when there is
// none or no room to note it.
static bool LeaveOutUserLine(LoadedOptions* loaded, unsigned line, const char* problem, bool dependent = false) {
  if (loaded->userFaultCount == kMaxSettingsFaults) return false;
  for (size_t i = 0; i < loaded->user.count; i++) {
    const SettingsEntry& entry = loaded->user.entries[i];
    if (entry.line != line) continue;
    char written[160];
    int length = WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(entry.key), -1, written,
                                     sizeof written - 2, nullptr, nullptr);
    if (length <= 0) length = 1;
    written[length - 1] = '=';
    if (!WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(entry.value), -1, written + length,
                             int(sizeof written) - length, nullptr, nullptr))
      written[length] = 0;
    AddUserFault(loaded, line, entry.key, written, problem);
    loaded->userFaults[loaded->userFaultCount - 1].dependent = dependent;
    DropSettingsEntry(&loaded->user, i);
    return true;
  }
  return false;
}

// A problem of options together ("--area needs --country") once a line is
// left out: the first option it names that the user's file gives is left out too.
static bool LeaveOutDependentLine(LoadedOptions* loaded, const char* problem) {
  if (!loaded->userFaultCount) return false;
  for (const char* at = strstr(problem, "--"); at; at = strstr(at + 2, "--")) {
    size_t length = 0;
    while ((at[2 + length] >= 'a' && at[2 + length] <= 'z') || at[2 + length] == '-') length++;
    for (size_t i = 0; i < loaded->user.count; i++) {
      const char16_t* key = loaded->user.entries[i].key;
      size_t k = 0;
      while (k < length && key[k] == char16_t(at[2 + k])) k++;
      if (k == length && !key[k]) return LeaveOutUserLine(loaded, loaded->user.entries[i].line, problem, true);
    }
  }
  return false;
}

// MergeOptionLayers names a line of the user's file "PATH:LINE: ..."; that
// line is left out.
static bool LeaveOutMergeFault(LoadedOptions* loaded, const char* problem) {
  char shown[3 * kMaxSettingsPath];
  Utf8Path(loaded->userPath, shown, sizeof shown);
  size_t length = strlen(shown);
  unsigned line = 0;
  int skipped = 0;
  if (!loaded->userPath[0] || strncmp(problem, shown, length) != 0 || problem[length] != ':' ||
      sscanf(problem + length + 1, "%u: %n", &line, &skipped) != 1 || skipped <= 0)
    return false;
  return LeaveOutUserLine(loaded, line, problem + length + 1 + skipped);
}

static bool StartsWith16(const char16_t* text, const char* start) {
  for (; *start; text++, start++)
    if (*text != char16_t(*start)) return false;
  return true;
}

// The options without the machine's phone lines, for a user who has not given
// the password its phone asks for yet; false when they are at fault too.
static bool ParseWithoutMachinePhone(LoadedOptions* loaded) {
  const MergedOptions& merged = loaded->merged;
  const char16_t** argv = static_cast<const char16_t**>(calloc(size_t(merged.argc) + 1, sizeof(char16_t*)));
  if (!argv) return false;
  int argc = 0;
  for (int i = 0; i < merged.argc; i++) {
    bool machinePhone = false;
    if (i > 0 && merged.origins[i].path == Text16(loaded->machinePath))
      for (size_t e = 0; e < loaded->machine.count; e++)
        if (loaded->machine.entries[e].line == merged.origins[i].line)
          machinePhone = StartsWith16(loaded->machine.entries[e].key, "phone") ||
                         StartsWith16(loaded->machine.entries[e].key, "http-");
    if (!machinePhone) argv[argc++] = merged.argv[i];
  }
  char fault[kMaxOptionProblem];
  loaded->options = ServiceOptions{};
  bool parsed = ParseServiceOptions(argc, argv, &loaded->options, fault, nullptr, &loaded->names);
  free(argv);
  return parsed;
}

// A line of the machine's file that the option parser refuses is left out
// and the rest parsed again, and so is one of the user's when keepGoodLines;
// a fault anywhere else is the settings' problem.
static bool ParseLayers(LoadedOptions* loaded, int argc, const wchar_t* const* argv, char* problem, size_t size,
                        bool keepGoodLines = false) {
  for (;;) {
    const SettingsFile* machine = loaded->machinePath[0] ? &loaded->machine : nullptr;
    const SettingsFile* user = loaded->userPath[0] ? &loaded->user : nullptr;
    FreeMergedOptions(&loaded->merged);
    if (!MergeOptionLayers(machine, Text16(loaded->machinePath), user, Text16(loaded->userPath), argc,
                           reinterpret_cast<const char16_t* const*>(argv), &loaded->merged, problem, size)) {
      if (keepGoodLines && LeaveOutMergeFault(loaded, problem)) continue;
      return false;
    }
    char fault[kMaxOptionProblem];
    int faultIndex = 0;
    if (ParseServiceOptions(loaded->merged.argc, loaded->merged.argv, &loaded->options, fault, &faultIndex,
                            &loaded->names))
      return true;
    const OptionOrigin* origin = faultIndex > 0 ? &loaded->merged.origins[faultIndex] : nullptr;
    // The phone asks for a password (its kind always does, or the machine's
    // file gives it a user name) and this user has given none yet.
    bool wantsPassword = strstr(fault, "needs a password") || strstr(fault, "--http-user needs --http-password");
    if (origin && origin->path == Text16(loaded->machinePath) && wantsPassword && ParseWithoutMachinePhone(loaded)) {
      loaded->passwordMissing = true;
      AddNote(loaded, "the phone the machine's settings name asks for a password, which this user has not given yet");
      return true;
    }
    char shown[3 * kMaxSettingsPath];
    if (origin && origin->path) Utf8Path(reinterpret_cast<const wchar_t*>(origin->path), shown, sizeof shown);
    size_t dropped = loaded->machine.count;
    if (origin && origin->path == Text16(loaded->machinePath))
      for (size_t i = 0; i < loaded->machine.count; i++)
        if (loaded->machine.entries[i].line == origin->line) dropped = i;
    if (dropped < loaded->machine.count) {
      DropSettingsEntry(&loaded->machine, dropped);
      AddNote(loaded, "%s:%u: %s; the line is left out", shown, origin->line, fault);
      continue;
    }
    if (keepGoodLines && origin && origin->path == Text16(loaded->userPath) &&
        LeaveOutUserLine(loaded, origin->line, fault))
      continue;
    if (keepGoodLines && (!origin || !origin->path) && LeaveOutDependentLine(loaded, fault)) continue;
    if (origin && origin->path)
      RefuseWith(problem, size, "%s:%u: %s", shown, origin->line, fault);
    else
      RefuseWith(problem, size, "%s", fault);
    return false;
  }
}

LoadedOptions* LoadServiceOptions(int argc, const wchar_t* const* argv, char* problem, size_t size, int* exitCode,
                                  bool keepGoodLines) {
  LoadedOptions* loaded = static_cast<LoadedOptions*>(calloc(1, sizeof(LoadedOptions)));
  if (!loaded) {
    RefuseWith(problem, size, "out of memory");
    *exitCode = 1;
    return nullptr;
  }
  *exitCode = 2;
  ReadDeskNames(&loaded->names);
  if (!ReadLayers(loaded, argc, argv, problem, size, exitCode, keepGoodLines) ||
      !ParseLayers(loaded, argc, argv, problem, size, keepGoodLines)) {
    FreeLoadedOptions(loaded);
    return nullptr;
  }
  return loaded;
}

void ForEachMachineNote(const LoadedOptions* loaded, void (*tell)(const char* line)) {
  for (char* line = loaded->machineNotes; line && *line;) {
    char* end = strchr(line, '\n');
    *end = 0;
    tell(line);
    *end = '\n';
    line = end + 1;
  }
}

void FreeLoadedOptions(LoadedOptions* loaded) {
  if (!loaded) return;
  free(loaded->machineNotes);
  FreeMergedOptions(&loaded->merged);
  FreeSettingsFile(&loaded->user);
  FreeSettingsFile(&loaded->machine);
  free(loaded);
}

// Makes every missing folder above the file.
static bool MakeFolderOf(const wchar_t* path) {
  wchar_t folder[kMaxSettingsPath];
  if (wcslen(path) >= kMaxSettingsPath) return false;
  wcscpy(folder, path);
  wchar_t* last = wcsrchr(folder, L'\\');
  wchar_t* lastSlash = wcsrchr(folder, L'/');
  if (lastSlash && (!last || lastSlash > last)) last = lastSlash;
  if (!last || last == folder || last[-1] == L':') return true;
  *last = 0;
  if (Exists(folder)) return true;
  return MakeFolderOf(folder) && (CreateDirectoryW(folder, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
}

static bool WriteWholeFile(const wchar_t* path, const char* text, size_t length) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool complete = WriteFile(file, text, DWORD(length), &written, nullptr) && written == length;
  complete = FlushFileBuffers(file) && complete;
  CloseHandle(file);
  return complete;
}

// Whether text loads as the user's file at path with the machine's file and
// the command line; false with the problem, "line N: ..." for a line of text.
static bool LoadsWith(const char* text, size_t length, const wchar_t* path, int argc, const wchar_t* const* argv,
                      char* problem, size_t size) {
  if (!argc) {
    SettingsFile file;
    bool read = ReadSettingsText(text, length, &file, problem, size);
    FreeSettingsFile(&file);
    return read;
  }
  LoadedOptions* loaded = static_cast<LoadedOptions*>(calloc(1, sizeof(LoadedOptions)));
  if (!loaded) return RefuseWith(problem, size, "out of memory");
  const wchar_t* settingsFile = nullptr;
  bool noSettings = false;
  FindUserLayer(argc, argv, &settingsFile, &noSettings);
  if (!noSettings && MachineSettingsPath(loaded->machinePath, kMaxSettingsPath)) ReadMachineLayer(loaded);
  wcscpy(loaded->userPath, path);
  char fault[kMaxOptionProblem] = "";
  bool loads = ReadSettingsText(text, length, &loaded->user, problem, size) &&
               ParseLayers(loaded, argc, argv, fault, sizeof fault);
  if (!loads && fault[0]) {
    // "PATH:N: ..." of the user's file is a line of text.
    char shown[3 * kMaxSettingsPath];
    Utf8Path(path, shown, sizeof shown);
    size_t pathLength = strlen(shown);
    if (strncmp(fault, shown, pathLength) == 0 && fault[pathLength] == ':')
      RefuseWith(problem, size, "line %s", fault + pathLength + 1);
    else
      RefuseWith(problem, size, "%s", fault);
  }
  FreeLoadedOptions(loaded);
  return loads;
}

bool WriteCheckedSettings(const wchar_t* path, const SettingsEdit& edit, int argc, const wchar_t* const* argv,
                          char* problem, size_t size) {
  problem[0] = 0;
  char* old = nullptr;
  DWORD oldLength = 0;
  FileRead read = ReadWholeFile(path, &old, &oldLength);
  if (read == kFileUnreadable) return false;
  size_t keptLength = 0;
  char* kept = DropSettingsLines(read == kFileRead ? old : "", read == kFileRead ? oldLength : 0, edit.droppedLines,
                                 edit.droppedCount, &keptLength);
  free(old);
  size_t length = 0;
  char* text = kept ? UpdateSettingsText(kept, keptLength, edit.changes, edit.count, &length) : nullptr;
  free(kept);
  wchar_t temporary[kMaxSettingsPath + 8];
  bool written = text && wcslen(path) < kMaxSettingsPath && LoadsWith(text, length, path, argc, argv, problem, size) &&
                 MakeFolderOf(path);
  if (written) {
    wcscpy(temporary, path);
    wcscat(temporary, L".new");
    written = WriteWholeFile(temporary, text, length);
    written = written && MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!written) DeleteFileW(temporary);
  }
  free(text);
  return written;
}

bool WriteSettingsChanges(const wchar_t* path, const SettingsChange* changes, size_t count) {
  char problem[kMaxOptionProblem];
  return WriteCheckedSettings(path, {changes, count, nullptr, 0}, 0, nullptr, problem, sizeof problem);
}
