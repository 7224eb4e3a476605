#pragma once
// Base64 (RFC 4648, with padding) for a protected password in a settings file.
#include <stddef.h>

// The text and a 0 in out; its length, or SIZE_MAX when size is too small.
size_t EncodeBase64(const unsigned char* data, size_t length, char* out, size_t size);

// False when text is not base64 (padded, without blanks) or the bytes would
// not fit size; else the bytes in out and their count in *length.
bool DecodeBase64(const char16_t* text, unsigned char* out, size_t size, size_t* length);
