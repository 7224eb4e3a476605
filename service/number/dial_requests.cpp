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

size_t FormatNumberForLog(const char* number, size_t length, char* text, size_t size) {
  static const char kHex[] = "0123456789ABCDEF";
  size_t written = 0;
  for (size_t i = 0; i < length; i++) {
    unsigned char byte = (unsigned char)number[i];
    bool plain = byte >= 0x20 && byte != 0x7F && byte != '\\';
    size_t needed = plain ? 1 : 4;
    if (written + needed > size - 1) break;
    if (plain) {
      text[written++] = char(byte);
    } else {
      text[written++] = '\\';
      text[written++] = 'x';
      text[written++] = kHex[byte >> 4];
      text[written++] = kHex[byte & 15];
    }
  }
  text[written] = 0;
  return written;
}
