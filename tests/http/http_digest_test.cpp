// Digest answers computed with the system's own hashes (BCrypt) against the
// published examples, and the client nonces.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "service/http/digest_hash_win.h"
#include "service/http/http_digest.h"

TEST(DigestAuthorization, PublishedExamplesComputedWithTheSystemHashes) {
  struct Case {
    const char* challenge;
    const char* password;
    const char* cnonce;
    unsigned long count;
    std::string expected;
  };
  const Case cases[] = {
      // RFC 7616, 3.9.1, with MD5 and with SHA-256.
      {"Digest realm=\"http-auth@example.org\", qop=\"auth, auth-int\", algorithm=MD5, "
       "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"",
       "Circle of Life", "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ", 1,
       "Digest username=\"Mufasa\", realm=\"http-auth@example.org\", "
       "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", uri=\"/dir/index.html\", algorithm=MD5, "
       "response=\"8ca523f5e9506fed4657c9700eebdbec\", qop=auth, nc=00000001, "
       "cnonce=\"f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ\", opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\""},
      {"Digest realm=\"http-auth@example.org\", qop=\"auth, auth-int\", algorithm=SHA-256, "
       "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"",
       "Circle of Life", "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ", 1,
       "Digest username=\"Mufasa\", realm=\"http-auth@example.org\", "
       "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", uri=\"/dir/index.html\", algorithm=SHA-256, "
       "response=\"753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1\", qop=auth, nc=00000001, "
       "cnonce=\"f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ\", opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\""},
      // RFC 2617, 3.5, with qop, then the same without qop and with MD5-sess.
      {"Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
       "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"",
       "Circle Of Life", "0a4f113b", 1,
       "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
       "uri=\"/dir/index.html\", response=\"6629fae49393a05397450978507c4ef1\", qop=auth, nc=00000001, "
       "cnonce=\"0a4f113b\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\""},
      {"Digest realm=\"testrealm@host.com\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\"", "Circle Of Life",
       "0a4f113b", 1,
       "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
       "uri=\"/dir/index.html\", response=\"670fd8c2df070c60b045671b8b24ff02\""},
      {"Digest realm=\"testrealm@host.com\", qop=auth, algorithm=MD5-sess, nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\"",
       "Circle Of Life", "0a4f113b", 2,
       "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
       "uri=\"/dir/index.html\", algorithm=MD5-sess, response=\"d16df0df0d92cef8935129145e21b5e1\", qop=auth, "
       "nc=00000002, cnonce=\"0a4f113b\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.challenge);
    DigestChallenge challenge;
    ASSERT_TRUE(ParseDigestChallenge(c.challenge, &challenge));
    DigestAnswer answer = {"Mufasa", c.password, "GET", "/dir/index.html", c.cnonce, c.count};
    char out[1024];
    EXPECT_EQ(c.expected.size(), BuildDigestAuthorization(challenge, answer, DigestHashHex, out, sizeof out));
    EXPECT_EQ(c.expected, out);
    EXPECT_EQ(0u, BuildDigestAuthorization(challenge, answer, DigestHashHex, out, c.expected.size()))
        << "one byte short";
  }
  DigestChallenge challenge;
  ASSERT_TRUE(ParseDigestChallenge("Digest realm=\"r\", nonce=\"n\"", &challenge));
  DigestAnswer quoted = {"a\"b", "p", "GET", "/", "c", 1};
  char out[256];
  EXPECT_EQ(0u, BuildDigestAuthorization(challenge, quoted, DigestHashHex, out, sizeof out))
      << "a user name that would end the quoted string";
}

TEST(DigestAuthorization, ClientNoncesAreFreshHex) {
  char first[33], second[33];
  ASSERT_TRUE(RandomHex(16, first));
  ASSERT_TRUE(RandomHex(16, second));
  EXPECT_EQ(32u, strlen(first));
  EXPECT_STRNE(first, second);
  EXPECT_EQ(strspn(first, "0123456789abcdef"), 32u);
}
