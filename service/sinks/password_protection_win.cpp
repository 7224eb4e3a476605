#include "service/sinks/password_protection_win.h"

#include <windows.h>
#include <wincrypt.h>

#include <stdlib.h>
#include <string.h>

#include "service/http/base64.h"

// A protected blob is a few hundred bytes beyond its password; a password of
// a phone's web page is short, so this bounds what is decoded.
static const size_t kMaxProtectedBytes = 16384;

bool ProtectPassword(const wchar_t* password, char* base64, size_t size) {
  DATA_BLOB plain = {DWORD(wcslen(password) * sizeof(wchar_t)),
                     reinterpret_cast<BYTE*>(const_cast<wchar_t*>(password))};
  DATA_BLOB sealed = {};
  if (!CryptProtectData(&plain, L"teldial dial service", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                        &sealed))
    return false;
  bool encoded = EncodeBase64(sealed.pbData, sealed.cbData, base64, size) != SIZE_MAX;
  LocalFree(sealed.pbData);
  return encoded;
}

wchar_t* UnprotectPassword(const char16_t* base64) {
  unsigned char* bytes = static_cast<unsigned char*>(malloc(kMaxProtectedBytes));
  size_t length = 0;
  if (!bytes || !DecodeBase64(base64, bytes, kMaxProtectedBytes, &length)) {
    free(bytes);
    return nullptr;
  }
  DATA_BLOB sealed = {DWORD(length), bytes};
  DATA_BLOB plain = {};
  BOOL opened = CryptUnprotectData(&sealed, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &plain);
  free(bytes);
  if (!opened) return nullptr;
  size_t characters = plain.cbData / sizeof(wchar_t);
  wchar_t* password = static_cast<wchar_t*>(malloc((characters + 1) * sizeof(wchar_t)));
  if (password) {
    memcpy(password, plain.pbData, characters * sizeof(wchar_t));
    password[characters] = 0;
  }
  SecureZeroMemory(plain.pbData, plain.cbData);
  LocalFree(plain.pbData);
  return password;
}
