#include "service/settings/settings_win.h"

#include <windows.h>
#include <shlobj.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "service/number/service_text.h"

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

// The whole file, malloc'd (with a 0 after it), or why not.
static FileRead ReadWholeFile(const wchar_t* path, char** text, DWORD* length) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kFileMissing : kFileUnreadable;
  }
  LARGE_INTEGER size = {};
  *text = nullptr;
  if (GetFileSizeEx(file, &size) && size.QuadPart <= kMaxSettingsBytes)
    *text = static_cast<char*>(malloc(size_t(size.QuadPart) + 1));
  DWORD got = 0;
  bool read = *text && ReadFile(file, *text, DWORD(size.QuadPart), &got, nullptr) && got == DWORD(size.QuadPart);
  CloseHandle(file);
  if (!read) {
    free(*text);
    *text = nullptr;
    return kFileUnreadable;
  }
  (*text)[got] = 0;
  *length = got;
  return kFileRead;
}

// Reads one layer's file into *file; a missing file leaves path "" (when
// optional) and is no error. ReadSettingsText's "line N: ..." becomes "PATH:N: ...".
static bool ReadLayer(wchar_t* path, bool optional, SettingsFile* file, char* problem, size_t size, int* exitCode) {
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
  bool parsed = ReadSettingsText(text, length, file, fault, sizeof fault);
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
                       int* exitCode) {
  const wchar_t* settingsFile = nullptr;
  bool noSettings = false;
  FindUserLayer(argc, argv, &settingsFile, &noSettings);
  if (noSettings) return true;
  if (MachineSettingsPath(loaded->machinePath, kMaxSettingsPath) &&
      !ReadLayer(loaded->machinePath, true, &loaded->machine, problem, size, exitCode))
    return false;
  if (settingsFile) {
    if (wcslen(settingsFile) >= kMaxSettingsPath) {
      RefuseWith(problem, size, "the --settings path is too long");
      *exitCode = 2;
      return false;
    }
    wcscpy(loaded->userPath, settingsFile);
    return ReadLayer(loaded->userPath, false, &loaded->user, problem, size, exitCode);
  }
  return !UserSettingsPath(loaded->userPath, kMaxSettingsPath) ||
         ReadLayer(loaded->userPath, true, &loaded->user, problem, size, exitCode);
}

static bool ParseLayers(LoadedOptions* loaded, int argc, const wchar_t* const* argv, char* problem, size_t size) {
  const SettingsFile* machine = loaded->machinePath[0] ? &loaded->machine : nullptr;
  const SettingsFile* user = loaded->userPath[0] ? &loaded->user : nullptr;
  if (!MergeOptionLayers(machine, Text16(loaded->machinePath), user, Text16(loaded->userPath), argc,
                         reinterpret_cast<const char16_t* const*>(argv), &loaded->merged, problem, size))
    return false;
  char fault[kMaxOptionProblem];
  int faultIndex = 0;
  if (ParseServiceOptions(loaded->merged.argc, loaded->merged.argv, &loaded->options, fault, &faultIndex)) return true;
  const OptionOrigin* origin = faultIndex > 0 ? &loaded->merged.origins[faultIndex] : nullptr;
  if (origin && origin->path) {
    char shown[3 * kMaxSettingsPath];
    Utf8Path(reinterpret_cast<const wchar_t*>(origin->path), shown, sizeof shown);
    RefuseWith(problem, size, "%s:%u: %s", shown, origin->line, fault);
  } else {
    RefuseWith(problem, size, "%s", fault);
  }
  return false;
}

LoadedOptions* LoadServiceOptions(int argc, const wchar_t* const* argv, char* problem, size_t size, int* exitCode) {
  LoadedOptions* loaded = static_cast<LoadedOptions*>(calloc(1, sizeof(LoadedOptions)));
  if (!loaded) {
    RefuseWith(problem, size, "out of memory");
    *exitCode = 1;
    return nullptr;
  }
  *exitCode = 2;
  if (!ReadLayers(loaded, argc, argv, problem, size, exitCode) || !ParseLayers(loaded, argc, argv, problem, size)) {
    FreeLoadedOptions(loaded);
    return nullptr;
  }
  return loaded;
}

void FreeLoadedOptions(LoadedOptions* loaded) {
  if (!loaded) return;
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

bool WriteSettingsChanges(const wchar_t* path, const SettingsChange* changes, size_t count) {
  char* old = nullptr;
  DWORD oldLength = 0;
  FileRead read = ReadWholeFile(path, &old, &oldLength);
  if (read == kFileUnreadable) return false;
  size_t length = 0;
  char* text = UpdateSettingsText(read == kFileRead ? old : "", oldLength, changes, count, &length);
  free(old);
  wchar_t temporary[kMaxSettingsPath + 8];
  bool written = text && wcslen(path) < kMaxSettingsPath && MakeFolderOf(path);
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
