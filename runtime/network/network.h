#pragma once
// Client connections over Windows Sockets: UDP and TCP, IPv4 and IPv6.
//
// A connection handle is the address of a connection record on the program
// heap; 0 means the open failed. Bit 0 of the record's first word tells UDP
// (set) from TCP (clear). Nothing here shows a message, raises or logs: failures
// are a 0 handle, event 0 or 4, or the platform's -1 passed through by the send
// and receive operations. String arguments are never released.
//
// A UDP connection is an unconnected, non-blocking datagram socket that remembers
// one peer: sends go to that peer, and every datagram that reaches the local
// port is received, whoever sent it. The poll takes one datagram in and keeps it
// in the record; ReceiveData hands its bytes out.
#include <stdint.h>

#include "../strings/managed_strings.h"

typedef uintptr_t ConnectionHandle;

// Mode bits of OpenConnection.
const uint32_t kModeUdp = 1;
const uint32_t kModeIpv6 = 2;
const uint32_t kModeSecureMask = 0x3C;  // needs a secure-transport provider; there is none

// Network events.
const int32_t kEventNothing = 0;
const int32_t kEventData = 2;
const int32_t kEventClosed = 4;  // TCP only

void NetworkStartup();
void NetworkShutdown();

// Only the low 16 bits of the ports count. timeout (ms) bounds a TCP connect when
// 1 or more; UDP never waits.
ConnectionHandle OpenConnection(String host, int32_t port, uint32_t mode, int32_t timeout);
ConnectionHandle OpenConnection(String host, int32_t port, uint32_t mode, int32_t timeout,
                                String localAddress, int32_t localPort);
void CloseConnection(ConnectionHandle connection);

int32_t PollConnectionEvent(ConnectionHandle connection);  // never blocks
int32_t ReceiveData(ConnectionHandle connection, void* buffer, int32_t size);
// format: kFormatUtf8 (default), kFormatAscii or kFormatUtf16; anything else sends nothing.
int32_t SendText(ConnectionHandle connection, String text, int32_t format = 2);
int32_t SendData(ConnectionHandle connection, const void* buffer, int32_t length);
