#pragma once
// What the service refuses before a number reaches the phone: prefixes the
// operator blocked, phone-system feature codes, and more numbers at once than
// a person clicks; and how repeated refusals are summarised in the log so that
// a flood cannot push the record of a real call out of it. Pure logic: the
// caller passes the time in milliseconds from any steady clock.
#include <stddef.h>

const size_t kMaxBlockPrefixes = 32;
const size_t kMaxBlockPrefixLength = 32;

// --block PREFIX, repeated: digits, "+", "*" and "#".
struct BlockList {
  char prefixes[kMaxBlockPrefixes][kMaxBlockPrefixLength + 1];
  size_t count;
};
// False with one line in problem (size bytes) for an empty or malformed prefix,
// a longer one or one too many.
bool AddBlockPrefix(BlockList* list, const char16_t* prefix, char* problem, size_t size);
// The prefix that the number starts with, or null. normalised: the number as
// accepted ("+49900..." or "0900..."). Prefixes are written as a person
// dials from a phone outside the phone system (no outside-line prefix), so
// the number is compared as written, with a leading --outside prefix taken
// off, and as the public network gets it after the rules; each of these in
// its other forms too. A national number (the rules' national prefix, not
// their international one) is also compared as +CC..., so that "+49900" and
// "0900" both catch "0900 123" with --country 49.
// In full: pauses are left out; with the country code, a call within the
// country written "0...", "+CC...", "+CC0..." ("+49 (0) 900") or "00CC..." is
// compared as "0..." and as "+CC..." (0: the national prefix); any other
// "+..." or international number as "+...", as "00..." and with the
// international prefix, so that "00" blocks calls abroad only. "00" starts an
// international number as written; after the outside prefix, only the rules'
// international prefix does. The rest after each "*" or "#" is compared the
// same way, so that a feature code cannot carry a blocked number
// ("*21*0900...#").
struct DialingRules;
const char* FindBlockingPrefix(const BlockList& list, const DialingRules& rules, const char* normalised);

// A number starting with "*" or "#": a code that the phone system carries out
// (call forwarding, say) rather than a call.
bool IsFeatureCode(const char* normalised);

// More than limit numbers within windowMs: the rest are refused until windowMs
// pass without any. limit 0: never.
const unsigned kMaxCallsLimit = 1000;
const unsigned kDefaultMaxCalls = 5;
const unsigned kDefaultMaxCallsSeconds = 10;
struct CallBrake {
  unsigned limit;
  unsigned long long windowMs;
  unsigned long long arrivals[kMaxCallsLimit];  // a ring of the last limit arrivals
  size_t next;
  size_t count;
  bool engaged;
  unsigned long long lastArrival;
};
void InitCallBrake(CallBrake* brake, unsigned limit, unsigned seconds);
enum BrakeVerdict {
  kBrakeOpen,     // the number may go on
  kBrakeEngaged,  // refused, the first of this run (tell the user once)
  kBrakeHeld,     // refused, the brake was on already
};
BrakeVerdict NoteNumberArrival(CallBrake* brake, unsigned long long nowMs);

// Repeated refusals of one kind: the first few are logged, the rest within
// kRefusalSummaryMs of the first counted, and the count logged once as a
// summary line.
const unsigned long long kRefusalSummaryMs = 10000;
struct RefusalTally {
  bool active;
  unsigned long long firstMs;
  unsigned long count;  // refusals counted, not logged, since firstMs
  unsigned long long lastMs;  // the last refusal noted
  unsigned long logged;       // refusals of this run logged in full
};
struct RefusalSummary {
  unsigned long count;       // 0: nothing to say
  unsigned long long spanMs; // from the logged refusal to the last counted one
};
// True when this refusal is to be logged in full: one of the first
// loggedInFull (at least 1) of its run. *due: the summary of the run this
// refusal ends, to be logged first (count 0 when none).
bool NoteRefusal(RefusalTally* tally, unsigned long long nowMs, unsigned loggedInFull, RefusalSummary* due);
// The summary of a run that has ended by time alone (count 0 when none); the
// tally is then reset.
RefusalSummary TakeEndedRefusals(RefusalTally* tally, unsigned long long nowMs);
// "… 3,412 more like this in 10 s" into text (size bytes); its length.
size_t FormatRefusalSummary(const RefusalSummary& summary, char* text, size_t size);
