#include "service_process_win.h"

#include <gtest/gtest.h>

#ifndef DIAL_SERVICE_EXE
#error "DIAL_SERVICE_EXE must name the built dial-service.exe"
#endif

std::wstring DialServicePath() { return WindowsPath(DIAL_SERVICE_EXE); }

std::wstring WindowsPath(const wchar_t* unixPath) {
  std::wstring path = std::wstring(L"Z:") + unixPath;
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// "2024-05-01 12:34:56.789 " and the rest of the line.
bool HasTimeStamp(const std::string& line) {
  if (line.size() < 24) return false;
  const char* pattern = "dddd-dd-dd dd:dd:dd.ddd ";
  for (size_t i = 0; i < 24; i++)
    if (pattern[i] == 'd' ? !isdigit((unsigned char)line[i]) : line[i] != pattern[i]) return false;
  return true;
}

// The lines of a service log without their time stamps, each checked to have one.
std::vector<std::string> LogEntries(const std::vector<std::string>& lines) {
  std::vector<std::string> entries;
  for (const std::string& line : lines) {
    EXPECT_TRUE(HasTimeStamp(line)) << line.substr(0, 80);
    entries.push_back(line.size() < 24 ? line : line.substr(24));
  }
  return entries;
}

bool StartsWith(const std::string& text, const std::string& start) { return text.compare(0, start.size(), start) == 0; }

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) count++;
  return count;
}

std::string Utf8(const std::wstring& text) {
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string result(size_t(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &result[0], bytes, nullptr, nullptr);
  result.resize(size_t(bytes) - 1);
  return result;
}

std::string FileText(const std::wstring& path) {
  // Shared every way: a service may be writing, or renaming, its log meanwhile.
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "(missing)";
  std::string text;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
  CloseHandle(file);
  return text;
}
