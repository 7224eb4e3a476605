// The dial service's --http text parts on any input: a URL template that parses
// has its parts inside the text and a host and port of their kind, the number
// goes into any template without writing past the buffer, and neither header
// options, Digest challenges nor command lines can make the parsers read or
// write outside their input.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_support.h"
#include "service/http/http_auth.h"
#include "service/http/http_digest.h"
#include "service/sinks/http_template.h"
#include "service/http/http_wire.h"
#include "service/settings/service_options.h"

namespace {
void CheckUrl(const std::u16string& text) {
  UrlTemplate url;
  if (ParseUrlTemplate(text.c_str(), &url) != kUrlParsed) return;
  if (url.port == 0 || url.host[0] == 0) abort();
  bool pathInText = url.path >= text.c_str() && url.path <= text.c_str() + text.size();
  if (!pathInText && !(url.path[0] == u'/' && url.path[1] == 0)) abort();
  for (const char16_t* c = url.path; *c; c++)
    if (*c <= u' ' || *c == u'#') abort();
}

void CheckExpansion(const std::u16string& text) {
  // Buffers of every small size and one that fits, so the cut-off is exercised.
  for (size_t size = 1; size < 24; size += 5) {
    std::vector<char16_t> out(size + 8, u'\xABCD');
    size_t length = ExpandNumberField(text.c_str(), "+49*#,p", true, out.data(), size);
    for (size_t i = size; i < out.size(); i++)
      if (out[i] != u'\xABCD') abort();
    if (length != SIZE_MAX && (length >= size || out[length] != 0)) abort();
  }
}

void CheckOptions(const std::u16string& text) {
  // Zero units split the text into arguments, as a command line would.
  std::vector<std::u16string> words(1, u"dial-service");
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); i++) {
    if (i == text.size() || text[i] == 0) {
      words.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  std::vector<const char16_t*> argv;
  for (const std::u16string& word : words) argv.push_back(word.c_str());
  ServiceOptions options;
  char problem[kMaxOptionProblem];
  if (!ParseServiceOptions(int(argv.size()), argv.data(), &options, problem) &&
      strnlen(problem, kMaxOptionProblem) == kMaxOptionProblem)
    abort();
}
// An answer as a server might send it, in pieces of every size: nothing is
// read outside it, and its body never takes more than it was given.
void CheckAnswer(const std::string& bytes) {
  size_t headLength = FindAnswerHeadEnd(bytes.data(), bytes.size());
  AnswerHead answer;
  if (!headLength || !ParseAnswerHead(bytes.data(), headLength, &answer)) return;
  if (answer.reason + answer.reasonLength > bytes.data() + headLength) abort();
  size_t cursor = 0;
  const char* value;
  size_t length;
  AuthOffers offers;
  StartAuthOffers(&offers);
  while (NextHeaderValue(answer, "WWW-Authenticate", &cursor, &value, &length)) {
    if (value < answer.fields || value + length > answer.fields + answer.fieldsLength) abort();
    NoteAuthOffer(&offers, std::string(value, length).c_str());
  }
  for (size_t piece = 1; piece <= 7; piece += 3) {
    BodyReader reader;
    StartBody(&reader, answer);
    for (size_t at = headLength; at < bytes.size();) {
      size_t given = bytes.size() - at < piece ? bytes.size() - at : piece;
      size_t used = 0;
      BodyProgress progress = ReadBody(&reader, bytes.data() + at, given, &used);
      if (used > given) abort();
      if (progress != kBodyMore) break;
      at += given;
    }
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string units = UnitsFromBytes(data, size);
  std::u16string text = UpToTerminator(units);
  CheckUrl(text);
  CheckExpansion(text);
  CheckHeaderOption(text.c_str());
  CheckOptions(units);
  std::string header(reinterpret_cast<const char*>(data), size);
  header = header.substr(0, header.find('\0'));
  DigestChallenge challenge;
  if (ParseDigestChallenge(header.c_str(), &challenge) &&
      (strlen(challenge.realm) >= kMaxDigestValue || strlen(challenge.nonce) >= kMaxDigestValue))
    abort();
  CheckAnswer(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
