#pragma once
// The dial service's side of the datagram exchange, free of any socket: which
// request a datagram is.
//
//   "ping"            -> answered with "pong"
//   "dial " + number  -> the number (UTF-8, possibly empty) is normalised and
//                        dialled, answered with "ok"; one that cannot be
//                        dialled is answered with "rejected"
//   anything else     -> ignored, no answer
//
// A request is recognised by its exact bytes: no case folding, no trimming, and
// a datagram with a zero byte inside is taken as it is.
#include <stddef.h>

enum RequestKind { kRequestIgnored, kRequestPing, kRequestDial };

struct Request {
  RequestKind kind;
  const char* number;  // points into the datagram; valid for kRequestDial only
  size_t numberLength;
};

Request ParseRequest(const char* datagram, size_t length);

extern const char kPongAnswer[];  // "pong"
extern const char kDialAnswer[];    // "ok"
extern const char kRejectAnswer[];  // "rejected"
