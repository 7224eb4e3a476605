#pragma once
// A password kept for the current user only: CryptProtectData's blob as base64
// text (the settings file's http-password-protected), which another user or
// another machine cannot turn back into the password.
#include <stddef.h>
#include <wchar.h>

// The protected form of password as 0-terminated base64 in base64; false when
// protection fails or size is too small.
bool ProtectPassword(const wchar_t* password, char* base64, size_t size);

// The password from its protected form: a 0-terminated string made with
// malloc, which the caller wipes (SecureZeroMemory) and frees; null when the
// text is not base64 or cannot be unprotected (another user's, damaged).
wchar_t* UnprotectPassword(const char16_t* base64);
