#include "service/sinks/call_handle.h"

#include <string.h>

namespace {
// A cursor over the answer; nothing is read past end, and nesting deeper than
// any status answer's is refused rather than followed.
struct JsonReader {
  const char* at;
  const char* end;

  static const int kMaxDepth = 16;

  void SkipBlanks() {
    while (at < end && (*at == ' ' || *at == '\t' || *at == '\r' || *at == '\n')) at++;
  }
  bool Take(char c) {
    SkipBlanks();
    if (at == end || *at != c) return false;
    at++;
    return true;
  }
  bool Peek(char c) {
    SkipBlanks();
    return at < end && *at == c;
  }
  // A string; its characters go to out (size bytes with the 0) as long as
  // they are plain ASCII without escapes, else *plain turns false.
  bool String(char* out, size_t size, bool* plain) {
    size_t used = 0;
    *plain = true;
    if (!Take('"')) return false;
    while (at < end && *at != '"') {
      char c = *at++;
      if ((unsigned char)c < 0x20) return false;
      if (c == '\\') {
        if (at == end) return false;
        char escaped = *at++;
        if (escaped == 'u') {
          for (int i = 0; i < 4; i++, at++)
            if (at == end || !strchr("0123456789abcdefABCDEF", *at)) return false;
        } else if (!strchr("\"\\/bfnrt", escaped)) {
          return false;
        }
        *plain = false;
        continue;
      }
      if ((unsigned char)c >= 0x80 || used + 1 >= size) *plain = false;
      if (*plain) out[used++] = c;
    }
    if (at == end) return false;
    at++;
    if (size) out[used] = 0;
    return true;
  }
  bool Value(int depth) {
    if (depth > kMaxDepth) return false;
    SkipBlanks();
    if (at == end) return false;
    char scratch[1];
    bool plain;
    if (*at == '"') return String(scratch, 0, &plain);
    if (*at == '{' || *at == '[') {
      char close = *at == '{' ? '}' : ']';
      bool object = *at == '{';
      at++;
      if (Take(close)) return true;
      do {
        if (object && (!String(scratch, 0, &plain) || !Take(':'))) return false;
        if (!Value(depth + 1)) return false;
      } while (Take(','));
      return Take(close);
    }
    const char* start = at;
    while (at < end && strchr("+-.0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ", *at)) at++;
    return at > start;
  }
};

bool IsHandleCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || strchr("-._~", c);
}

// The members of the object at the reader; the handle when one is named.
CallHandleResult ReadCallObject(JsonReader* json, char* handle, bool* found) {
  if (!json->Take('{')) return json->Value(1) ? kNoCallHandle : kCallStatusUnreadable;
  if (json->Take('}')) return kNoCallHandle;
  CallHandleResult result = kNoCallHandle;
  do {
    char key[16];
    bool plain;
    if (!json->String(key, sizeof key, &plain) || !json->Take(':')) return kCallStatusUnreadable;
    bool named = plain && (strcmp(key, "CallHandle") == 0 || strcmp(key, "Ref") == 0);
    if (named && !*found && json->Peek('"')) {
      char value[kMaxCallHandle + 2];
      if (!json->String(value, sizeof value, &plain)) return kCallStatusUnreadable;
      size_t length = strlen(value);
      if (!plain || length == 0 || length > kMaxCallHandle) return kCallStatusUnreadable;
      for (size_t i = 0; i < length; i++)
        if (!IsHandleCharacter(value[i])) return kCallStatusUnreadable;
      memcpy(handle, value, length + 1);
      *found = true;
      result = kCallHandleFound;
    } else if (!json->Value(2)) {
      return kCallStatusUnreadable;
    }
  } while (json->Take(','));
  return json->Take('}') ? result : kCallStatusUnreadable;
}
}  // namespace

CallHandleResult ReadCallHandle(const char* answer, size_t length, char* handle) {
  JsonReader json = {answer, answer + length};
  CallHandleResult result = kNoCallHandle;
  bool found = false;
  if (!json.Take('{')) return kCallStatusUnreadable;
  if (json.Take('}')) return kNoCallHandle;
  do {
    char key[8];
    bool plain;
    if (!json.String(key, sizeof key, &plain) || !json.Take(':')) return kCallStatusUnreadable;
    if (plain && strcmp(key, "data") == 0 && json.Take('[')) {
      // Several calls: the first is the one teldial started or the user has.
      if (!json.Take(']')) {
        do {
          CallHandleResult call = ReadCallObject(&json, handle, &found);
          if (call == kCallStatusUnreadable) return call;
          if (call == kCallHandleFound) result = call;
        } while (json.Take(','));
        if (!json.Take(']')) return kCallStatusUnreadable;
      }
    } else if (plain && strcmp(key, "data") == 0) {
      CallHandleResult call = ReadCallObject(&json, handle, &found);
      if (call == kCallStatusUnreadable) return call;
      if (call == kCallHandleFound) result = call;
    } else if (!json.Value(1)) {
      return kCallStatusUnreadable;
    }
  } while (json.Take(','));
  if (!json.Take('}')) return kCallStatusUnreadable;
  json.SkipBlanks();
  return json.at == json.end ? result : kCallStatusUnreadable;
}
