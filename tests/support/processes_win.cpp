#include "processes_win.h"

#include <aclapi.h>
#include <psapi.h>
#include <sddl.h>
#include <wctype.h>

#include <vector>

#ifndef TELDIAL_EXE
#error "TELDIAL_EXE must name the built teldial.exe"
#endif

static std::wstring WindowsPath(std::wstring path) {
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

std::wstring TeldialPath() { return WindowsPath(L"Z:" TELDIAL_EXE); }

std::wstring FreshTempFolder(const wchar_t* name) {
  static int folders;
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  // Process ids come round again from run to run, so a name may be taken already.
  for (;;) {
    std::wstring folder = std::wstring(temp) + name + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                          std::to_wstring(++folders);
    if (CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() != ERROR_ALREADY_EXISTS) return folder;
  }
}

std::wstring CopyOfTeldial(const wchar_t* fileName) {
  std::wstring folder = FreshTempFolder(L"teldial-copy");
  std::wstring copy = folder + L"\\" + fileName;
  if (!CopyFileW(TeldialPath().c_str(), copy.c_str(), FALSE)) return std::wstring();
  return copy;
}

// Every started program is in a job that ends with the test process, so a
// program left running by a failed test cannot outlive the run.
static HANDLE ProgramsJob() {
  static HANDLE job;
  if (!job) {
    job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }
  return job;
}

bool StartProgram(const std::wstring& program, const std::wstring& commandLine, ProgramRun* run) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(0);
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return false;
  AssignProcessToJobObject(ProgramsJob(), info.hProcess);
  CloseHandle(info.hThread);
  run->process = info.hProcess;
  run->processId = info.dwProcessId;
  return true;
}

long WaitForExit(ProgramRun* run, DWORD timeoutMs) {
  long result = -1;
  if (WaitForSingleObject(run->process, timeoutMs) == WAIT_OBJECT_0) {
    DWORD code = 0;
    GetExitCodeProcess(run->process, &code);
    result = long(code);
  } else {
    TerminateProcess(run->process, 1);
    WaitForSingleObject(run->process, 5000);
  }
  CloseHandle(run->process);
  run->process = nullptr;
  return result;
}

namespace {
struct BoxSearch {
  DWORD processId;
  HWND found;
};
}  // namespace

static BOOL CALLBACK VisitWindow(HWND window, LPARAM parameter) {
  BoxSearch* search = reinterpret_cast<BoxSearch*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  if (owner == search->processId && wcscmp(className, L"#32770") == 0 && IsWindowVisible(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

std::vector<std::wstring> LoadedModules(HANDLE process) {
  std::vector<HMODULE> modules(512);
  DWORD bytes = 0;
  if (!EnumProcessModulesEx(process, modules.data(), DWORD(modules.size() * sizeof(HMODULE)), &bytes,
                            LIST_MODULES_ALL))
    return {};
  modules.resize(bytes / sizeof(HMODULE) < modules.size() ? bytes / sizeof(HMODULE) : modules.size());
  std::vector<std::wstring> names;
  for (HMODULE module : modules) {
    wchar_t name[MAX_PATH];
    DWORD length = GetModuleBaseNameW(process, module, name, MAX_PATH);
    if (length == 0) continue;
    std::wstring lower(name, length);
    for (wchar_t& c : lower) c = wchar_t(towlower(c));
    names.push_back(lower);
  }
  return names;
}

HWND FindMessageBox(DWORD processId, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    BoxSearch search = {processId, nullptr};
    EnumWindows(VisitWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
    if (GetTickCount() - start > timeoutMs) return nullptr;
    Sleep(20);
  }
}

std::wstring WindowText(HWND window) {
  // WM_GETTEXT is marshalled across processes for standard controls.
  // A hung program must fail the test, not stall it.
  const UINT kWait = 5000;
  DWORD_PTR length = 0;
  SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kWait, &length);
  std::vector<wchar_t> text(size_t(length) + 2, 0);
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                      kWait, &copied);
  return std::wstring(text.data(), size_t(copied));
}

std::wstring MessageBoxText(HWND box) {
  const int kMessageTextId = 0xFFFF;
  HWND text = GetDlgItem(box, kMessageTextId);
  return text ? WindowText(text) : std::wstring();
}

void PressOk(HWND box) {
  HWND button = GetDlgItem(box, IDOK);
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

bool SetAccessList(const std::wstring& path, const std::wstring& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
    return false;
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  DWORD error = SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                      DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                      nullptr, dacl, nullptr);
  LocalFree(descriptor);
  return error == ERROR_SUCCESS;
}
