#pragma once
// One connection to the phone, TCP or TLS (Schannel), on which every wait ends
// by a deadline given as a GetTickCount64 value: nothing here blocks past it,
// whatever the server sends or withholds. One thread at a time uses a
// connection.
#include <windows.h>

#include <stddef.h>
#include <stdint.h>

struct HttpConnection;

// Why a connection could not be made or used: a Winsock, SSPI or certificate
// error, with words for the log.
struct ConnectionFailure {
  unsigned long error;
  const char* reason;
};

// Resolves host, connects and, when secure, agrees TLS and checks the
// server's certificate for host (unless insecure). Null with *failure set.
HttpConnection* OpenHttpConnection(const wchar_t* host, uint16_t port, bool secure, bool insecure,
                                   unsigned long long deadline, ConnectionFailure* failure);

// Sends all of data; false with *failure set.
bool SendOnConnection(HttpConnection* connection, const char* data, size_t length, unsigned long long deadline,
                      ConnectionFailure* failure);

enum ReceiveResult { kReceived, kReceiveClosed, kReceiveFailed, kReceiveTimedOut };

// Waits for the next bytes (at most size), *got of them.
ReceiveResult ReceiveOnConnection(HttpConnection* connection, char* buffer, size_t size, size_t* got,
                                  unsigned long long deadline, ConnectionFailure* failure);

// Between requests: false once the server has closed the connection or sent
// anything unasked (which no answer may be), or its host has reset it
// (keep-alive probes draw that reset from a server that stopped), so it must
// not carry a request.
bool ConnectionStaysUsable(HttpConnection* connection);

// Signalled when anything happens on the connection while it is idle; the
// caller then asks ConnectionStaysUsable. Owned by the connection.
HANDLE ConnectionActivity(HttpConnection* connection);

void CloseHttpConnection(HttpConnection* connection);
