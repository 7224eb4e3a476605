#include "service/number/dial_requests.h"

#include <string.h>

const char kPongAnswer[] = "pong";
const char kDialAnswer[] = "ok";
const char kRejectAnswer[] = "rejected";

static const char kPing[] = "ping";
static const char kDialPrefix[] = "dial ";

Request ParseRequest(const char* datagram, size_t length) {
  Request request = {kRequestIgnored, nullptr, 0};
  const size_t pingLength = sizeof kPing - 1;
  const size_t prefixLength = sizeof kDialPrefix - 1;
  if (length == pingLength && memcmp(datagram, kPing, pingLength) == 0) {
    request.kind = kRequestPing;
  } else if (length >= prefixLength && memcmp(datagram, kDialPrefix, prefixLength) == 0) {
    request.kind = kRequestDial;
    request.number = datagram + prefixLength;
    request.numberLength = length - prefixLength;
  }
  return request;
}
