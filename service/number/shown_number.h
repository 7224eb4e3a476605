#pragma once
// What the confirmation window shows of a number: the text as the page wrote
// it, decoded so that a person recognises it, and what a feature code does.
// Pure logic, no Windows.
#include <stddef.h>

// A buffer this large always holds FormatWrittenNumber's result.
const size_t kMaxWrittenNumberSize = 4 * 200 + 8;

// The text after "dial " as the page wrote the number: blanks at either end
// and one leading "tel:", "callto:", "sip:" or "sips:" (and the "//" after it)
// dropped; each %XX decoded once and characters folded as the normaliser
// reads them (phone_characters.h), so "%20" is a blank and a full-width digit
// a digit; every other character kept, escaped as the log escapes outside
// text (log_text.h), so that a control or bidirectional character cannot make
// the text look like another number. Cut after about 200 bytes with "...".
// Writes at most size - 1 bytes and a 0 (size at least kMaxWrittenNumberSize
// for the whole); returns the bytes written.
size_t FormatWrittenNumber(const char* raw, size_t length, char* out, size_t size);

// For a feature code (normalised: starts with "*" or "#"), what it does:
// "turns on call forwarding of every call, to 0301234", or "" when it is not
// one of the common supplementary-service codes of GSM and ETSI networks
// (3GPP TS 22.030), which PBXs and phones mostly take alike. False when
// normalised is no feature code.
bool DescribeFeatureCode(const char* normalised, char* out, size_t size);
