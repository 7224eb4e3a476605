#pragma once
// Whose program sent a datagram to the service. On a machine shared by several
// users (a terminal server) every user's programs share 127.0.0.1, so a port
// alone says nothing: the sending process is found from the datagram's source
// port in the system's UDP table, and its user compared with the service's own.
#include <winsock2.h>

enum SenderOwner {
  kSenderOwnUser,
  kSenderOtherUser,
  kSenderUnknown,  // no process owns the port, its user cannot be read, or its owners changed meanwhile
};

// sender: the datagram's source address, as recvfrom gave it.
SenderOwner FindSenderOwner(const sockaddr_in& sender);
