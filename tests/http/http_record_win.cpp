#include "http_record_win.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include "processes_win.h"
#include "service_process_win.h"

std::string ReadWholeFile(const std::wstring& path) {
  std::string text;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
  CloseHandle(file);
  return text;
}

// The test server appends to this file, named by the driver script.
static std::string ReadRecordFile() {
  wchar_t unixPath[1024];
  DWORD length = GetEnvironmentVariableW(L"HTTP_TEST_RECORD", unixPath, 1024);
  if (length == 0 || length >= 1024) return "";
  return ReadWholeFile(WindowsPath(unixPath));
}

Record::Record() : start_(ReadRecordFile().size()) {}

std::vector<Recorded> Record::Requests() {
  std::string text = ReadRecordFile().substr(start_);
  std::vector<Recorded> requests;
  connections_.clear();
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) break;
    char mode[64] = {}, auth[64] = {};
    Recorded request = {};
    size_t length = 0;
    if (sscanf(text.substr(at, end - at).c_str(), "=== connection port=%d", &request.port) == 1) {
      connections_.push_back(request.port);
      at = end + 1;
      continue;
    }
    if (sscanf(text.substr(at, end - at).c_str(), "=== port=%d mode=%63s answer=%d auth=%63s length=%zu",
               &request.port, mode, &request.answer, auth, &length) != 5 ||
        end + 1 + length > text.size())
      break;
    request.auth = auth;
    request.raw = text.substr(end + 1, length);
    requests.push_back(request);
    at = end + 1 + length + 1;
  }
  return requests;
}

size_t Record::Connections(int port) {
  Requests();
  size_t count = 0;
  for (int accepted : connections_) count += accepted == port;
  return count;
}

std::vector<Recorded> Record::Await(size_t count, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  std::vector<Recorded> requests = Requests();
  while (requests.size() < count && GetTickCount() - start < timeoutMs) {
    Sleep(50);
    requests = Requests();
  }
  return requests;
}

std::string RequestLine(const Recorded& request) { return request.raw.substr(0, request.raw.find("\r\n")); }

std::string Header(const Recorded& request, const std::string& name) {
  std::string head = request.raw.substr(0, request.raw.find("\r\n\r\n") + 2);
  size_t at = head.find("\r\n" + name + ": ");
  if (at == std::string::npos) return "(none)";
  at += 4 + name.size();
  return head.substr(at, head.find("\r\n", at) - at);
}

std::string Body(const Recorded& request) { return request.raw.substr(request.raw.find("\r\n\r\n") + 4); }

long Click(const std::wstring& argument) {
  ProgramRun run;
  if (!StartProgram(TeldialPath(), L"\"" + TeldialPath() + L"\" \"" + argument + L"\"", &run)) return -2;
  return WaitForExit(&run, 20000);
}

std::wstring Port(int port) { return std::to_wstring(port); }

std::string ServeTheExampleClick(ServiceProcess* service) {
  EXPECT_EQ("dial-service: listening on 127.0.0.1:20000", service->FirstLine(10000));
  EXPECT_EQ(0, Click(L"tel:+49%205555%200123-0"));
  DWORD exitCode = 0;
  std::string output = service->Finish(20000, &exitCode);
  EXPECT_EQ(0u, exitCode) << output;
  return output;
}

std::string RunDialService(const std::wstring& options, DWORD* exitCode, const std::string* input) {
  ServiceProcess service;
  if (!service.Start(options, DialServicePath(), input)) return "(not started)";
  return service.Finish(30000, exitCode);
}
