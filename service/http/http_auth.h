#pragma once
// What one server wants to see of the user name and password, kept from one
// request to the next, so that after the first challenge every request carries
// its credentials up front: one request per click, and a wrong password costs
// the phone one refused login per click, never more. Once a server has offered
// Digest it never gets Basic, whatever a later challenge says: a challenge can
// be rewritten on the way, the password cannot be taken back. Pure; the
// requester sends and hashes.
#include <stddef.h>

#include "service/http/http_digest.h"

enum AuthScheme { kAuthNone, kAuthBasic, kAuthDigest };

struct ServerAuth {
  AuthScheme scheme;  // what the next request carries up front
  bool digestOffered;
  bool accepted;             // the credentials sent last were taken
  DigestChallenge digest;    // the challenge answered, for kAuthDigest
  unsigned long nonceCount;  // requests made with digest.nonce so far
};

// What the WWW-Authenticate headers of one 401 offer.
struct AuthOffers {
  bool basic;
  bool digestSeen;  // Digest in any form, answerable or not
  bool digestAnswerable;
  DigestChallenge digest;  // the strongest answerable one
  char unanswerable[64];   // why a Digest offer cannot be answered
};

void StartAuthOffers(AuthOffers* offers);
// One header value, 0-terminated.
void NoteAuthOffer(AuthOffers* offers, const char* header);

enum AuthVerdict {
  kAuthSendAgain,      // make this request once more, with the credentials
  kAuthRefused,        // the credentials were refused
  kAuthUnanswerable,   // only a Digest that cannot be answered (offers.unanswerable says why)
  kAuthNoKnownScheme,  // neither Basic nor Digest
};

// After a 401 to a request that carried credentials (or none, when
// sentCredentials is false): keeps what the server now asks for and says
// whether the request is made once more. sentAgain: this request already was.
AuthVerdict TakeChallenge(ServerAuth* auth, const AuthOffers& offers, bool sentCredentials, bool sentAgain);

// After an answer other than 401 to a request that carried credentials.
void NoteCredentialsTaken(ServerAuth* auth);

// Authentication-Info after a Digest answer: a nextnonce replaces the kept one.
void TakeAuthenticationInfo(ServerAuth* auth, const char* header);
