#include "service/http/digest_hash_win.h"

#include <windows.h>
#include <bcrypt.h>

static void WriteHex(const unsigned char* bytes, size_t count, char* hex) {
  static const char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < count; i++) {
    hex[2 * i] = kDigits[bytes[i] >> 4];
    hex[2 * i + 1] = kDigits[bytes[i] & 15];
  }
  hex[2 * count] = 0;
}

bool DigestHashHex(DigestAlgorithm algorithm, const char* data, size_t length, char* hex) {
  const wchar_t* name = algorithm == kDigestSha256 ? BCRYPT_SHA256_ALGORITHM : BCRYPT_MD5_ALGORITHM;
  ULONG size = algorithm == kDigestSha256 ? 32 : 16;
  BCRYPT_ALG_HANDLE provider = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&provider, name, nullptr, 0))) return false;
  unsigned char hash[32];
  bool hashed = true;
  // BCryptHash would do it in one call, but Windows 7 lacks it.
  BCRYPT_HASH_HANDLE state = nullptr;
  if (!BCRYPT_SUCCESS(BCryptCreateHash(provider, &state, nullptr, 0, nullptr, 0, 0))) {
    hashed = false;
  } else {
    // Feeding in pieces keeps each length within a ULONG on 64-bit Windows.
    while (hashed && length > 0) {
      ULONG piece = length > 0x40000000 ? 0x40000000 : ULONG(length);
      hashed = BCRYPT_SUCCESS(BCryptHashData(state, (PUCHAR)data, piece, 0));
      data += piece;
      length -= piece;
    }
    hashed = hashed && BCRYPT_SUCCESS(BCryptFinishHash(state, hash, size, 0));
    BCryptDestroyHash(state);
  }
  BCryptCloseAlgorithmProvider(provider, 0);
  if (hashed) WriteHex(hash, size, hex);
  return hashed;
}

bool RandomHex(size_t bytes, char* hex) {
  unsigned char random[64];
  if (bytes > sizeof random) return false;
  if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, random, ULONG(bytes), BCRYPT_USE_SYSTEM_PREFERRED_RNG))) return false;
  WriteHex(random, bytes, hex);
  return true;
}
