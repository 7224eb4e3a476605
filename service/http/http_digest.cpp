#include "service/http/http_digest.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

static bool EqualIgnoringCase(const char* a, size_t length, const char* b) {
  if (strlen(b) != length) return false;
  for (size_t i = 0; i < length; i++) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? char(a[i] + 32) : a[i];
    char y = b[i] >= 'A' && b[i] <= 'Z' ? char(b[i] + 32) : b[i];
    if (x != y) return false;
  }
  return true;
}

// One "name=value" or "name="quoted value"" of the parameter list; the value
// goes unquoted into value. Returns the text after it and its comma, or null at
// a syntax error.
static const char* ReadParameter(const char* text, const char** name, size_t* nameLength, char* value, bool* fits) {
  while (IsBlank(*text) || *text == ',') text++;
  *name = text;
  while (*text && *text != '=' && !IsBlank(*text) && *text != ',') text++;
  *nameLength = size_t(text - *name);
  while (IsBlank(*text)) text++;
  if (*nameLength == 0 || *text != '=') return nullptr;
  text++;
  while (IsBlank(*text)) text++;
  size_t used = 0;
  *fits = true;
  auto put = [&](char c) {
    if (used + 1 < kMaxDigestValue)
      value[used++] = c;
    else
      *fits = false;
  };
  if (*text == '"') {
    for (text++; *text != '"'; text++) {
      if (!*text) return nullptr;
      if (*text == '\\' && text[1]) text++;
      put(*text);
    }
    text++;
  } else {
    while (*text && *text != ',' && !IsBlank(*text)) put(*text++);
  }
  value[used] = 0;
  while (IsBlank(*text)) text++;
  if (*text && *text != ',') return nullptr;
  return text;
}

// Whether the comma- or blank-separated list holds item.
static bool ListHolds(const char* list, const char* item) {
  while (*list) {
    while (*list == ',' || IsBlank(*list)) list++;
    const char* start = list;
    while (*list && *list != ',' && !IsBlank(*list)) list++;
    if (list > start && EqualIgnoringCase(start, size_t(list - start), item)) return true;
  }
  return false;
}

bool ParseDigestChallenge(const char* header, DigestChallenge* challenge) {
  memset(challenge, 0, sizeof *challenge);
  while (IsBlank(*header)) header++;
  if (!EqualIgnoringCase(header, 6, "digest") || !IsBlank(header[6])) return false;
  bool realmGiven = false, nonceGiven = false, qopGiven = false;
  char value[kMaxDigestValue];
  const char* text = header + 7;
  for (;;) {
    while (IsBlank(*text) || *text == ',') text++;
    if (!*text) break;
    const char* name;
    size_t nameLength;
    bool fits;
    text = ReadParameter(text, &name, &nameLength, value, &fits);
    if (!text || !fits) return false;
    if (EqualIgnoringCase(name, nameLength, "realm")) {
      strcpy(challenge->realm, value);
      realmGiven = true;
    } else if (EqualIgnoringCase(name, nameLength, "nonce")) {
      strcpy(challenge->nonce, value);
      nonceGiven = true;
    } else if (EqualIgnoringCase(name, nameLength, "opaque")) {
      strcpy(challenge->opaque, value);
      challenge->opaqueGiven = true;
    } else if (EqualIgnoringCase(name, nameLength, "stale")) {
      challenge->stale = EqualIgnoringCase(value, strlen(value), "true");
    } else if (EqualIgnoringCase(name, nameLength, "qop")) {
      qopGiven = true;
      challenge->qopAuth = ListHolds(value, "auth");
    } else if (EqualIgnoringCase(name, nameLength, "algorithm")) {
      challenge->algorithmGiven = true;
      size_t length = strlen(value);
      if (EqualIgnoringCase(value, length, "MD5") || EqualIgnoringCase(value, length, "MD5-sess")) {
        challenge->algorithm = kDigestMd5;
      } else if (EqualIgnoringCase(value, length, "SHA-256") || EqualIgnoringCase(value, length, "SHA-256-sess")) {
        challenge->algorithm = kDigestSha256;
      } else {
        snprintf(challenge->refusedAlgorithm, sizeof challenge->refusedAlgorithm, "%s", value);
        return false;
      }
      challenge->session = length > 5 && EqualIgnoringCase(value + length - 5, 5, "-sess");
    }
  }
  if (qopGiven && !challenge->qopAuth) return false;
  return realmGiven && nonceGiven;
}

static const char* AlgorithmName(const DigestChallenge& challenge) {
  if (challenge.algorithm == kDigestSha256) return challenge.session ? "SHA-256-sess" : "SHA-256";
  return challenge.session ? "MD5-sess" : "MD5";
}

// A quoted-string value may hold neither '"' nor '\' unescaped; the values
// here never need either, so they are refused rather than escaped, which some
// servers get wrong.
static bool Quotable(const char* text) {
  for (; *text; text++)
    if (*text == '"' || *text == '\\' || (unsigned char)*text < 0x20 || *text == 0x7F) return false;
  return true;
}

// hash of the parts joined by ':'.
static bool HashJoined(DigestHashFunction hash, DigestAlgorithm algorithm, const char* const* parts, size_t count,
                       char* hex) {
  size_t length = 0;
  for (size_t i = 0; i < count; i++) length += strlen(parts[i]) + 1;
  char* joined = static_cast<char*>(malloc(length));
  if (!joined) return false;
  size_t used = 0;
  for (size_t i = 0; i < count; i++) {
    if (i) joined[used++] = ':';
    size_t partLength = strlen(parts[i]);
    memcpy(joined + used, parts[i], partLength);
    used += partLength;
  }
  bool hashed = hash(algorithm, joined, used, hex);
  free(joined);
  return hashed;
}

size_t BuildDigestAuthorization(const DigestChallenge& challenge, const DigestAnswer& answer,
                                DigestHashFunction hash, char* out, size_t size) {
  if (!Quotable(answer.user) || !Quotable(answer.uri) || !Quotable(challenge.realm) ||
      !Quotable(challenge.nonce) || !Quotable(challenge.opaque) || !Quotable(answer.cnonce))
    return 0;
  DigestAlgorithm algorithm = challenge.algorithm;
  char secret[65], scope[65], response[65];
  const char* secretParts[] = {answer.user, challenge.realm, answer.password};
  if (!HashJoined(hash, algorithm, secretParts, 3, secret)) return 0;
  if (challenge.session) {
    const char* sessionParts[] = {secret, challenge.nonce, answer.cnonce};
    if (!HashJoined(hash, algorithm, sessionParts, 3, secret)) return 0;
  }
  const char* scopeParts[] = {answer.method, answer.uri};
  if (!HashJoined(hash, algorithm, scopeParts, 2, scope)) return 0;
  char count[9];
  snprintf(count, sizeof count, "%08lx", answer.count);
  if (challenge.qopAuth) {
    const char* parts[] = {secret, challenge.nonce, count, answer.cnonce, "auth", scope};
    if (!HashJoined(hash, algorithm, parts, 6, response)) return 0;
  } else {
    const char* parts[] = {secret, challenge.nonce, scope};
    if (!HashJoined(hash, algorithm, parts, 3, response)) return 0;
  }
  int length = snprintf(out, size, "Digest username=\"%s\", realm=\"%s\", nonce=\"%s\", uri=\"%s\"", answer.user,
                        challenge.realm, challenge.nonce, answer.uri);
  auto append = [&](const char* format, const char* value) {
    if (length < 0 || size_t(length) >= size) return;
    int added = snprintf(out + length, size - size_t(length), format, value);
    length = added < 0 ? -1 : length + added;
  };
  if (challenge.algorithmGiven) append(", algorithm=%s", AlgorithmName(challenge));
  append(", response=\"%s\"", response);
  if (challenge.qopAuth) {
    append(", qop=auth, nc=%s", count);
    append(", cnonce=\"%s\"", answer.cnonce);
  }
  if (challenge.opaqueGiven) append(", opaque=\"%s\"", challenge.opaque);
  if (length < 0 || size_t(length) >= size) return 0;
  return size_t(length);
}

bool FindDigestParameter(const char* list, const char* name, char* value) {
  const char* text = list;
  for (;;) {
    while (IsBlank(*text) || *text == ',') text++;
    if (!*text) return false;
    const char* found;
    size_t foundLength;
    bool fits;
    text = ReadParameter(text, &found, &foundLength, value, &fits);
    if (!text) return false;
    if (fits && EqualIgnoringCase(found, foundLength, name)) return true;
  }
}
