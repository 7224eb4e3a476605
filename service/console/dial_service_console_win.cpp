// dial-service.exe: the service in a console, its log on standard output.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include "service/loop/dial_service_win.h"
#include "service/log/service_log_win.h"

int wmain(int argc, wchar_t** argv) {
  // Lines end in "\n" alone, also in a pipe: scripts on other systems read them.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  ServiceOptions options;
  char problem[kMaxOptionProblem];
  if (!ParseServiceOptions(argc, reinterpret_cast<const char16_t* const*>(argv), &options, problem)) {
    ReportProblem("%s", problem);
    return 2;
  }
  if (options.help) {
    char usage[4096];
    FormatUsage("dial-service", usage, sizeof usage);
    fputs(usage, stdout);
    return 0;
  }
  int port = 0;
  if (int failure = StartService(options, ChooseNumberSink(options.sink), &port)) return failure;
  printf("dial-service: listening on 127.0.0.1:%d\n", port);
  fflush(stdout);
  int result = ServeDialRequests(options);
  EndService(kFinishWaitMs);
  return result;
}
