#include "service/sinks/last_call_win.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "service/http/digest_hash_win.h"
#include "service/log/service_log_win.h"

static bool LastCallPath(wchar_t* path, bool makeFolder) { return UserDataPath(L"last-call.txt", makeFolder, path); }

bool MakeCallId(char* id, size_t size) {
  char hex[33];
  if (size < sizeof "teldial-" + 32 || !RandomHex(16, hex)) return false;
  snprintf(id, size, "teldial-%s", hex);
  return true;
}

static bool IsIdCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

bool SaveLastCallId(const char* id) {
  wchar_t path[MAX_PATH], temporary[MAX_PATH + 32];
  if (!LastCallPath(path, true)) return false;
  // Named for this writer: the tray and a console may save at once.
  _snwprintf(temporary, MAX_PATH + 32, L"%ls.%lu.%llu.new", path, GetCurrentProcessId(),
             (unsigned long long)GetTickCount64());
  temporary[MAX_PATH + 31] = 0;
  HANDLE file = CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char line[kMaxCallId + 2];
  int length = snprintf(line, sizeof line, "%s\n", id);
  DWORD written = 0;
  bool saved = length > 0 && size_t(length) < sizeof line && WriteFile(file, line, DWORD(length), &written, nullptr) &&
               written == DWORD(length);
  CloseHandle(file);
  saved = saved && MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!saved) DeleteFileW(temporary);
  return saved;
}

bool LoadLastCallId(char* id) {
  wchar_t path[MAX_PATH];
  if (!LastCallPath(path, false)) return false;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char text[kMaxCallId + 2];
  DWORD got = 0;
  bool read = ReadFile(file, text, sizeof text, &got, nullptr) != 0;
  CloseHandle(file);
  size_t length = 0;
  while (read && length < got && IsIdCharacter(text[length])) length++;
  // Only what this file's writer writes: an id and its line end.
  if (!read || length == 0 || length > kMaxCallId || length + 1 != got || text[length] != '\n') return false;
  memcpy(id, text, length);
  id[length] = 0;
  return true;
}
