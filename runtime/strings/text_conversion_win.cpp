#include <windows.h>
#include <string.h>

#include "string_functions.h"

// Conversions between managed strings and byte text through the platform, always
// with flags 0: malformed input comes out as the platform converts it, never as a
// failure. Encoded text lives on the process heap, apart from the string allocator.

static const int32_t kFormatMask = 0x1F;

// Handed out when the process heap cannot give even one byte, so that an encoder
// never returns null; the release functions recognise it and leave it alone.
static char emptyEncodedText[1];

// Code units are copied byte-wise because a received datagram need not start
// on an even address.
static char16_t UnitAt(const uint8_t* bytes, int32_t index) {
  char16_t unit;
  memcpy(&unit, bytes + 2 * size_t(index), sizeof unit);
  return unit;
}

static String DecodeUtf16(const uint8_t* bytes, int32_t length) {
  if (length == -1) {
    length = 0;
    while (UnitAt(bytes, length)) length++;
  }
  String text = AllocateTempString(length);
  int32_t copied = 0;
  while (copied < length) {
    char16_t unit = UnitAt(bytes, copied);
    if (!unit) break;
    text[copied++] = unit;
  }
  ShortenString(text, copied);
  return text;
}

// Bytes before the first 0 byte among the first `limit`.
static int32_t BytesBeforeZero(const uint8_t* bytes, int32_t limit) {
  int32_t n = 0;
  while (n < limit && bytes[n]) n++;
  return n;
}

String DecodeText(const void* address, int32_t length, int32_t format) {
  if (!address) return nullptr;
  const uint8_t* bytes = static_cast<const uint8_t*>(address);
  if (length < -1) length = 0;
  int32_t encoding = format & kFormatMask;
  if (encoding == kFormatUtf16) return DecodeUtf16(bytes, length);

  bool utf8 = encoding == kFormatUtf8;
  UINT codePage = utf8 ? CP_UTF8 : CP_ACP;
  int32_t byteCount;
  if (length == -1) {
    byteCount = BytesBeforeZero(bytes, 0x7FFFFFFF);
  } else if (utf8 && !(format & kFormatByteLength)) {
    byteCount = Utf8ByteSpan(bytes, length);  // stops at a 0 byte itself
  } else {
    byteCount = BytesBeforeZero(bytes, length);
  }

  const char* source = reinterpret_cast<const char*>(bytes);
  int32_t units = byteCount ? MultiByteToWideChar(codePage, 0, source, byteCount, nullptr, 0) : 0;
  String text = AllocateTempString(units);
  int32_t produced =
      units ? MultiByteToWideChar(codePage, 0, source, byteCount, reinterpret_cast<wchar_t*>(text), units + 1)
            : 0;
  ShortenString(text, produced);
  return text;
}

static char* Encode(String s, UINT codePage) {
  if (s) {
    int32_t units = 0;
    while (s[units]) units++;
    units++;  // the terminator is converted too
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(s);
    int bytes = WideCharToMultiByte(codePage, 0, wide, units, nullptr, 0, nullptr, nullptr);
    char* buffer = bytes > 0 ? static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, SIZE_T(bytes) + 1)) : nullptr;
    if (buffer) {
      int written = WideCharToMultiByte(codePage, 0, wide, units, buffer, bytes, nullptr, nullptr);
      buffer[written] = 0;
      return buffer;
    }
  }
  char* empty = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, 1));
  if (!empty) return emptyEncodedText;
  empty[0] = 0;
  return empty;
}

static void ReleaseEncoded(char* text) {
  if (text && text != emptyEncodedText) HeapFree(GetProcessHeap(), 0, text);
}

char* EncodeUtf8(String s) { return Encode(s, CP_UTF8); }
char* EncodeAscii(String s) { return Encode(s, CP_ACP); }
void FreeUtf8(char* text) { ReleaseEncoded(text); }
void FreeAscii(char* text) { ReleaseEncoded(text); }
