// A stand-in for the program that dial-service --exec starts. It appends the
// words of its own command line, as CommandLineToArgvW splits it, one per line
// in UTF-8, and then a line "--", to the file named by its first argument, and
// exits with the number of words. So a test sees exactly which arguments a
// started program gets.
#include <windows.h>
#include <shellapi.h>

#include <string>

int main() {
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!words || count < 2) return 255;
  std::string text;
  for (int i = 0; i < count; i++) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, words[i], -1, nullptr, 0, nullptr, nullptr);
    std::string word(size_t(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, words[i], -1, &word[0], bytes, nullptr, nullptr);
    word.resize(size_t(bytes) - 1);
    text += word + "\n";
  }
  text += "--\n";
  HANDLE file = CreateFileW(words[1], FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 254;
  DWORD written = 0;
  BOOL wrote = WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
  CloseHandle(file);
  LocalFree(words);
  return wrote && written == text.size() ? count : 253;
}
