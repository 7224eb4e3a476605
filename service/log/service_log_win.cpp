#include "service/log/service_log_win.h"

#include <windows.h>
#include <shlobj.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "service/number/log_text.h"

// The HTTP worker logs too: a line is written whole under this lock.
static SRWLOCK logLock = SRWLOCK_INIT;
static HANDLE logFile = INVALID_HANDLE_VALUE;
static wchar_t logPath[MAX_PATH];
static wchar_t oldLogPath[MAX_PATH + 4];
static size_t logLimit;
static size_t logSize;
static char problemText[1024];

static HANDLE OpenLogFile() {
  HANDLE file = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  LARGE_INTEGER size = {};
  if (file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &size)) logSize = size_t(size.QuadPart);
  return file;
}

bool LogToFile(const wchar_t* path, size_t limitBytes) {
  if (wcslen(path) >= MAX_PATH) return false;
  wcscpy(logPath, path);
  wcscpy(oldLogPath, path);
  wcscat(oldLogPath, L".old");
  logLimit = limitBytes;
  logFile = OpenLogFile();
  return logFile != INVALID_HANDLE_VALUE;
}

// A line that would take the file beyond the limit goes into a fresh one; the
// full file stays as ".old" until the next turn.
static void WriteToFile(const char* text, size_t length) {
  if (logSize > 0 && logSize + length > logLimit) {
    CloseHandle(logFile);
    MoveFileExW(logPath, oldLogPath, MOVEFILE_REPLACE_EXISTING);
    logSize = 0;
    logFile = OpenLogFile();
    if (logFile == INVALID_HANDLE_VALUE) return;
  }
  DWORD written = 0;
  WriteFile(logFile, text, DWORD(length), &written, nullptr);
  logSize += written;
}

// Every line is escaped whole: a format's arguments may hold text from
// outside that was never passed through FormatTextForLog.
static void WriteLine(const char* format, va_list arguments) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char stamp[32];
  int stampLength = snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u ", now.wYear, now.wMonth,
                             now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
  va_list measure;
  va_copy(measure, arguments);
  int length = vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length < 0) return;
  char* text = static_cast<char*>(malloc(size_t(length) + 1));
  // Each byte becomes at most one \xNN; the stamp and "\n" go around it.
  size_t size = size_t(stampLength) + 4 * size_t(length) + 2;
  char* line = static_cast<char*>(malloc(size));
  if (text && line) {
    vsnprintf(text, size_t(length) + 1, format, arguments);
    memcpy(line, stamp, size_t(stampLength));
    size_t used = size_t(stampLength);
    used += EscapeLogLine(text, size_t(length), line + used, size - used - 1);
    line[used++] = '\n';
    if (logFile == INVALID_HANDLE_VALUE) {
      fwrite(line, 1, used, stdout);
      fflush(stdout);
    } else {
      WriteToFile(line, used);
    }
  }
  free(text);
  free(line);
}

void LogLine(const char* format, ...) {
  AcquireSRWLockExclusive(&logLock);
  va_list arguments;
  va_start(arguments, format);
  WriteLine(format, arguments);
  va_end(arguments);
  ReleaseSRWLockExclusive(&logLock);
}

void ReportProblem(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(problemText, sizeof problemText, format, arguments);
  va_end(arguments);
  if (logFile == INVALID_HANDLE_VALUE)
    fprintf(stderr, "dial-service: %s\n", problemText);
  else
    LogLine("%s", problemText);
}

void ReportProblemAbout(const char* before, const wchar_t* text, const char* after) {
  char* utf8 = LogTextFromUtf16(reinterpret_cast<const char16_t*>(text), wcslen(text));
  ReportProblem("%s%s%s", before, utf8 ? utf8 : "?", after);
  free(utf8);
}

const char* ReportedProblem() { return problemText; }

char* LogTextFromUtf16(const char16_t* text, size_t length) {
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(text);
  int bytes = length ? WideCharToMultiByte(CP_UTF8, 0, wide, int(length), nullptr, 0, nullptr, nullptr) : 0;
  char* utf8 = static_cast<char*>(malloc(size_t(bytes) + 1));
  if (!utf8) return nullptr;
  if (bytes) WideCharToMultiByte(CP_UTF8, 0, wide, int(length), utf8, bytes, nullptr, nullptr);
  for (int i = 0; i < bytes; i++)
    if ((unsigned char)utf8[i] < 0x20 || utf8[i] == 0x7F) utf8[i] = '?';
  utf8[bytes] = 0;
  return utf8;
}

bool UserDataPath(const wchar_t* name, bool makeFolder, wchar_t* path) {
  wchar_t folder[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", folder, MAX_PATH);
  if ((length == 0 || length >= MAX_PATH) && FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, folder)))
    return false;
  if (wcslen(folder) + wcslen(L"\\teldial\\") + wcslen(name) >= MAX_PATH) return false;
  wcscat(folder, L"\\teldial");
  if (makeFolder) SHCreateDirectoryExW(nullptr, folder, nullptr);
  _snwprintf(path, MAX_PATH, L"%ls\\%ls", folder, name);
  return true;
}
