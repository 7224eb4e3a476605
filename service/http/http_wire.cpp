#include "service/http/http_wire.h"

#include <stdio.h>
#include <string.h>

static char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; }

static bool SameIgnoringCase(const char* a, size_t length, const char* b) {
  if (strlen(b) != length) return false;
  for (size_t i = 0; i < length; i++)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

size_t WriteRequestHead(const WireRequest& request, char* out, size_t size) {
  int length = snprintf(out, size, "%s %s HTTP/1.1\r\nHost: %s\r\nUser-Agent: teldial-dial-service/1.0\r\n%s",
                        request.method, request.target, request.host, request.headers);
  auto append = [&](const char* format, const char* text, unsigned long long number) {
    if (length < 0 || size_t(length) >= size) return;
    int added = text ? snprintf(out + length, size - size_t(length), format, text)
                     : snprintf(out + length, size - size_t(length), format, number);
    length = added < 0 ? -1 : length + added;
  };
  if (request.authorization) append("Authorization: %s\r\n", request.authorization, 0);
  if (request.bodyLength || strcmp(request.method, "POST") == 0) append("Content-Length: %llu\r\n", nullptr, request.bodyLength);
  append("\r\n", "", 0);
  return length < 0 || size_t(length) >= size ? 0 : size_t(length);
}

size_t WriteRequestTarget(const char* path, char* out, size_t size) {
  static const char kHex[] = "0123456789ABCDEF";
  size_t used = 0;
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(path); *c; c++) {
    bool plain = *c > ' ' && *c < 0x7F && !strchr("\"<>\\^`{|}", *c);
    size_t needed = plain ? 1 : 3;
    if (used + needed >= size) return 0;
    if (plain) {
      out[used++] = char(*c);
    } else {
      out[used++] = '%';
      out[used++] = kHex[*c >> 4];
      out[used++] = kHex[*c & 15];
    }
  }
  if (used >= size) return 0;
  out[used] = 0;
  return used;
}

size_t FindAnswerHeadEnd(const char* data, size_t length) {
  // A bare LF ends a line too; some embedded servers send nothing else.
  for (size_t i = 0; i < length; i++) {
    if (data[i] != '\n') continue;
    if (i + 1 < length && data[i + 1] == '\n') return i + 2;
    if (i + 2 < length && data[i + 1] == '\r' && data[i + 2] == '\n') return i + 3;
  }
  return 0;
}

// One line of the head: [*at, end of line), *at moved past its line break.
static bool NextLine(const char* head, size_t length, size_t* at, const char** line, size_t* lineLength) {
  if (*at >= length) return false;
  const char* start = head + *at;
  const char* end = static_cast<const char*>(memchr(start, '\n', length - *at));
  size_t span = end ? size_t(end - start) : length - *at;
  *at += span + (end ? 1 : 0);
  if (span && start[span - 1] == '\r') span--;
  *line = start;
  *lineLength = span;
  return true;
}

static bool ListHoldsToken(const char* value, size_t length, const char* token) {
  size_t i = 0;
  while (i < length) {
    while (i < length && (value[i] == ',' || IsBlank(value[i]))) i++;
    size_t start = i;
    while (i < length && value[i] != ',' && !IsBlank(value[i])) i++;
    if (i > start && SameIgnoringCase(value + start, i - start, token)) return true;
  }
  return false;
}

bool ParseAnswerHead(const char* head, size_t length, AnswerHead* answer) {
  memset(answer, 0, sizeof *answer);
  size_t at = 0;
  const char* line;
  size_t lineLength;
  if (!NextLine(head, length, &at, &line, &lineLength)) return false;
  // "HTTP/1.x SSS reason"
  if (lineLength < 12 || memcmp(line, "HTTP/1.", 7) != 0 || line[7] < '0' || line[7] > '9' || line[8] != ' ')
    return false;
  for (int i = 9; i < 12; i++) {
    if (line[i] < '0' || line[i] > '9') return false;
    answer->status = answer->status * 10 + unsigned(line[i] - '0');
  }
  if (lineLength > 12 && line[12] != ' ') return false;
  answer->reason = lineLength > 13 ? line + 13 : line + lineLength;
  answer->reasonLength = lineLength > 13 ? lineLength - 13 : 0;
  answer->fields = head + at;
  answer->fieldsLength = length - at;
  bool http10 = line[7] == '0';
  answer->keepAlive = !http10;

  bool lengthGiven = false, chunked = false;
  size_t cursor = 0;
  const char* value;
  size_t valueLength;
  while (NextHeaderValue(*answer, "Transfer-Encoding", &cursor, &value, &valueLength))
    chunked = valueLength >= 7 && SameIgnoringCase(value + valueLength - 7, 7, "chunked");
  for (cursor = 0; NextHeaderValue(*answer, "Content-Length", &cursor, &value, &valueLength);) {
    unsigned long long number = 0;
    if (!valueLength) return false;
    for (size_t i = 0; i < valueLength; i++) {
      if (value[i] < '0' || value[i] > '9' || number > (~0ULL - 9) / 10) return false;
      number = number * 10 + unsigned(value[i] - '0');
    }
    // Two different lengths leave the answer's end unknown.
    if (lengthGiven && number != answer->contentLength) return false;
    answer->contentLength = number;
    lengthGiven = true;
  }
  for (cursor = 0; NextHeaderValue(*answer, "Connection", &cursor, &value, &valueLength);) {
    if (ListHoldsToken(value, valueLength, "close")) answer->keepAlive = false;
    if (ListHoldsToken(value, valueLength, "keep-alive") && http10) answer->keepAlive = true;
  }
  unsigned status = answer->status;
  if ((status >= 100 && status < 200) || status == 204 || status == 304)
    answer->framing = kBodyNone;
  else if (chunked)
    answer->framing = kBodyChunked;
  else if (lengthGiven)
    answer->framing = answer->contentLength ? kBodyLength : kBodyNone;
  else
    answer->framing = kBodyUntilClose;
  if (answer->framing == kBodyUntilClose) answer->keepAlive = false;
  return true;
}

bool NextHeaderValue(const AnswerHead& answer, const char* name, size_t* cursor, const char** value,
                     size_t* valueLength) {
  const char* line;
  size_t lineLength;
  while (NextLine(answer.fields, answer.fieldsLength, cursor, &line, &lineLength)) {
    const char* colon = static_cast<const char*>(memchr(line, ':', lineLength));
    if (!colon || !SameIgnoringCase(line, size_t(colon - line), name)) continue;
    const char* start = colon + 1;
    const char* end = line + lineLength;
    while (start < end && IsBlank(*start)) start++;
    while (end > start && IsBlank(end[-1])) end--;
    *value = start;
    *valueLength = size_t(end - start);
    return true;
  }
  return false;
}

enum ChunkState { kChunkSize, kChunkExtension, kChunkData, kChunkDataEnd, kChunkTrailer };

static void KeepPayload(BodyReader* reader, const char* data, size_t length) {
  size_t room = reader->payloadRoom - reader->payloadLength;
  size_t take = length < room ? length : room;
  if (take) memcpy(reader->payload + reader->payloadLength, data, take);
  reader->payloadLength += take;
}

void StartBody(BodyReader* reader, const AnswerHead& answer) {
  memset(reader, 0, sizeof *reader);
  reader->framing = answer.framing;
  reader->remaining = answer.framing == kBodyLength ? answer.contentLength : 0;
  reader->chunkState = kChunkSize;
}

static int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = LowerAscii(c);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// A chunk-size or trailer line longer than this is no HTTP server's.
static const size_t kMaxFramingLine = 4096;

static BodyProgress ReadChunked(BodyReader* reader, const char* data, size_t length, size_t* used) {
  size_t i = 0;
  while (i < length) {
    char c = data[i];
    switch (reader->chunkState) {
      case kChunkSize:
      case kChunkExtension:
        i++;
        if (c == '\n') {
          if (reader->lineLength == 0) return kBodyBroken;
          reader->lineLength = 0;
          reader->chunkState = reader->remaining ? kChunkData : kChunkTrailer;
        } else if (c == '\r') {
        } else if (reader->chunkState == kChunkSize && HexValue(c) >= 0) {
          if (reader->remaining >> 56) return kBodyBroken;
          reader->remaining = reader->remaining * 16 + unsigned(HexValue(c));
          reader->lineLength++;
        } else if (reader->lineLength && (c == ';' || IsBlank(c))) {
          reader->chunkState = kChunkExtension;
        } else if (reader->chunkState == kChunkSize) {
          return kBodyBroken;
        } else if (++reader->lineLength > kMaxFramingLine) {
          return kBodyBroken;
        }
        break;
      case kChunkData: {
        size_t take = length - i < reader->remaining ? length - i : size_t(reader->remaining);
        KeepPayload(reader, data + i, take);
        i += take;
        reader->remaining -= take;
        if (!reader->remaining) reader->chunkState = kChunkDataEnd;
        break;
      }
      case kChunkDataEnd:
        i++;
        if (c == '\n')
          reader->chunkState = kChunkSize;
        else if (c != '\r')
          return kBodyBroken;
        break;
      case kChunkTrailer:
        i++;
        if (c == '\n') {
          if (reader->lineLength == 0) {
            *used = i;
            return kBodyDone;
          }
          reader->lineLength = 0;
        } else if (c != '\r' && ++reader->lineLength > kMaxFramingLine) {
          return kBodyBroken;
        }
        break;
    }
  }
  *used = i;
  return kBodyMore;
}

BodyProgress ReadBody(BodyReader* reader, const char* data, size_t length, size_t* used) {
  *used = 0;
  BodyProgress progress = kBodyMore;
  switch (reader->framing) {
    case kBodyNone:
      return kBodyDone;
    case kBodyLength: {
      size_t take = length < reader->remaining ? length : size_t(reader->remaining);
      *used = take;
      KeepPayload(reader, data, take);
      reader->remaining -= take;
      progress = reader->remaining ? kBodyMore : kBodyDone;
      break;
    }
    case kBodyChunked:
      progress = ReadChunked(reader, data, length, used);
      break;
    case kBodyUntilClose:
      *used = length;
      KeepPayload(reader, data, length);
      break;
  }
  reader->consumed += *used;
  if (progress != kBodyDone && progress != kBodyBroken && reader->consumed > kMaxAnswerBodyBytes) return kBodyTooLong;
  return progress;
}
