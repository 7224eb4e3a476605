// The service's side of HTTP/1.1 on the wire: the request as written, the
// answer as read in pieces, and what one server is sent of the credentials
// after each of its challenges. Pure, so it also runs in the sanitizer build.
#include <gtest/gtest.h>

#include <string>

#include "service/http/http_auth.h"
#include "service/http/http_wire.h"

TEST(HttpWire, RequestHeadAsSent) {
  char out[512];
  WireRequest post = {"POST", "/api?to=%2B49", "[::1]:8080", "X-Api-Key: k3y\r\n", "Basic YTpi", 25};
  ASSERT_NE(0u, WriteRequestHead(post, out, sizeof out));
  EXPECT_STREQ("POST /api?to=%2B49 HTTP/1.1\r\nHost: [::1]:8080\r\nUser-Agent: teldial-dial-service/1.0\r\n"
               "X-Api-Key: k3y\r\nAuthorization: Basic YTpi\r\nContent-Length: 25\r\n\r\n",
               out);
  WireRequest get = {"GET", "/", "phone", "", nullptr, 0};
  size_t length = WriteRequestHead(get, out, sizeof out);
  EXPECT_EQ(std::string("GET / HTTP/1.1\r\nHost: phone\r\nUser-Agent: teldial-dial-service/1.0\r\n\r\n"),
            std::string(out, length));
  EXPECT_EQ(0u, WriteRequestHead(get, out, 40)) << "cut requests are never sent";
  EXPECT_EQ(19u, WriteRequestTarget("/d?n=\xC3\xBC x\"1", out, sizeof out));
  EXPECT_STREQ("/d?n=%C3%BC%20x%221", out);
}

// Each answer arrives one byte at a time; the body ends where its framing says.
TEST(HttpWire, AnswersAreReadToTheirEndAndNoFurther) {
  struct Case {
    std::string bytes;
    bool http;
    unsigned status;
    std::string reason;
    BodyProgress end;  // after all bytes
    size_t bodyBytes;  // taken by the body
    bool keepAlive;
  };
  const std::string big(kMaxAnswerBodyBytes + 2, 'x');
  const Case cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabcNEXT", true, 200, "OK", kBodyDone, 3, true},
      {"HTTP/1.1 204 No Content\r\n\r\n", true, 204, "No Content", kBodyDone, 0, true},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3;x=y\r\nabc\r\n0\r\nT: 1\r\n\r\n", true, 200, "OK",
       kBodyDone, 23, true},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", true, 200, "OK", kBodyBroken, 0, true},
      {"HTTP/1.0 200 OK\nContent-Length: 1\n\nx", true, 200, "OK", kBodyDone, 1, false},
      {"HTTP/1.1 401 Unauthorized\r\nConnection: close\r\nContent-Length: 2\r\n\r\nno", true, 401, "Unauthorized",
       kBodyDone, 2, false},
      {"HTTP/1.1 200 OK\r\n\r\nuntil the end", true, 200, "OK", kBodyMore, 13, false},
      {"HTTP/1.1 200 OK\r\n\r\n" + big, true, 200, "OK", kBodyTooLong, kMaxAnswerBodyBytes + 1, false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n", false, 0, "", kBodyMore, 0, false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n", false, 0, "", kBodyMore, 0, false},
      {"ICY 200 OK\r\n\r\n", false, 0, "", kBodyMore, 0, false},
      {"HTTP/1.1 20 OK\r\n\r\n", false, 0, "", kBodyMore, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes.substr(0, 60));
    size_t head = 0;
    for (size_t have = 1; have <= c.bytes.size() && !head; have++) head = FindAnswerHeadEnd(c.bytes.data(), have);
    ASSERT_NE(0u, head);
    AnswerHead answer;
    ASSERT_EQ(c.http, ParseAnswerHead(c.bytes.data(), head, &answer));
    if (!c.http) continue;
    EXPECT_EQ(c.status, answer.status);
    EXPECT_EQ(c.reason, std::string(answer.reason, answer.reasonLength));
    BodyReader reader;
    StartBody(&reader, answer);
    BodyProgress progress = kBodyMore;
    size_t taken = 0;
    for (size_t at = head; at < c.bytes.size() && progress == kBodyMore; at++) {
      size_t used = 0;
      progress = ReadBody(&reader, c.bytes.data() + at, 1, &used);
      taken += used;
    }
    if (head == c.bytes.size()) progress = ReadBody(&reader, "", 0, &taken);
    EXPECT_EQ(c.end, progress);
    EXPECT_EQ(c.bodyBytes, taken);
    EXPECT_EQ(c.keepAlive, answer.keepAlive);
  }
}

// A click after another, as the server answers: what the next request carries
// up front and whether this one is made once more.
TEST(HttpAuth, OneRequestPerClickAndNeverBasicAfterDigest) {
  const char* kDigestMd5 = "Digest realm=\"r\", nonce=\"n1\", qop=\"auth\", algorithm=MD5";
  const char* kDigestStale = "Digest realm=\"r\", nonce=\"n2\", qop=\"auth\", stale=true";
  const char* kDigestStrong = "Digest realm=\"r\", nonce=\"n3\", algorithm=SHA-512-256";
  const char* kBasic = "Basic realm=\"r\"";
  struct Step {
    const char* offers[2];  // the 401's challenges; none: the answer was not 401
    bool sentCredentials, sentAgain;
    AuthVerdict verdict;
    AuthScheme next;
  };
  struct Case {
    const char* name;
    Step steps[4];
  };
  const Case cases[] = {
      {"Basic, right password", {{{kBasic}, false, false, kAuthSendAgain, kAuthBasic}, {{}, true, true}}},
      {"Basic, wrong password: one refused login per click",
       {{{kBasic}, false, false, kAuthSendAgain, kAuthBasic},
        {{kBasic}, true, true, kAuthRefused, kAuthBasic},
        {{kBasic}, true, false, kAuthRefused, kAuthBasic}}},
      {"Digest preferred over Basic", {{{kBasic, kDigestMd5}, false, false, kAuthSendAgain, kAuthDigest}}},
      {"a stale nonce is tried once more",
       {{{kDigestMd5}, false, false, kAuthSendAgain, kAuthDigest},
        {{}, true, true},
        {{kDigestStale}, true, false, kAuthSendAgain, kAuthDigest},
        {{kDigestStale}, true, true, kAuthRefused, kAuthDigest}}},
      {"taken before, refused now: one more try",
       {{{kDigestMd5}, false, false, kAuthSendAgain, kAuthDigest},
        {{}, true, true},
        {{kDigestMd5}, true, false, kAuthSendAgain, kAuthDigest},
        {{kDigestMd5}, true, true, kAuthRefused, kAuthDigest}}},
      {"an unanswerable Digest draws no Basic",
       {{{kDigestStrong, kBasic}, false, false, kAuthUnanswerable, kAuthNone}}},
      {"Basic offered after Digest is not taken",
       {{{kDigestMd5}, false, false, kAuthSendAgain, kAuthDigest},
        {{kBasic}, true, true, kAuthUnanswerable, kAuthNone},
        {{kBasic}, false, false, kAuthUnanswerable, kAuthNone}}},
      {"neither scheme", {{{"Bearer realm=\"r\""}, false, false, kAuthNoKnownScheme, kAuthNone}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServerAuth auth = {};
    for (const Step& step : c.steps) {
      if (!step.offers[0] && !step.sentCredentials) break;
      if (!step.offers[0]) {
        NoteCredentialsTaken(&auth);
        continue;
      }
      AuthOffers offers;
      StartAuthOffers(&offers);
      for (const char* offer : step.offers)
        if (offer) NoteAuthOffer(&offers, offer);
      EXPECT_EQ(step.verdict, TakeChallenge(&auth, offers, step.sentCredentials, step.sentAgain)) << step.offers[0];
      EXPECT_EQ(step.next, auth.scheme) << step.offers[0];
    }
  }
  ServerAuth auth = {};
  auth.scheme = kAuthDigest;
  auth.nonceCount = 3;
  TakeAuthenticationInfo(&auth, "qop=auth, nextnonce=\"n9\"");
  EXPECT_STREQ("n9", auth.digest.nonce);
  EXPECT_EQ(0u, auth.nonceCount);
}
