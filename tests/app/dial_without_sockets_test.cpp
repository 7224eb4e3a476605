// DialNumber when Windows Sockets cannot make a socket: every open fails, and
// the search must still end at once, with everything released. A process of its
// own, because Windows Sockets stays unusable for the rest of it.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <stdio.h>

#include <atomic>
#include <thread>

#include "allocation_counter.h"
#include "app/dial_client.h"
#include "fake_dial_service_win.h"
#include "heap_walk_win.h"
#include "runtime/network/network.h"
#include "runtime/program_heap.h"

TEST(DialWithoutSockets, EndsAtOnceAndReleasesEverything) {
  // Undo every start of Windows Sockets in this process, the runtime's included.
  int started = 0;
  while (WSACleanup() == 0) started++;
  ASSERT_GE(started, 1);
  ASSERT_EQ(INVALID_SOCKET, socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  ASSERT_EQ(0u, OpenConnection(LITERAL(u"127.0.0.1"), kFirstServicePort, kModeUdp, 250));

  long strings = StringAllocations().Live();
  size_t heapBytes = HeapBytesInUse(programHeap);
  // A search that repeats a failing open without end would never return.
  std::atomic<bool> returned{false};
  std::thread watchdog([&returned] {
    for (int i = 0; i < 500 && !returned; i++) Sleep(10);
    if (!returned) {
      fprintf(stderr, "DialNumber has not returned after 5 s\n");
      ExitProcess(1);
    }
  });
  double begun = ClockSeconds();
  EXPECT_EQ(0, DialNumber(LITERAL(u"call:0555501230")));
  EXPECT_LT(ClockSeconds() - begun, 1.0);
  returned = true;
  watchdog.join();
  EXPECT_EQ(strings, StringAllocations().Live());
  EXPECT_EQ(heapBytes, HeapBytesInUse(programHeap));

  // Give the runtime back the start that its shutdown step will end.
  WSADATA data;
  for (int i = 0; i < started; i++) WSAStartup(MAKEWORD(1, 1), &data);
}
