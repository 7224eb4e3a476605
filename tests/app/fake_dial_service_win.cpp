#include "fake_dial_service_win.h"

#include <windows.h>

#include <stdio.h>

ServiceBehaviour SilentService() { return ServiceBehaviour{}; }

ServiceBehaviour AnsweringService() { return ServiceBehaviour{{"pong"}, {"ok"}}; }

double ClockSeconds() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return double(now.QuadPart) / double(frequency.QuadPart);
}

static SOCKET BoundSocket(unsigned short port) {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return s;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

bool PortIsFree(unsigned short port) {
  SOCKET s = BoundSocket(port);
  if (s == INVALID_SOCKET) return false;
  closesocket(s);
  return true;
}

FakeServices::FakeServices() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
}

FakeServices::~FakeServices() {
  Stop();
  for (const Service& service : services_) closesocket(service.socket);
  WSACleanup();
}

bool FakeServices::Listen(int port, const ServiceBehaviour& behaviour) {
  SOCKET s = BoundSocket(static_cast<unsigned short>(port));
  if (s == INVALID_SOCKET) return false;
  services_.push_back(Service{port, s, behaviour});
  return true;
}

bool FakeServices::ListenRange(int first, int end, const ServiceBehaviour& behaviour) {
  bool all = true;
  for (int port = first; port < end; port++) all = Listen(port, behaviour) && all;
  return all;
}

void FakeServices::Start() {
  stopping_ = false;
  started_ = true;
  thread_ = std::thread([this] { Serve(); });
}

void FakeServices::Stop() {
  if (!started_) return;
  stopping_ = true;
  thread_.join();
  started_ = false;
}

std::vector<ReceivedDatagram> FakeServices::Received() const {
  std::lock_guard<std::mutex> hold(lock_);
  return received_;
}

std::vector<ReceivedDatagram> FakeServices::ReceivedAt(int port) const {
  std::vector<ReceivedDatagram> found;
  for (const ReceivedDatagram& datagram : Received())
    if (datagram.port == port) found.push_back(datagram);
  return found;
}

void FakeServices::Clear() {
  std::lock_guard<std::mutex> hold(lock_);
  received_.clear();
}

void FakeServices::Serve() {
  while (!stopping_) {
    fd_set readable;
    FD_ZERO(&readable);
    for (const Service& service : services_) FD_SET(service.socket, &readable);
    timeval wait = {0, 2000};
    if (select(0, &readable, nullptr, nullptr, &wait) <= 0) {
      // select fails at once on an empty set; do not spin.
      if (services_.empty()) Sleep(2);
      continue;
    }
    for (const Service& service : services_)
      if (FD_ISSET(service.socket, &readable)) ReceiveOne(service);
  }
}

void FakeServices::ReceiveOne(const Service& service) {
  static char buffer[65536];
  sockaddr_in sender = {};
  int senderLength = sizeof sender;
  int received = recvfrom(service.socket, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&sender),
                          &senderLength);
  // An ICMP refusal of an earlier answer (the dialer had gone) reads as an error.
  if (received < 0) return;
  double now = ClockSeconds();
  std::string bytes(buffer, size_t(received));
  {
    std::lock_guard<std::mutex> hold(lock_);
    received_.push_back(ReceivedDatagram{service.port, ntohs(sender.sin_port), bytes, now});
  }
  const std::vector<std::string>* answers = nullptr;
  if (bytes == "ping")
    answers = &service.behaviour.pingAnswers;
  else if (bytes.compare(0, 5, "dial ") == 0)
    answers = &service.behaviour.dialAnswers;
  if (!answers) return;
  for (const std::string& answer : *answers)
    sendto(service.socket, answer.data(), int(answer.size()), 0, reinterpret_cast<sockaddr*>(&sender),
           senderLength);
}
