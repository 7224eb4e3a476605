#pragma once
// The real dial-service.exe for end-to-end tests: started with a raw command
// line, its output read all along, and the helpers that read its log.
#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

std::wstring WindowsPath(const wchar_t* unixPath);
std::wstring DialServicePath();

// dial-service.exe with its output read by a thread of the test all along, so
// that a service that logs a lot never stalls on a full pipe.
class ServiceProcess {
 public:
  ServiceProcess() = default;
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;
  ~ServiceProcess() {
    DWORD exitCode = 0;
    if (process_) Finish(0, &exitCode);
  }

  // Wine, not the service, can lose the first datagram to a service started
  // on a port whose previous service was killed a moment before. Seen with
  // the 64-bit build: of 415 runs (kill -9, start again on 20000, teldial.exe
  // at once, loopback packets captured), in one the client's ping was refused
  // by the kernel (ICMP port unreachable) after the new service had printed
  // "listening on": no socket held the port although Wine's bind had
  // succeeded, and the service never saw the ping. The service binds once and
  // keeps its socket; on Windows a bind that succeeded is a bound port. A test
  // that restarts a service on the same port and needs its first datagram
  // should see a ping answered first.
  // program: a copy of dial-service.exe under another name, or the built one.
  // input: what its standard input (a pipe) holds before it ends; without, none.
  bool Start(const std::wstring& options, std::wstring program = DialServicePath(), const std::string* input = nullptr) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr, inputRead = nullptr, inputWrite = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    if (input && CreatePipe(&inputRead, &inputWrite, &inheritable, DWORD(input->size() + 4096)))
      SetHandleInformation(inputWrite, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputRead;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    std::wstring line = L"\"" + program + L"\" " + options;
    std::vector<wchar_t> text(line.begin(), line.end());
    text.push_back(0);
    PROCESS_INFORMATION info = {};
    BOOL started = CreateProcessW(program.c_str(), text.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                  nullptr, &startup, &info);
    CloseHandle(writeEnd);
    if (inputRead) CloseHandle(inputRead);
    if (inputWrite) {
      DWORD written = 0;
      if (started) WriteFile(inputWrite, input->data(), DWORD(input->size()), &written, nullptr);
      CloseHandle(inputWrite);
    }
    if (!started) {
      CloseHandle(readEnd);
      return false;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    reader_ = std::thread([this, readEnd] {
      char chunk[4096];
      DWORD got = 0;
      while (ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        std::lock_guard<std::mutex> hold(lock_);
        output_.append(chunk, got);
        changed_.notify_all();
      }
      CloseHandle(readEnd);
      std::lock_guard<std::mutex> hold(lock_);
      closed_ = true;
      changed_.notify_all();
    });
    return true;
  }

  // Whether the output holds text, waiting for it up to timeoutMs.
  bool WaitForText(const std::string& text, DWORD timeoutMs) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                             [&] { return output_.find(text) != std::string::npos || closed_; }) &&
           output_.find(text) != std::string::npos;
  }

  HANDLE Handle() const { return process_; }

  std::string Output() {
    std::lock_guard<std::mutex> hold(lock_);
    return output_;
  }

  std::string FirstLine(DWORD timeoutMs) {
    WaitForText("\n", timeoutMs);
    std::lock_guard<std::mutex> hold(lock_);
    return output_.substr(0, output_.find('\n'));
  }

  // Everything printed until the service ended (or was ended after timeoutMs).
  std::string Finish(DWORD timeoutMs, DWORD* exitCode) {
    if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) TerminateProcess(process_, 99);
    WaitForSingleObject(process_, 5000);
    GetExitCodeProcess(process_, exitCode);
    CloseHandle(process_);
    process_ = nullptr;
    // The pipe closes when the service and every process that holds its end have gone.
    if (reader_.joinable()) reader_.join();
    std::lock_guard<std::mutex> hold(lock_);
    return output_;
  }

 private:
  HANDLE process_ = nullptr;
  std::thread reader_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::string output_;
  bool closed_ = false;
};

class Client {
 public:
  Client() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    socket_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    DWORD waitMs = 2000;
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&waitMs), sizeof waitMs);
  }
  ~Client() {
    closesocket(socket_);
    WSACleanup();
  }
  void Send(int port, const std::string& bytes) {
    sockaddr_in peer = {};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(u_short(port));
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(socket_, bytes.data(), int(bytes.size()), 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
  }
  // The next answer, or "(none)" after 2 s.
  std::string Receive() {
    char buffer[65536];
    int received = recv(socket_, buffer, sizeof buffer, 0);
    return received < 0 ? "(none)" : std::string(buffer, size_t(received));
  }

 private:
  SOCKET socket_;
};

std::vector<std::string> Lines(const std::string& text);
// "2024-05-01 12:34:56.789 " and the rest of the line.
bool HasTimeStamp(const std::string& line);
// The lines of a service log without their time stamps, each checked to have one.
std::vector<std::string> LogEntries(const std::vector<std::string>& lines);
bool StartsWith(const std::string& text, const std::string& start);
size_t Count(const std::string& text, const std::string& part);
std::string Utf8(const std::wstring& text);
// The whole file, or "(missing)" when it cannot be opened.
std::string FileText(const std::wstring& path);
