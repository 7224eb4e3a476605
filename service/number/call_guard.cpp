#include "service/number/call_guard.h"

#include <stdio.h>
#include <string.h>

#include "service/number/dialing_rules.h"
#include "service/number/log_text.h"
#include "service/number/service_text.h"

// The prefix as it may be shown in a one-line problem: its start in UTF-8,
// escaped like any outside text.
static void ShownPrefix(const char16_t* prefix, char* shown, size_t size) {
  char utf8[3 * kMaxBlockPrefixLength + 8];
  size_t used = 0;
  for (size_t units; *prefix; prefix += units) {
    char bytes[4];
    size_t count = EncodeUtf8CodePoint(ReadUtf16CodePoint(prefix, &units), bytes);
    if (used + count + 3 > sizeof utf8) {
      memcpy(utf8 + used, "...", 3);
      used += 3;
      break;
    }
    memcpy(utf8 + used, bytes, count);
    used += count;
  }
  FormatTextForLog(utf8, used, shown, size);
}

bool AddBlockPrefix(BlockList* list, const char16_t* prefix, char* problem, size_t size) {
  char shown[kMaxFormattedTextSize];
  ShownPrefix(prefix, shown, sizeof shown);
  if (!*prefix) return RefuseWith(problem, size, "--block needs a prefix of digits, +, * and #");
  size_t length = 0;
  for (; prefix[length]; length++) {
    char16_t c = prefix[length];
    if (c == u'+' && length > 0) return RefuseWith(problem, size, "--block %s may hold a + only at its start", shown);
    if (!((c >= u'0' && c <= u'9') || c == u'+' || c == u'*' || c == u'#'))
      return RefuseWith(problem, size, "--block %s may hold only digits, +, * and #", shown);
  }
  if (length > kMaxBlockPrefixLength)
    return RefuseWith(problem, size, "--block %s is longer than %u characters", shown, unsigned(kMaxBlockPrefixLength));
  if (list->count == kMaxBlockPrefixes)
    return RefuseWith(problem, size, "more than %u --block options", unsigned(kMaxBlockPrefixes));
  char* kept = list->prefixes[list->count++];
  for (size_t i = 0; i <= length; i++) kept[i] = char(prefix[i]);
  return true;
}

// A form of the number to compare: "+", digits, "*" and "#" only.
const size_t kMaxFormLength = kMaxDialledLength + kMaxRuleDigits + 2;

static bool StartsWith(const char* text, const char* prefix) { return strncmp(text, prefix, strlen(prefix)) == 0; }

static const char* PrefixOf(const BlockList& list, const char* form) {
  for (size_t i = 0; i < list.count; i++)
    if (StartsWith(form, list.prefixes[i])) return list.prefixes[i];
  return nullptr;
}

// A dialer waits at a pause and dials on, so the pauses are left out: they
// must not split a blocked prefix.
static void WithoutPauses(const char* number, char* form) {
  for (; *number; number++)
    if (*number != ',' && *number != 'p' && *number != 'w') *form++ = *number;
  *form = 0;
}

static void Join(char* form, const char* first, const char* second, const char* rest) {
  snprintf(form, kMaxFormLength + 1, "%s%s%s", first, second, rest);
}

namespace {
struct NumberForms {
  const BlockList& list;
  const char* country;  // "" when none
  const char* nationalPrefix;
  const char* internationalPrefix;
  const char* outside;
};
}  // namespace

// An international number, its digits from international on, in every way
// to write the same call: within the country as "+CC..." and national, abroad
// as "+...", "00..." (as people write it) and with the rules' prefix.
static const char* PrefixOfInternational(const NumberForms& forms, const char* international) {
  // No country code starts with 0: zeros there are a prefix written twice
  // ("0 00 0049 900..."), which an exchange may skip, so the call is taken
  // to go where the digits after them lead.
  while (*international == '0') international++;
  if (*international < '1' || *international > '9') return nullptr;
  char form[kMaxFormLength + 1];
  const char* found;
  if (*forms.country && StartsWith(international, forms.country)) {
    // "+49 (0) 900...": the trunk 0 written after the country code is no digit of the number.
    const char* national = international + strlen(forms.country);
    if (*national == '0') national++;
    Join(form, "+", forms.country, national);
    if ((found = PrefixOf(forms.list, form))) return found;
    Join(form, forms.nationalPrefix, national, "");
    return PrefixOf(forms.list, form);
  }
  Join(form, "+", international, "");
  if ((found = PrefixOf(forms.list, form))) return found;
  Join(form, "00", international, "");
  if ((found = PrefixOf(forms.list, form))) return found;
  Join(form, forms.internationalPrefix, international, "");
  return PrefixOf(forms.list, form);
}

// number as it stands and as the call it makes. asWritten: as a link wrote
// it, where "00" starts an international number whatever the rules say;
// otherwise as the public network gets it, where only the rules' prefix does.
static const char* PrefixOfNumber(const NumberForms& forms, const char* number, bool asWritten) {
  const char* found = PrefixOf(forms.list, number);
  if (found) return found;
  if (number[0] == '+') return PrefixOfInternational(forms, number + 1);
  if (StartsWith(number, forms.internationalPrefix))
    return PrefixOfInternational(forms, number + strlen(forms.internationalPrefix));
  if (asWritten && StartsWith(number, "00")) return PrefixOfInternational(forms, number + 2);
  if (*forms.country && *forms.nationalPrefix && StartsWith(number, forms.nationalPrefix)) {
    char international[kMaxFormLength + 1];
    Join(international, forms.country, number + strlen(forms.nationalPrefix), "");
    return PrefixOfInternational(forms, international);
  }
  return nullptr;
}

// The phone system takes a leading outside prefix for the line and dials the
// rest, so "0 0900..." with --outside 0 is the call "0900...".
static const char* PrefixOfCall(const NumberForms& forms, const char* number) {
  const char* found = PrefixOfNumber(forms, number, true);
  if (!found && *forms.outside && StartsWith(number, forms.outside))
    found = PrefixOfNumber(forms, number + strlen(forms.outside), false);
  return found;
}

const char* FindBlockingPrefix(const BlockList& list, const DialingRules& rules, const char* normalised) {
  if (!list.count) return nullptr;
  NumberForms forms = {list, rules.digits[kRuleCountry], rules.digits[kRuleNationalPrefix],
                       rules.digits[kRuleInternationalPrefix], rules.digits[kRuleOutside]};
  char number[kMaxFormLength + 1];
  WithoutPauses(normalised, number);
  const char* found;
  // What the network gets once the phone system took the outside prefix:
  // "+49 5555 00123" dialled locally as "0 00123" is a call abroad there.
  char dialled[kMaxDialledLength + 1];
  if (ApplyDialingRules(rules, number, dialled) != kDialledAsWritten &&
      (found = PrefixOfNumber(forms, dialled + strlen(forms.outside), false)))
    return found;
  if ((found = PrefixOfCall(forms, number))) return found;
  // A feature code carries a number after its "*" or "#" ("*21*0900...#"
  // forwards calls there), so each such rest is a number of its own.
  for (const char* at = number; *at; at++)
    if ((*at == '*' || *at == '#') && (found = PrefixOfCall(forms, at + 1))) return found;
  return nullptr;
}

bool IsFeatureCode(const char* normalised) {
  // A pause or a "+" in front does not change what the phone system makes of the rest.
  while (*normalised == '+' || *normalised == ',' || *normalised == 'p' || *normalised == 'w') normalised++;
  return *normalised == '*' || *normalised == '#';
}

void InitCallBrake(CallBrake* brake, unsigned limit, unsigned seconds) {
  memset(brake, 0, sizeof *brake);
  brake->limit = limit < kMaxCallsLimit ? limit : kMaxCallsLimit;
  brake->windowMs = seconds * 1000ULL;
}

// A clock read on another thread may lag by a little: never negative.
static unsigned long long Since(unsigned long long earlier, unsigned long long nowMs) {
  return nowMs > earlier ? nowMs - earlier : 0;
}

BrakeVerdict NoteNumberArrival(CallBrake* brake, unsigned long long nowMs) {
  if (!brake->limit) return kBrakeOpen;
  if (brake->engaged) {
    bool quiet = Since(brake->lastArrival, nowMs) >= brake->windowMs;
    brake->lastArrival = nowMs;
    if (!quiet) return kBrakeHeld;
    brake->engaged = false;
    brake->count = 0;
    brake->next = 0;
  }
  brake->lastArrival = nowMs;
  // With the ring full, its next slot holds the oldest of the last limit arrivals.
  if (brake->count == brake->limit && Since(brake->arrivals[brake->next], nowMs) < brake->windowMs) {
    brake->engaged = true;
    return kBrakeEngaged;
  }
  brake->arrivals[brake->next] = nowMs;
  brake->next = (brake->next + 1) % brake->limit;
  if (brake->count < brake->limit) brake->count++;
  return kBrakeOpen;
}

bool NoteRefusal(RefusalTally* tally, unsigned long long nowMs, unsigned loggedInFull, RefusalSummary* due) {
  *due = RefusalSummary{0, 0};
  if (tally->active && Since(tally->firstMs, nowMs) < kRefusalSummaryMs) {
    tally->lastMs = nowMs;
    if (tally->logged < loggedInFull) {
      tally->logged++;
      return true;
    }
    tally->count++;
    return false;
  }
  if (tally->active) *due = RefusalSummary{tally->count, Since(tally->firstMs, tally->lastMs)};
  *tally = RefusalTally{true, nowMs, 0, nowMs, 1};
  return true;
}

RefusalSummary TakeEndedRefusals(RefusalTally* tally, unsigned long long nowMs) {
  RefusalSummary summary = {0, 0};
  if (!tally->active || Since(tally->firstMs, nowMs) < kRefusalSummaryMs) return summary;
  summary = RefusalSummary{tally->count, Since(tally->firstMs, tally->lastMs)};
  *tally = RefusalTally{};
  return summary;
}

size_t FormatRefusalSummary(const RefusalSummary& summary, char* text, size_t size) {
  if (!size) return 0;
  text[0] = 0;
  if (!summary.count) return 0;
  // The count with a comma between each group of three digits.
  char digits[24], grouped[32];
  int length = snprintf(digits, sizeof digits, "%lu", summary.count);
  size_t used = 0;
  for (int i = 0; i < length; i++) {
    if (i && (length - i) % 3 == 0) grouped[used++] = ',';
    grouped[used++] = digits[i];
  }
  grouped[used] = 0;
  unsigned long long seconds = (summary.spanMs + 500) / 1000;
  int written = snprintf(text, size, "\xE2\x80\xA6 %s more like this in %llu s", grouped, seconds ? seconds : 1);
  return written < 0 ? 0 : size_t(written) < size ? size_t(written) : size - 1;
}
