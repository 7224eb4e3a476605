// The command-line tokenizer against an independent state-machine model: for
// any text the count, every fetched token, fetches by index and fetches past
// the end must agree with the model, and no token may reach outside the text.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "runtime/process/command_line.h"

namespace {
struct Span {
  size_t start;
  size_t length;
};

// Each unit is looked at once; the state says what it means.
std::vector<Span> ModelTokens(const std::u16string& text) {
  enum State { kBetween, kQuotedToken, kPlain, kPlainQuoted } state = kBetween;
  std::vector<Span> tokens;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); i++) {
    char16_t unit = text[i];
    switch (state) {
      case kBetween:
        if (unit == u'"') {
          start = i + 1;
          state = kQuotedToken;
        } else if (unit != u' ') {
          start = i;
          state = kPlain;
        }
        break;
      case kQuotedToken:
        if (unit == u'"') {
          tokens.push_back({start, i - start});
          state = kBetween;
        }
        break;
      case kPlain:
        if (unit == u' ') {
          tokens.push_back({start, i - start});
          state = kBetween;
        } else if (unit == u'"') {
          state = kPlainQuoted;
        }
        break;
      case kPlainQuoted:
        if (unit == u'"') state = kPlain;
        break;
    }
  }
  if (state != kBetween) tokens.push_back({start, text.size() - start});
  return tokens;
}

// What the parameter reader hands out: the raw token without its quotes, in a
// temporary first made for the raw length and then shrunk.
String ArgumentFrom(const RawToken& token) {
  String argument = AllocateTempString(token.length);
  int32_t kept = 0;
  for (int32_t i = 0; i < token.length; i++)
    if (token.start[i] != u'"') argument[kept++] = token.start[i];
  argument[kept] = 0;
  return ResizeString(argument, kept);
}

void CheckFetchedArgument(const char16_t* line, size_t lineLength, const RawToken& token,
                          const Span& expected) {
  FUZZ_CHECK(token.length >= 0 && size_t(token.length) <= lineLength);
  FUZZ_CHECK(token.start >= line && token.start + token.length <= line + lineLength);
  FUZZ_CHECK(size_t(token.length) == expected.length);
  FUZZ_CHECK(size_t(token.start - line) == expected.start);

  String argument = ArgumentFrom(token);
  std::u16string unquoted(token.start, size_t(token.length));
  unquoted.erase(std::remove(unquoted.begin(), unquoted.end(), u'"'), unquoted.end());
  FUZZ_CHECK(IsTemporary(argument));
  FUZZ_CHECK(HoldsText(argument, unquoted));
  FreeTempString(argument);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  StartFuzzedCore();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string text = UpToTerminator(UnitsFromBytes(data, size));
  // Exactly as long as the text and its terminator, so any read past the end is caught.
  std::unique_ptr<char16_t[]> line(new char16_t[text.size() + 1]);
  memcpy(line.get(), text.c_str(), 2 * (text.size() + 1));
  const char16_t* commandLine = line.get();

  std::vector<Span> tokens = ModelTokens(text);
  int32_t count = CountCommandLineArguments(commandLine);
  FUZZ_CHECK(count == int32_t(tokens.size()) - 1);

  // Fetching one after another, as GetParameter with a negative index does.
  int32_t cursor = 0;
  int32_t fetched = 0;
  RawToken token;
  while (FetchCommandLineArgument(commandLine, &cursor, &token)) {
    fetched++;
    FUZZ_CHECK(cursor == fetched);
    FUZZ_CHECK(size_t(fetched) < tokens.size());
    CheckFetchedArgument(commandLine, text.size(), token, tokens[size_t(fetched)]);
  }
  FUZZ_CHECK(fetched == (count < 0 ? 0 : count));

  // Past the end: an empty token and the cursor where it was.
  FUZZ_CHECK(token.length == 0);
  FUZZ_CHECK(cursor == fetched);
  FUZZ_CHECK(!FetchCommandLineArgument(commandLine, &cursor, &token));
  FUZZ_CHECK(token.length == 0 && cursor == fetched);

  // Fetching by index, including indexes well past the end.
  for (int32_t index : {0, count / 2, count - 1, count, count + 5}) {
    if (index < 0) continue;
    cursor = index;
    bool found = FetchCommandLineArgument(commandLine, &cursor, &token);
    FUZZ_CHECK(found == (index < count));
    FUZZ_CHECK(cursor == (found ? index + 1 : index));
    if (found) CheckFetchedArgument(commandLine, text.size(), token, tokens[size_t(index) + 1]);
    else FUZZ_CHECK(token.length == 0);
  }
  return 0;
}
