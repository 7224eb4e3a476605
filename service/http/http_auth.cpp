#include "service/http/http_auth.h"

#include <stdio.h>
#include <string.h>

static bool StartsWithScheme(const char* header, const char* scheme) {
  while (*header == ' ' || *header == '\t') header++;
  size_t length = strlen(scheme);
  for (size_t i = 0; i < length; i++) {
    char c = header[i] >= 'A' && header[i] <= 'Z' ? char(header[i] + 32) : header[i];
    if (c != scheme[i]) return false;
  }
  return header[length] == 0 || header[length] == ' ' || header[length] == '\t';
}

void StartAuthOffers(AuthOffers* offers) { memset(offers, 0, sizeof *offers); }

void NoteAuthOffer(AuthOffers* offers, const char* header) {
  if (StartsWithScheme(header, "basic")) {
    offers->basic = true;
    return;
  }
  if (!StartsWithScheme(header, "digest")) return;
  offers->digestSeen = true;
  DigestChallenge offered;
  if (!ParseDigestChallenge(header, &offered)) {
    if (offered.refusedAlgorithm[0])
      snprintf(offers->unanswerable, sizeof offers->unanswerable, "algorithm %s", offered.refusedAlgorithm);
    else if (!offers->unanswerable[0])
      snprintf(offers->unanswerable, sizeof offers->unanswerable, "its parameters are not understood");
    return;
  }
  if (!offers->digestAnswerable || (offered.algorithm == kDigestSha256 && offers->digest.algorithm != kDigestSha256))
    offers->digest = offered;
  offers->digestAnswerable = true;
}

AuthVerdict TakeChallenge(ServerAuth* auth, const AuthOffers& offers, bool sentCredentials, bool sentAgain) {
  bool takenBefore = auth->accepted;
  auth->accepted = false;
  if (offers.digestSeen) auth->digestOffered = true;
  if (offers.digestAnswerable) {
    auth->scheme = kAuthDigest;
    auth->digest = offers.digest;
    auth->nonceCount = 0;
  } else if (offers.basic && !auth->digestOffered) {
    auth->scheme = kAuthBasic;
  } else {
    auth->scheme = kAuthNone;
    return offers.digestSeen || auth->digestOffered ? kAuthUnanswerable : kAuthNoKnownScheme;
  }
  if (sentAgain) return kAuthRefused;
  // A stale nonce or credentials that worked before are worth one more try;
  // a plain refusal is not, or a wrong password would count twice per click.
  bool stale = auth->scheme == kAuthDigest && offers.digest.stale;
  return !sentCredentials || stale || takenBefore ? kAuthSendAgain : kAuthRefused;
}

void NoteCredentialsTaken(ServerAuth* auth) { auth->accepted = true; }

void TakeAuthenticationInfo(ServerAuth* auth, const char* header) {
  char nonce[kMaxDigestValue];
  if (auth->scheme != kAuthDigest || !FindDigestParameter(header, "nextnonce", nonce)) return;
  memcpy(auth->digest.nonce, nonce, sizeof nonce);
  auth->nonceCount = 0;
}
