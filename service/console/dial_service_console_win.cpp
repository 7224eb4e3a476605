// dial-service.exe: the service in a console, its log on standard output; and
// the helpers around it: --show-request and --test-call for one number,
// --hang-up for the phone's current call, --store-password for the settings
// file.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "service/log/service_log_win.h"
#include "service/loop/dial_service_win.h"
#include "service/number/dialing_rules.h"
#include "service/settings/desk_names_win.h"
#include "service/settings/settings_win.h"
#include "service/sinks/command_template.h"
#include "service/sinks/http_requester_win.h"
#include "service/sinks/request_preview.h"

// Longer than any password a phone's web page takes.
static const DWORD kMaxPassword = 1024;
static const size_t kMaxProtected = 8192;
static const size_t kMaxPreview = 16384;

static bool HasArgument(int argc, wchar_t** argv, const wchar_t* option) {
  for (int i = 1; i < argc; i++)
    if (wcscmp(argv[i], option) == 0) return true;
  return false;
}

// NUMBER as the loop would turn a "dial NUMBER" into what is dialled; false
// with the reason given when nothing dialable is left.
static bool DialledNumber(const ServiceOptions& options, const char16_t* text, char* dialled) {
  NumberVerdict verdict = DialTypedNumber(options.rules, text, dialled);
  if (verdict == kNumberAccepted) return true;
  ReportProblem("the number cannot be dialled: %s", DescribeNumberVerdict(verdict));
  return false;
}

static int ShowCommandLine(const char16_t* commandTemplate, const char* dialled) {
  CommandTemplate command;
  TemplateError error = ParseCommandTemplate(commandTemplate, &command);
  if (error != kTemplateParsed) {
    ReportProblem("the --exec command %s", DescribeTemplateError(error));
    return 2;
  }
  static char16_t line[kMaxCommandLine];
  size_t length = BuildCommandLine(command, dialled, line, kMaxCommandLine);
  FreeCommandTemplate(&command);
  char* text = length ? LogTextFromUtf16(line, length) : nullptr;
  if (!text) {
    ReportProblem("the command line for %s is longer than Windows allows", dialled);
    return 1;
  }
  printf("start %s\n", text);
  free(text);
  return 0;
}

static int ShowRequest(const ServiceOptions& options) {
  char dialled[kMaxDialledLength + 1];
  if (!DialledNumber(options, options.showRequest, dialled)) return 1;
  if (options.sink.command) return ShowCommandLine(options.sink.command, dialled);
  if (!options.sink.http.url) {
    printf("numbers are only logged: nothing is requested for %s\n", dialled);
    return 0;
  }
  static char preview[kMaxPreview];
  if (FormatHttpRequestPreview(options.sink.http, dialled, options.showSecrets, preview, sizeof preview) == SIZE_MAX) {
    ReportProblem("the request for %s is too long to show", dialled);
    return 1;
  }
  fputs(preview, stdout);
  return 0;
}

// One request now, on a requester of its own (null: problem says why): the
// number dialled, or the call ended when dialled is null. The outcome line is
// printed; 0 on a 2xx answer, 1 otherwise, 2 when no request could be made.
static int AskPhoneOnce(HttpRequester* requester, const char* problem, const char* dialled) {
  if (!requester) {
    ReportProblem("%s", problem);
    return 2;
  }
  char outcome[1024];
  bool accepted = dialled ? RequestDialledNumber(requester, dialled, outcome, sizeof outcome)
                          : RequestHangUp(requester, outcome, sizeof outcome);
  CloseHttpRequester(requester);
  printf("%s\n", outcome);
  return accepted ? 0 : 1;
}

static int TestCall(const ServiceOptions& options) {
  char dialled[kMaxDialledLength + 1];
  if (!DialledNumber(options, options.testCall, dialled)) return 1;
  if (options.sink.command) {
    // Started once, as a click would; its start and exit code go to the log.
    if (int failure = kProgramSink.prepare(options.sink)) return failure;
    kProgramSink.deliver(dialled);
    kProgramSink.finish(kFinishWaitMs);
    return 0;
  }
  if (!options.sink.http.url) {
    ReportProblem("numbers are only logged, so there is nothing to call (set --phone, --http or --exec)");
    return 1;
  }
  char problem[kMaxOptionProblem];
  return AskPhoneOnce(OpenHttpRequester(options.sink.http, problem, sizeof problem), problem, dialled);
}

static int HangUp(const ServiceOptions& options) {
  if (options.sink.command) {
    ReportProblem("numbers go to a program (--exec), which teldial cannot ask to hang up");
    return 1;
  }
  if (!options.sink.http.url) {
    ReportProblem("numbers are only logged, so there is no call to end (set --phone, or --http with --http-hang-up)");
    return 1;
  }
  if (!options.sink.http.hangUp.url) {
    ReportProblem("the --http request has no --http-hang-up URL, so there is no way to hang up");
    return 1;
  }
  char problem[kMaxOptionProblem];
  return AskPhoneOnce(OpenHangUpRequester(options.sink.http, problem, sizeof problem), problem, nullptr);
}

// One line from a pipe or a file, as UTF-8; the line end is dropped.
static bool ReadPipedLine(HANDLE input, wchar_t* password, DWORD size) {
  char line[3 * kMaxPassword];
  DWORD used = 0;
  for (DWORD got = 0; used < sizeof line - 1 && ReadFile(input, line + used, 1, &got, nullptr) && got == 1;) {
    if (line[used] == '\n') break;
    used++;
  }
  while (used > 0 && line[used - 1] == '\r') used--;
  int characters = used ? MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, line, int(used), password, int(size) - 1)
                        : 0;
  SecureZeroMemory(line, sizeof line);
  if (characters <= 0) return false;
  password[characters] = 0;
  return true;
}

// Typed on a console without being shown.
static bool ReadTypedLine(HANDLE input, DWORD mode, wchar_t* password, DWORD size) {
  fputs("Password (not shown): ", stderr);
  fflush(stderr);
  SetConsoleMode(input, (mode | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~DWORD(ENABLE_ECHO_INPUT));
  DWORD got = 0;
  bool read = ReadConsoleW(input, password, size - 1, &got, nullptr) != 0;
  SetConsoleMode(input, mode);
  fputs("\n", stderr);
  while (got > 0 && (password[got - 1] == L'\n' || password[got - 1] == L'\r')) got--;
  password[got] = 0;
  return read && got > 0;
}

static int StorePassword(int argc, wchar_t** argv) {
  ServiceOptions options;
  DeskNames names;
  ReadDeskNames(&names);
  char problem[kMaxOptionProblem];
  if (!ParseServiceOptions(argc, reinterpret_cast<const char16_t* const*>(argv), &options, problem, nullptr, &names)) {
    ReportProblem("%s", problem);
    return 2;
  }
  static wchar_t path[kMaxSettingsPath];
  if (options.settingsFile) {
    if (wcslen(reinterpret_cast<const wchar_t*>(options.settingsFile)) >= kMaxSettingsPath) return 2;
    wcscpy(path, reinterpret_cast<const wchar_t*>(options.settingsFile));
  } else if (!UserSettingsPath(path, kMaxSettingsPath)) {
    ReportProblem("the folder for the user's settings is not known");
    return 1;
  }
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  static wchar_t password[kMaxPassword];
  bool read = GetConsoleMode(input, &mode) ? ReadTypedLine(input, mode, password, kMaxPassword)
                                           : ReadPipedLine(input, password, kMaxPassword);
  static char protectedText[kMaxProtected];
  bool sealed = read && ProtectPassword(password, protectedText, sizeof protectedText);
  SecureZeroMemory(password, sizeof password);
  if (!read) {
    ReportProblem("no password was given on standard input (one line of UTF-8 text)");
    return 1;
  }
  if (!sealed) {
    ReportProblem("the password cannot be protected for this user");
    return 1;
  }
  static char16_t value[kMaxProtected];
  for (size_t i = 0; i == 0 || protectedText[i - 1]; i++) value[i] = char16_t(protectedText[i]);
  const char16_t* values[] = {value};
  const SettingsChange changes[] = {{u"http-password-protected", values, 1}, {u"http-password", nullptr, 0}};
  char* shown = LogTextFromUtf16(reinterpret_cast<const char16_t*>(path), wcslen(path));
  bool written = WriteSettingsChanges(path, changes, 2);
  if (written)
    printf("dial-service: the password is stored, protected for this user, in %s\n", shown ? shown : "?");
  else
    ReportProblem("the settings file %s cannot be written", shown ? shown : "?");
  free(shown);
  return written ? 0 : 1;
}

static void LogMachineNote(const char* line) { LogLine("%s", line); }
static void ReportMachineNote(const char* line) { fprintf(stderr, "dial-service: %s\n", line); }

static int Serve(const ServiceOptions& options) {
  int port = 0;
  if (int failure = StartService(options, ChooseNumberSink(options.sink), &port)) return failure;
  printf("dial-service: listening on 127.0.0.1:%d\n", port);
  fflush(stdout);
  int result = ServeDialRequests(options);
  EndService(kFinishWaitMs);
  return result;
}

int wmain(int argc, wchar_t** argv) {
  // Lines end in "\n" alone, also in a pipe: scripts on other systems read them.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  if (HasArgument(argc, argv, L"--store-password")) return StorePassword(argc, argv);
  char problem[1024];
  int exitCode = 0;
  LoadedOptions* loaded = LoadServiceOptions(argc, argv, problem, sizeof problem, &exitCode);
  if (!loaded) {
    ReportProblem("%s", problem);
    return exitCode;
  }
  const ServiceOptions& options = loaded->options;
  // Serving, they belong in the log; otherwise beside what is shown.
  bool serving = !options.help && !options.showRequest && !options.testCall && !options.hangUp;
  ForEachMachineNote(loaded, serving ? LogMachineNote : ReportMachineNote);
  int result = 0;
  if (options.help) {
    static char usage[8192];
    FormatUsage("dial-service", usage, sizeof usage);
    fputs(usage, stdout);
  } else if (options.showRequest) {
    result = ShowRequest(options);
  } else if (options.testCall) {
    result = TestCall(options);
  } else if (options.hangUp) {
    result = HangUp(options);
  } else {
    result = Serve(options);
  }
  FreeLoadedOptions(loaded);
  return result;
}
