#pragma once
// The hashes and random text that Digest authentication needs, from Windows'
// own cryptography (BCrypt), so that no hash code of ours is needed.
#include <stddef.h>

#include "service/http/http_digest.h"

// A DigestHashFunction: MD5 or SHA-256 of data as lower-case hex.
bool DigestHashHex(DigestAlgorithm algorithm, const char* data, size_t length, char* hex);

// bytes random bytes from the system generator as 2 * bytes hex digits and a 0.
bool RandomHex(size_t bytes, char* hex);
