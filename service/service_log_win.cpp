#include "service_log_win.h"

#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include "dial_requests.h"

// The HTTP worker logs too: a line is written whole under this lock.
static SRWLOCK logLock = SRWLOCK_INIT;

void LogLine(const char* format, ...) {
  AcquireSRWLockExclusive(&logLock);
  SYSTEMTIME now;
  GetLocalTime(&now);
  printf("%04u-%02u-%02u %02u:%02u:%02u.%03u ", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
         now.wSecond, now.wMilliseconds);
  va_list arguments;
  va_start(arguments, format);
  vprintf(format, arguments);
  va_end(arguments);
  printf("\n");
  fflush(stdout);
  ReleaseSRWLockExclusive(&logLock);
}

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

void PrintProblemAbout(const char* before, const wchar_t* text, const char* after) {
  size_t length = 0;
  while (text[length]) length++;
  char* utf8 = LogTextFromUtf16(reinterpret_cast<const char16_t*>(text), length);
  fprintf(stderr, "dial-service: %s%s%s\n", before, utf8 ? utf8 : "?", after);
  free(utf8);
}
