// DialNumber called in the test process: whatever it takes (strings, the
// receive buffer, connection records and kept datagrams, sockets) it gives back.
#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "allocation_counter.h"
#include "app/dial_client.h"
#include "fake_dial_service_win.h"
#include "heap_walk_win.h"
#include "runtime/process/memory_blocks.h"
#include "runtime/program_heap.h"
#include "runtime/strings/string_functions.h"

namespace {
// The memory-block heap is private to its library: find the heap that owns a block.
HANDLE MemoryBlockHeap() {
  void* block = AllocateBlock(16, 0);
  HANDLE heaps[256];
  DWORD count = GetProcessHeaps(256, heaps);
  HANDLE owner = nullptr;
  for (DWORD i = 0; i < count && i < 256; i++)
    if (heaps[i] != programHeap && HeapValidate(heaps[i], 0, block)) owner = heaps[i];
  FreeBlock(block);
  return owner;
}

struct Holdings {
  long liveStrings;
  size_t programHeapBytes;
  size_t blockHeapBytes;
  size_t processHeapBytes;
};

Holdings Measure(HANDLE blockHeap) {
  return Holdings{StringAllocations().Live(), HeapBytesInUse(programHeap), HeapBytesInUse(blockHeap),
                  HeapBytesInUse(GetProcessHeap())};
}

// Runs DialNumber against `services` and checks that everything came back. The
// process heap (encoded text) is measured while the service thread is stopped,
// since Windows Sockets itself uses that heap while the thread works.
void DialAndExpectEverythingReleased(FakeServices* services, String number) {
  HANDLE blockHeap = MemoryBlockHeap();
  ASSERT_NE(nullptr, blockHeap);
  Holdings before = Measure(blockHeap);
  services->Start();
  EXPECT_EQ(0, DialNumber(number));
  services->Stop();
  Holdings after = Measure(blockHeap);
  EXPECT_EQ(before.liveStrings, after.liveStrings) << "managed strings";
  EXPECT_EQ(before.programHeapBytes, after.programHeapBytes) << "connection records, kept datagrams";
  EXPECT_EQ(before.blockHeapBytes, after.blockHeapBytes) << "the receive buffer";
  EXPECT_EQ(before.processHeapBytes, after.processHeapBytes) << "encoded text";

  std::set<unsigned short> senders;
  for (const ReceivedDatagram& datagram : services->Received()) senders.insert(datagram.senderPort);
  EXPECT_FALSE(senders.empty());
  for (unsigned short port : senders) EXPECT_TRUE(PortIsFree(port)) << "socket on local port " << port << " left open";
}

std::u16string Text(String s) { return std::u16string(s, size_t(StringLength(s))); }
}  // namespace

TEST(DialRelease, PortCheckSeesAnOpenSocket) {
  FakeServices services;
  ASSERT_TRUE(services.Listen(kFirstServicePort, SilentService()));
  SOCKET client = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in peer = {};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(kFirstServicePort);
  peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(4, sendto(client, "ping", 4, 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer));
  sockaddr_in local = {};
  int localLength = sizeof local;
  getsockname(client, reinterpret_cast<sockaddr*>(&local), &localLength);
  EXPECT_FALSE(PortIsFree(ntohs(local.sin_port)));
  closesocket(client);
  EXPECT_TRUE(PortIsFree(ntohs(local.sin_port)));
}

TEST(DialRelease, AfterADialAnswered) {
  String number = nullptr;
  AssignString(&number, ConcatStrings(LITERAL(u"call:0555"), LITERAL(u"501230")));
  FakeServices services;
  ASSERT_TRUE(services.Listen(kFirstServicePort, AnsweringService()));
  DialAndExpectEverythingReleased(&services, number);
  EXPECT_EQ(u"call:0555501230", Text(number)) << "the caller's string must stay as it was";
  std::vector<ReceivedDatagram> got = services.ReceivedAt(kFirstServicePort);
  ASSERT_EQ(2u, got.size());
  EXPECT_EQ("dial 0555501230", got[1].bytes);
  FreeString(number);
}

TEST(DialRelease, AfterRejectedAnswersAndAnUnansweredCommand) {
  // The accepted "pong" is the first 1024 of 2005 bytes: the rest is still kept
  // in the connection record when the connection is closed.
  FakeServices services;
  ASSERT_TRUE(services.Listen(kFirstServicePort, ServiceBehaviour{{"PONG", "pong "}, {}}));
  ASSERT_TRUE(services.Listen(kFirstServicePort + 1,
                              ServiceBehaviour{{std::string("pong\0", 5) + std::string(2000, 'z')}, {}}));
  double started = ClockSeconds();
  DialAndExpectEverythingReleased(&services, LITERAL(u"tel:0555501230"));
  EXPECT_GE(ClockSeconds() - started, 0.2 + 1.0 - 0.05) << "one silent port, then the full wait";
  std::vector<ReceivedDatagram> got = services.ReceivedAt(kFirstServicePort + 1);
  ASSERT_EQ(2u, got.size());
  EXPECT_EQ("dial 0555501230", got[1].bytes);
}

TEST(DialRelease, AfterASearchThatFoundNothing) {
  FakeServices services;
  ASSERT_TRUE(services.ListenRange(kFirstServicePort, kEndServicePort, SilentService()));
  DialAndExpectEverythingReleased(&services, LITERAL(u"0555501230"));
  EXPECT_EQ(20u, services.Received().size());
}
