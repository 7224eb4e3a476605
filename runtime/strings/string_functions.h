#pragma once
// Examining and cutting managed strings, and converting between managed strings
// and byte text. None of these functions releases or adopts its string
// arguments: a caller that passes a temporary releases it afterwards. Null and
// the shared empty string count as empty. String results are new temporaries
// unless stated otherwise.
#include "managed_strings.h"

// String formats: bits 0-4 name the encoding; 0x40 makes a UTF-8 length count bytes.
const int32_t kFormatUtf8 = 2;
const int32_t kFormatAscii = 24;  // the system ANSI code page
const int32_t kFormatUtf16 = 25;
const int32_t kFormatByteLength = 0x40;

const uint32_t kFilePartWithoutExtension = 1;

int32_t FirstCharCode(String s);                      // 0 for null or empty
int32_t FindSubstring(String text, String pattern);   // 1-based; 0 if absent or either is empty
String ExtractField(String s, int32_t index, String separator);  // null for an empty or missing field
String FilePart(String path, uint32_t flags);         // null only for an empty path

// Bytes that the first `count` well-formed UTF-8 characters occupy; never steps
// over a 0 byte.
int32_t Utf8ByteSpan(const uint8_t* bytes, int32_t count);

// --- conversions through the platform (Windows only) ---

// Null only for a null address; length -1 means up to the first 0.
String DecodeText(const void* address, int32_t length, int32_t format);

// 0-terminated byte text on the process heap, never null; release with the
// matching Free function.
char* EncodeUtf8(String s);
char* EncodeAscii(String s);
void FreeUtf8(char* text);
void FreeAscii(char* text);
