#pragma once
// HTTP/1.1 as bytes on the connection to a phone: writing one request, and
// reading its answer as it arrives, within fixed bounds, so that a server that
// answers what it likes can neither grow the service nor stall it. Pure text
// work; the connection itself is http_connection_win.cpp's business.
#include <stddef.h>

// What an answer may hold before the rest is not read: the status line with
// the header lines, and then the body with its chunk framing.
const size_t kMaxAnswerHeadBytes = 65536;
const size_t kMaxAnswerBodyBytes = 65536;

struct WireRequest {
  const char* method;         // "GET", "POST" or "DELETE"
  const char* target;         // the path and query, as written into the request line
  const char* host;           // the Host value: "name", "name:port", "[v6]:port"
  const char* headers;        // further header lines, each ended by CRLF; "" for none
  const char* authorization;  // the Authorization value, or null
  size_t bodyLength;          // the Content-Length, always sent for POST
};

// The request line and headers, up to and with the empty line, and a 0;
// their length, or 0 when they do not fit size bytes.
size_t WriteRequestHead(const WireRequest& request, char* out, size_t size);

// The request target for a path and query (UTF-8): bytes outside the printable
// ASCII range and the few that a request line cannot carry are percent-
// encoded. Written with a 0; its length, or 0 when it does not fit.
size_t WriteRequestTarget(const char* path, char* out, size_t size);

enum BodyFraming { kBodyNone, kBodyLength, kBodyChunked, kBodyUntilClose };

struct AnswerHead {
  unsigned status;
  const char* reason;  // points into the head; not 0-terminated
  size_t reasonLength;
  const char* fields;  // the header lines after the status line
  size_t fieldsLength;
  BodyFraming framing;
  unsigned long long contentLength;
  bool keepAlive;  // the connection may carry the next request afterwards
};

// The length of the head (status line, headers and the empty line) at the
// start of data, or 0 while its end has not arrived.
size_t FindAnswerHeadEnd(const char* data, size_t length);

// Reads a complete head; false when it is not an HTTP/1.x answer. The answer
// to a HEAD request is not expected here: only GET, POST and DELETE are sent.
bool ParseAnswerHead(const char* head, size_t length, AnswerHead* answer);

// The values of every header called name (any case), one per call: *cursor
// starts at 0; false when there are no more. The value is trimmed and not
// 0-terminated.
bool NextHeaderValue(const AnswerHead& answer, const char* name, size_t* cursor, const char** value,
                     size_t* valueLength);

enum BodyProgress { kBodyMore, kBodyDone, kBodyBroken, kBodyTooLong };

struct BodyReader {
  // Set after StartBody to keep the body (without chunk framing): its first
  // payloadRoom bytes go to payload, payloadLength counting them.
  char* payload;
  size_t payloadRoom;
  size_t payloadLength;
  BodyFraming framing;
  unsigned long long remaining;  // of the body or of the current chunk
  int chunkState;
  size_t lineLength;  // of the chunk-size or trailer line being read
  size_t consumed;
};

void StartBody(BodyReader* reader, const AnswerHead& answer);

// Takes the next bytes of the body; *used tells how many of them belong to it
// (bytes after the body's end are not part of this answer). kBodyUntilClose
// is never done here: the connection's end ends it.
BodyProgress ReadBody(BodyReader* reader, const char* data, size_t length, size_t* used);
