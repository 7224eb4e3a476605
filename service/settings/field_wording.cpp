#include "service/settings/field_wording.h"

#include <stdio.h>
#include <string.h>

namespace {
// A problem holding part is said as the window's words.
struct Rewording {
  const char* part;
  const char* words;
};
struct FieldLabel {
  const char* option;
  const char* label;
};
}  // namespace

// Before the labels: the most common problems, said whole.
static const Rewording kRewordings[] = {
    {"needs --phone-address", "Address is missing"},
    {"needs a password", "Password: the phone asks for one"},
    {"--http-user needs --http-password", "Password: the user name goes with a password"},
    {"a password needs --http-user", "User is missing: the password goes with a user name"},
    {"--phone-endpoint (for example", "Endpoint is missing (for example PJSIP/201)"},
    {"is not a number from 1 to", "Line: a number from 1 to 99"},
    {"the --phone-address", "Address: the phone's name or IP address, with :PORT when it needs one"},
    {"starts with the national prefix", "Area code: digits only, without the leading 0"},
    {"--country takes", "Country code: 1 to 3 digits, the first not 0"},
    {"--area takes", "Area code: digits only"},
    {"--area needs --country", "Country code is missing: the area code needs it"},
    {"--outside takes", "Outside line: digits only"},
    {"nor the --http-body holds {number}", "URL: {number} is missing, where the number goes"},
    {"unknown option", "no such setting"},
};

static const FieldLabel kLabels[] = {
    {"phone", "Kind"},
    {"phone-address", "Address"},
    {"phone-https", "HTTPS"},
    {"phone-line", "Line"},
    {"phone-account", "Account"},
    {"phone-endpoint", "Endpoint"},
    {"phone-context", "Context"},
    {"http", "URL"},
    {"http-user", "User"},
    {"http-password", "Password"},
    {"http-password-env", "Password"},
    {"http-password-protected", "Password"},
    {"http-insecure", "Accept the phone's own certificate"},
    {"country", "Country code"},
    {"area", "Area code"},
    {"outside", "Outside line"},
    {"national-prefix", "National prefix"},
    {"international-prefix", "International prefix"},
    {"confirm", "Ask before each call"},
    {"dial-hotkey", "Dial key"},
    {"hang-up-hotkey", "Hang-up key"},
};

static bool IsOptionCharacter(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; }

// Every "--option" the labels know becomes its label; others stay.
static void PutLabels(const char* text, char* out, size_t size) {
  size_t used = 0;
  auto put = [&](const char* part, size_t length) {
    for (size_t i = 0; i < length && used + 1 < size; i++) out[used++] = part[i];
  };
  while (*text) {
    size_t length = 0;
    if (text[0] == '-' && text[1] == '-')
      while (IsOptionCharacter(text[2 + length])) length++;
    const char* label = nullptr;
    for (const FieldLabel& l : kLabels)
      if (length && strlen(l.option) == length && strncmp(text + 2, l.option, length) == 0) label = l.label;
    if (label) {
      put(label, strlen(label));
      text += 2 + length;
    } else {
      put(text, 1);
      text++;
    }
  }
  if (size) out[used] = 0;
}

void FieldWording(const char* problem, char* out, size_t size) {
  unsigned line = 0;
  int skipped = 0;
  char front[32] = "";
  if (sscanf(problem, "line %u: %n", &line, &skipped) == 1 && skipped > 0) {
    snprintf(front, sizeof front, "Line %u: ", line);
    problem += skipped;
  }
  for (const Rewording& r : kRewordings)
    if (strstr(problem, r.part)) {
      snprintf(out, size, "%s%s", front, r.words);
      return;
    }
  char labelled[512];
  PutLabels(problem, labelled, sizeof labelled);
  snprintf(out, size, "%s%s", front, labelled);
  if (size && out[0] >= 'a' && out[0] <= 'z' && !front[0]) out[0] = char(out[0] - 'a' + 'A');
}
