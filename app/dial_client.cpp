#include "dial_client.h"

#include "../runtime/network/network.h"
#include "../runtime/process/memory_blocks.h"
#include "../runtime/strings/string_functions.h"

static const int32_t kFirstPort = 20000;
static const int32_t kEndPort = 20020;  // not tried
static const int32_t kOpenTimeout = 250;
static const int32_t kPollsPerPort = 20;
static const int32_t kPollsForAnswer = 100;
static const int32_t kPauseMilliseconds = 10;
static const int32_t kReceiveBufferSize = 1024;
static const int32_t kReplyFormat = kFormatUtf8 | kFormatByteLength;

// Polls until a datagram is taken in and read, or `polls` empty polls have each
// been followed by a pause. Datagrams of no bytes, and those `accept` turns down,
// cost nothing. Returns whether one was accepted. The pauses end on 10 ms marks
// counted from the first poll, so the wait lasts `polls` x 10 ms however much
// each single pause overruns.
template <typename Accept>
static bool AwaitDatagram(ConnectionHandle connection, void* buffer, int32_t polls, Accept accept) {
  PauseMarks marks;
  StartPauseMarks(&marks, kPauseMilliseconds);
  while (polls != 0) {
    if (PollConnectionEvent(connection) == kEventData) {
      int32_t received = ReceiveData(connection, buffer, int32_t(BlockSize(buffer)));
      if (received > 0 && accept(received)) return true;
    } else {
      SleepUntilNextMark(&marks);
      polls--;
    }
  }
  return false;
}

int32_t DialNumber(String number) {
  String reply = nullptr;
  CopyStringParameter(&number);

  if (FirstCharCode(number) > u'9' && FindSubstring(number, LITERAL(u":")) > 0) {
    AssignString(&number, ExtractField(number, 2, LITERAL(u":")));
  }

  void* buffer = AllocateBlock(kReceiveBufferSize, kBlockNoClear);
  if (buffer) {
    ConnectionHandle connection = 0;
    int32_t port = kFirstPort;
    while (port != kEndPort) {
      connection = OpenConnection(LITERAL(u"127.0.0.1"), port, kModeUdp, kOpenTimeout);
      // An open fails only when no socket can be made at all, and then it fails
      // for every port: move on rather than try the same port again and again.
      if (!connection) {
        port++;
        continue;
      }
      SendText(connection, LITERAL(u"ping"));
      bool found = AwaitDatagram(connection, buffer, kPollsPerPort, [&](int32_t received) {
        AssignString(&reply, DecodeText(buffer, received, kReplyFormat));
        return StringsEqual(LITERAL(u"pong"), reply) != 0;
      });
      if (found) break;
      CloseConnection(connection);
      connection = 0;
      port++;
    }

    if (port != kEndPort) {
      String command = ConcatStrings(LITERAL(u"dial "), number);
      SendText(connection, command);
      FreeTempString(command);
      AwaitDatagram(connection, buffer, kPollsForAnswer, [](int32_t) { return true; });
      CloseConnection(connection);
    }
    FreeBlock(buffer);
  }

  FreeString(number);
  FreeString(reply);
  return 0;
}
