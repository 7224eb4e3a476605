#include "service/sinks/command_runner_win.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "service/log/service_log_win.h"

// More than any dialer runs at once; when full, the oldest is let go unwatched.
static const size_t kWatchedLimit = 32;

struct WatchedProcess {
  HANDLE process;
  DWORD id;
};

static const CommandTemplate* preparedCommand;
static CommandTemplate parsedCommand;
static wchar_t programPath[kMaxCommandLine];
static char16_t commandLine[kMaxCommandLine];
static WatchedProcess watched[kWatchedLimit];
static size_t watchedCount;

static bool EndsWithIgnoringCase(const wchar_t* text, const wchar_t* ending) {
  size_t length = wcslen(text);
  size_t endingLength = wcslen(ending);
  return length >= endingLength && _wcsicmp(text + length - endingLength, ending) == 0;
}

bool PrepareDialCommand(const CommandTemplate* command) {
  const wchar_t* program = reinterpret_cast<const wchar_t*>(CommandWord(*command, 0));
  DWORD length = SearchPathW(nullptr, program, L".exe", kMaxCommandLine, programPath, nullptr);
  if (length == 0 || length >= kMaxCommandLine) {
    ReportProblemAbout("the --exec program ", program, " is not found");
    return false;
  }
  // Only real executables: Windows hands anything else (a batch file, also one
  // named with trailing dots or blanks) to cmd.exe, a shell after all.
  if (!EndsWithIgnoringCase(programPath, L".exe") && !EndsWithIgnoringCase(programPath, L".com")) {
    ReportProblemAbout("the --exec program ", program, " is not an .exe or .com program");
    return false;
  }
  preparedCommand = command;
  return true;
}

static void LogEnded(const WatchedProcess& process) {
  DWORD exitCode = 0;
  GetExitCodeProcess(process.process, &exitCode);
  LogLine("process %lu ended with exit code %lu", process.id, exitCode);
}

static void ForgetWatched(size_t index) {
  CloseHandle(watched[index].process);
  for (size_t i = index + 1; i < watchedCount; i++) watched[i - 1] = watched[i];
  watchedCount--;
}

void RunDialCommand(const char* number) {
  if (!preparedCommand) return;
  // A flood of commands must not start programs without bound.
  CheckDialCommands();
  if (watchedCount == kWatchedLimit) {
    LogLine("not started: %u started commands are still running", unsigned(kWatchedLimit));
    return;
  }
  size_t length = BuildCommandLine(*preparedCommand, number, commandLine, kMaxCommandLine);
  if (length == 0) {
    LogLine("not started: the command line for %s is longer than Windows allows", number);
    return;
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  // CreateProcessW may write into the command line, so it gets a buffer of its
  // own; the program is named apart, so the line's first word is not searched.
  if (!CreateProcessW(programPath, reinterpret_cast<wchar_t*>(commandLine), nullptr, nullptr, FALSE,
                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info)) {
    LogLine("not started: CreateProcessW failed with error %lu", GetLastError());
    return;
  }
  CloseHandle(info.hThread);
  char* logText = LogTextFromUtf16(commandLine, length);
  LogLine("started process %lu: %s", info.dwProcessId, logText ? logText : "(command line not shown)");
  free(logText);
  watched[watchedCount++] = WatchedProcess{info.hProcess, info.dwProcessId};
}

bool DialCommandsRunning() { return watchedCount > 0; }

void CheckDialCommands() {
  for (size_t i = 0; i < watchedCount;) {
    if (WaitForSingleObject(watched[i].process, 0) == WAIT_OBJECT_0) {
      LogEnded(watched[i]);
      ForgetWatched(i);
    } else {
      i++;
    }
  }
}

void FinishDialCommands(unsigned long timeoutMs) {
  DWORD start = GetTickCount();
  while (watchedCount > 0) {
    DWORD spent = GetTickCount() - start;
    if (spent >= timeoutMs) break;
    HANDLE handles[kWatchedLimit];
    for (size_t i = 0; i < watchedCount; i++) handles[i] = watched[i].process;
    DWORD waited = WaitForMultipleObjects(DWORD(watchedCount), handles, FALSE, timeoutMs - spent);
    if (waited == WAIT_TIMEOUT || waited == WAIT_FAILED) break;
    CheckDialCommands();
  }
  while (watchedCount > 0) {
    LogLine("process %lu still runs and is no longer watched", watched[0].id);
    ForgetWatched(0);
  }
}

static int PrepareProgramSink(const SinkOptions& options) {
  TemplateError error = ParseCommandTemplate(options.command, &parsedCommand);
  if (error != kTemplateParsed) {
    ReportProblem("the --exec command %s", DescribeTemplateError(error));
    return 2;
  }
  if (PrepareDialCommand(&parsedCommand)) return 0;
  FreeCommandTemplate(&parsedCommand);
  return 1;
}

static void SayNothing() {}

static void FinishProgramSink(unsigned long timeoutMs) {
  FinishDialCommands(timeoutMs);
  preparedCommand = nullptr;
  FreeCommandTemplate(&parsedCommand);
}

const NumberSink kProgramSink = {"program",          PrepareProgramSink, RunDialCommand, DialCommandsRunning,
                                 CheckDialCommands, FinishProgramSink,  SayNothing};
