#pragma once
// HTTP Digest authentication on the client side: reading one challenge from a
// WWW-Authenticate header and computing the Authorization header that answers
// it (RFC 7616 with qop=auth, MD5 or SHA-256, also their -sess forms; RFC 2617
// without qop). The hashing itself comes from the caller, so this stays pure.
#include <stddef.h>

enum DigestAlgorithm { kDigestMd5, kDigestSha256 };

const size_t kMaxDigestValue = 512;

struct DigestChallenge {
  DigestAlgorithm algorithm;
  bool session;        // MD5-sess or SHA-256-sess
  bool algorithmGiven;  // echoed back only when the server named it
  bool qopAuth;        // the server offers qop=auth; without, the RFC 2617 form
  bool opaqueGiven;
  bool stale;          // the nonce expired, the credentials were right
  char refusedAlgorithm[32];  // an algorithm not answered here, as named (cut)
  char realm[kMaxDigestValue];
  char nonce[kMaxDigestValue];
  char opaque[kMaxDigestValue];
};

// Reads one challenge, "Digest realm=..., nonce=..., ...". False for another
// scheme, a missing realm or nonce, an algorithm other than the four known
// (named in refusedAlgorithm), or a qop list without "auth" (auth-int would
// need the body hashed twice over).
bool ParseDigestChallenge(const char* header, DigestChallenge* challenge);

// The value of the parameter name in a list such as Authentication-Info's
// ("nextnonce=\"...\", qop=auth"), unquoted into value (kMaxDigestValue bytes).
bool FindDigestParameter(const char* list, const char* name, char* value);

// Writes the lower-case hex hash of length bytes of data and a 0 into hex (at
// least 65 bytes); false when hashing failed.
typedef bool (*DigestHashFunction)(DigestAlgorithm algorithm, const char* data, size_t length, char* hex);

struct DigestAnswer {
  const char* user;
  const char* password;
  const char* method;  // "GET" or "POST"
  const char* uri;     // the path and query as sent
  const char* cnonce;  // fresh random text of token characters
  unsigned long count; // the nc value: how often this nonce was used, from 1
};

// The Authorization header value ("Digest username=..."), 0-terminated in out;
// its length, or 0 when it does not fit size bytes, a value holds a double
// quote or a control character that cannot be sent, or hashing failed.
size_t BuildDigestAuthorization(const DigestChallenge& challenge, const DigestAnswer& answer,
                                DigestHashFunction hash, char* out, size_t size);
