#pragma once
// Fake dial services for the dial tests: plain UDP sockets on 127.0.0.1 that
// record every datagram (bytes, sender port, arrival time) and answer "ping"
// and "dial " commands as each test sets. One thread serves all sockets from
// Start until Stop or destruction.
#include <winsock2.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "test_strings.h"  // Printable, for failure messages

const int kFirstServicePort = 20000;
const int kEndServicePort = 20020;  // the first port the dialer must never touch

struct ReceivedDatagram {
  int port;                  // service port it arrived at
  unsigned short senderPort; // the dialer's socket
  std::string bytes;
  double seconds;            // arrival time on the ClockSeconds scale
};

// What a service sends back: every answer of the list, in order, to the sender.
struct ServiceBehaviour {
  std::vector<std::string> pingAnswers;  // for a datagram that is exactly "ping"
  std::vector<std::string> dialAnswers;  // for a datagram that begins with "dial "
};

ServiceBehaviour SilentService();     // records, never answers
ServiceBehaviour AnsweringService();  // "pong" and "ok"

double ClockSeconds();  // QueryPerformanceCounter in seconds

class FakeServices {
 public:
  FakeServices();
  ~FakeServices();
  FakeServices(const FakeServices&) = delete;
  FakeServices& operator=(const FakeServices&) = delete;

  // Binds 127.0.0.1:port; call before Start. False when the port is taken.
  bool Listen(int port, const ServiceBehaviour& behaviour);
  // Listen on every port of [first, end) with the same behaviour.
  bool ListenRange(int first, int end, const ServiceBehaviour& behaviour);
  void Start();
  void Stop();

  std::vector<ReceivedDatagram> Received() const;  // in arrival order
  std::vector<ReceivedDatagram> ReceivedAt(int port) const;
  void Clear();

 private:
  struct Service {
    int port;
    SOCKET socket;
    ServiceBehaviour behaviour;
  };
  void Serve();
  void ReceiveOne(const Service& service);

  std::vector<Service> services_;
  std::vector<ReceivedDatagram> received_;
  mutable std::mutex lock_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  bool started_ = false;
};

// Whether a new UDP socket can be bound to 127.0.0.1:port, that is whether no
// socket of this or another process still holds the port.
bool PortIsFree(unsigned short port);

