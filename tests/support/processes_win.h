#pragma once
// Real processes for end-to-end tests: start a program with an exact raw command
// line, find and read its message box, press its OK button, collect its exit code.
#include <windows.h>

#include <string>
#include <vector>

struct ProgramRun {
  HANDLE process = nullptr;
  DWORD processId = 0;
};

// The built teldial.exe, or a copy of it under another file name in a fresh
// folder (the copy is what the usage text names).
std::wstring TeldialPath();
// A new empty folder under the temporary folder, named after `name`, this
// process and a serial number.
std::wstring FreshTempFolder(const wchar_t* name);
std::wstring CopyOfTeldial(const wchar_t* fileName);
// Sets the DACL written in SDDL ("D:P(A;;FA;;;SY)...") as the file's own.
bool SetAccessList(const std::wstring& path, const std::wstring& sddl);

// commandLine is handed to CreateProcessW unchanged.
bool StartProgram(const std::wstring& program, const std::wstring& commandLine, ProgramRun* run);
// The exit code, or -1 when the process had to be killed after timeoutMs.
long WaitForExit(ProgramRun* run, DWORD timeoutMs);

// The file names of the modules loaded in the process, in lower case; empty
// when they cannot be read.
std::vector<std::wstring> LoadedModules(HANDLE process);

// The first message box (dialog class #32770) of the process, or null after timeoutMs.
HWND FindMessageBox(DWORD processId, DWORD timeoutMs);
std::wstring WindowText(HWND window);
std::wstring MessageBoxText(HWND box);
void PressOk(HWND box);
