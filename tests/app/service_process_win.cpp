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
