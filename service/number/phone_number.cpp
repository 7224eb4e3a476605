#include "service/number/phone_number.h"

#include "service/number/phone_characters.h"

static bool IsEdgeBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

static bool IsSeparator(char c) { return c == ' ' || c == '-' || c == '.' || c == '(' || c == ')' || c == '/'; }

static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

static char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

static bool IsLetter(char c) { return Lower(c) >= 'a' && Lower(c) <= 'z'; }

static bool IsPause(char c) { return c == ',' || Lower(c) == 'p' || Lower(c) == 'w'; }

static bool IsKeptSymbol(char c) { return IsDigit(c) || c == '*' || c == '#' || c == ',' || c == '+'; }

static char KeypadDigit(char letter) {
  static const char kKeypad[] = "22233344455566677778889999";
  return kKeypad[Lower(letter) - 'a'];
}

// Whether text[begin, end) is word (lower case), compared without case; with
// prefix, whether it starts with it.
static bool MatchesWord(const char* text, size_t begin, size_t end, const char* word, bool prefix) {
  size_t i = begin;
  for (; *word; word++, i++)
    if (i == end || Lower(text[i]) != *word) return false;
  return prefix || i == end;
}

// The index of the first c in text[begin, end), or end.
static size_t FindByte(const char* text, size_t begin, size_t end, char c) {
  while (begin < end && text[begin] != c) begin++;
  return begin;
}

static void Reject(NormalizedNumber* number, NumberVerdict verdict, size_t position) {
  number->verdict = verdict;
  number->length = 0;
  number->position = position;
  number->digits[0] = 0;
}

// Past the limit the rest is still read, so that a fault further on is
// reported as what it is.
static void Keep(NormalizedNumber* number, size_t* kept, char c) {
  if (*kept < kMaxNumberLength) number->digits[*kept] = c;
  (*kept)++;
}

// The bytes raw[begin, end) of a "(0)" that follows the country code, or
// begin == end when there is none.
struct ByteSpan {
  size_t begin;
  size_t end;
};

// Reads the next character into c; false at the end.
static bool ReadNext(const char* raw, size_t end, size_t* at, PhoneCharacter* c) {
  if (*at == end) return false;
  *c = ReadPhoneCharacter(raw, end, at);
  return true;
}

static bool IsAscii(const PhoneCharacter& c, char ascii) { return c.kind == kCharacterAscii && c.ascii == ascii; }

static bool IsDigit(const PhoneCharacter& c) { return c.kind == kCharacterAscii && IsDigit(c.ascii); }

static bool IsSeparatorButParenthesis(const PhoneCharacter& c) {
  return c.kind == kCharacterAscii && IsSeparator(c.ascii) && c.ascii != '(' && c.ascii != ')';
}

// In reading order: separators, "+" and one to three digits, separators other
// than parentheses, then "(0)". A group of more digits is no country code as
// written, so a "(0)" after it is left as it stands. "00" in front of the code
// in the same group stands for the "+" ("0049 (0)30 ..."): it is the
// international prefix of most countries, and a number that starts with "00",
// a country code and "(0)" is written that way for no other reason.
static ByteSpan FindTrunkPrefix(const char* raw, size_t begin, size_t end) {
  const ByteSpan none = {end, end};
  size_t at = begin;
  PhoneCharacter c;
  do {
    if (!ReadNext(raw, end, &at, &c)) return none;
  } while (IsSeparatorButParenthesis(c));
  bool plus = IsAscii(c, '+');
  char group[4] = {0, 0, 0, 0};  // its first digits
  size_t groupDigits = 0;
  size_t start = at;
  if (!plus) {
    if (!IsDigit(c)) return none;
    group[groupDigits++] = c.ascii;
  }
  for (;;) {
    start = at;
    if (!ReadNext(raw, end, &at, &c)) return none;
    if (!IsDigit(c)) break;
    if (groupDigits < sizeof group) group[groupDigits] = c.ascii;
    groupDigits++;
  }
  size_t countryDigits = groupDigits;
  if (!plus) {
    if (group[0] != '0' || group[1] != '0' || group[2] == '0') return none;
    countryDigits -= 2;
  }
  if (countryDigits < 1 || countryDigits > 3) return none;
  while (IsSeparatorButParenthesis(c)) {
    start = at;
    if (!ReadNext(raw, end, &at, &c)) return none;
  }
  if (!IsAscii(c, '(') || !ReadNext(raw, end, &at, &c) || !IsAscii(c, '0') || !ReadNext(raw, end, &at, &c) ||
      !IsAscii(c, ')'))
    return none;
  return ByteSpan{start, at};
}

// The first pass over the number: the first fault in reading order, and
// whether its letters make it a vanity number.
struct NumberScan {
  NumberVerdict fault;  // kNumberAccepted when there is none
  size_t faultPosition;
  size_t firstLetter;  // the first letter that is no pause; 0 when none
  bool vanity;
};

static NumberScan ScanNumber(const char* raw, size_t begin, size_t end, ByteSpan trunk) {
  NumberScan scan = {kNumberAccepted, 0, 0, false};
  size_t kept = 0;
  size_t leadDigits = 0;
  size_t digits = 0;  // letters included
  bool inLetters = false;
  bool leadOnlyDigits = true;
  bool tailOnlyLetters = true;
  for (size_t at = begin; at < end;) {
    if (at == trunk.begin) {
      at = trunk.end;
      continue;
    }
    PhoneCharacter character = ReadPhoneCharacter(raw, end, &at);
    char c = character.ascii;
    if (character.kind == kCharacterBadEscape) {
      scan.fault = kNumberBadEscape;
    } else if (character.kind != kCharacterAscii || !(IsSeparator(c) || IsLetter(c) || IsKeptSymbol(c))) {
      scan.fault = kNumberBadCharacter;
    } else if (c == '+' && kept > 0) {
      scan.fault = kNumberLatePlus;
    }
    if (scan.fault != kNumberAccepted) {
      scan.faultPosition = character.position;
      break;
    }
    if (IsSeparator(c)) continue;
    kept++;
    if (IsLetter(c)) {
      if (!scan.firstLetter && !IsPause(c)) scan.firstLetter = character.position;
      inLetters = true;
      digits++;
      continue;
    }
    if (inLetters) tailOnlyLetters = false;
    if (IsDigit(c)) {
      digits++;
      if (!inLetters) leadDigits++;
    } else if (c != '+') {
      leadOnlyDigits = false;
    }
  }
  scan.vanity = scan.firstLetter && leadOnlyDigits && tailOnlyLetters && leadDigits >= kMinVanityLeadDigits &&
                digits >= kMinVanityDigits && digits <= kMaxVanityDigits;
  return scan;
}

// The second pass, over a number the first found sound. Returns whether it
// holds a digit.
static bool KeepNumber(const char* raw, size_t begin, size_t end, ByteSpan trunk, bool vanity,
                       NormalizedNumber* number, size_t* kept) {
  bool hasDigit = false;
  for (size_t at = begin; at < end;) {
    if (at == trunk.begin) {
      at = trunk.end;
      continue;
    }
    char c = ReadPhoneCharacter(raw, end, &at).ascii;
    if (IsSeparator(c)) continue;
    if (IsLetter(c)) c = vanity ? KeypadDigit(c) : Lower(c);
    if (IsDigit(c)) hasDigit = true;
    Keep(number, kept, c);
  }
  return hasDigit;
}

// An extension: at least one digit, visual separators allowed. Kept as a
// pause and the digits.
static bool KeepExtension(const char* raw, size_t begin, size_t end, NormalizedNumber* number, size_t* kept) {
  Keep(number, kept, ',');
  bool hasDigit = false;
  for (size_t at = begin; at < end;) {
    PhoneCharacter character = ReadPhoneCharacter(raw, end, &at);
    if (character.kind != kCharacterAscii) return false;
    if (IsSeparator(character.ascii)) continue;
    if (!IsDigit(character.ascii)) return false;
    hasDigit = true;
    Keep(number, kept, character.ascii);
  }
  return hasDigit;
}

// A phone-context: "+" and digits with visual separators, or a domain name.
static bool IsPhoneContext(const char* raw, size_t begin, size_t end) {
  bool global = false;
  bool hasDigitOrLetter = false;
  for (size_t at = begin; at < end;) {
    PhoneCharacter character = ReadPhoneCharacter(raw, end, &at);
    char c = character.ascii;
    if (character.kind != kCharacterAscii) return false;
    if (c == '+' && character.position == begin + 1) {
      global = true;
    } else if (IsDigit(c) || (!global && IsLetter(c))) {
      hasDigitOrLetter = true;
    } else if (!(c == '-' || c == '.' || (global && (c == '(' || c == ')')))) {
      return false;
    }
  }
  return hasDigitOrLetter;
}

static bool IsParameterName(const char* raw, size_t begin, size_t end) {
  if (begin == end) return false;
  for (size_t i = begin; i < end; i++)
    if (!(IsDigit(raw[i]) || IsLetter(raw[i]) || raw[i] == '-')) return false;
  return true;
}

// The parameters in raw[begin, end), each led by a ";". Returns the position
// of the first one at fault, 0 when all are sound.
static size_t ReadParameters(const char* raw, size_t begin, size_t end, NormalizedNumber* number, size_t* kept) {
  bool hasExtension = false;
  for (size_t start = begin; start < end;) {
    size_t nameBegin = start + 1;
    size_t position = nameBegin;  // of the ";", counted from 1
    size_t next = FindByte(raw, nameBegin, end, ';');
    size_t nameEnd = FindByte(raw, nameBegin, next, '=');
    size_t valueBegin = nameEnd < next ? nameEnd + 1 : next;
    bool hasValue = valueBegin < next;
    start = next;
    if (nameBegin == next) continue;
    if (!IsParameterName(raw, nameBegin, nameEnd)) return position;
    if (MatchesWord(raw, nameBegin, nameEnd, "ext", false)) {
      if (hasExtension || !KeepExtension(raw, valueBegin, next, number, kept)) return position;
      hasExtension = true;
    } else if (MatchesWord(raw, nameBegin, nameEnd, "isub", false)) {
      if (!hasValue) return position;
    } else if (MatchesWord(raw, nameBegin, nameEnd, "phone-context", false)) {
      if (!IsPhoneContext(raw, valueBegin, next)) return position;
    }
  }
  return 0;
}

void NormalizePhoneNumber(const char* raw, size_t length, NormalizedNumber* number) {
  size_t begin = 0;
  size_t end = length;
  while (begin < end && IsEdgeBlank((unsigned char)raw[begin])) begin++;
  while (end > begin && IsEdgeBlank((unsigned char)raw[end - 1])) end--;
  struct Scheme {
    const char* name;
    bool sip;
  };
  static const Scheme kSchemes[] = {{"tel:", false}, {"callto:", false}, {"sip:", true}, {"sips:", true}};
  bool sip = false;
  bool schemeGiven = false;
  for (const Scheme& scheme : kSchemes) {
    if (!MatchesWord(raw, begin, end, scheme.name, true)) continue;
    for (const char* c = scheme.name; *c; c++) begin++;
    sip = scheme.sip;
    schemeGiven = true;
    break;
  }
  size_t atSign = FindByte(raw, begin, end, '@');
  // teldial hands over a sip: link without its scheme, so an "@" as typed
  // makes a SIP address of it too; in a phone number it has no place anyway.
  if (!schemeGiven && atSign < end) sip = true;
  if (sip) {
    if (atSign == end) return Reject(number, kNumberWithoutUser, 0);
    end = FindByte(raw, begin, atSign, ':');
  }
  size_t parameters = FindByte(raw, begin, end, ';');

  ByteSpan trunk = FindTrunkPrefix(raw, begin, parameters);
  NumberScan scan = ScanNumber(raw, begin, parameters, trunk);
  bool letterAtFault = scan.firstLetter && !scan.vanity;
  if (letterAtFault && (scan.fault == kNumberAccepted || scan.firstLetter < scan.faultPosition))
    return Reject(number, kNumberBadCharacter, scan.firstLetter);
  if (scan.fault != kNumberAccepted) return Reject(number, scan.fault, scan.faultPosition);
  size_t kept = 0;
  bool hasDigit = KeepNumber(raw, begin, parameters, trunk, scan.vanity, number, &kept);
  size_t numberLength = kept;
  if (size_t position = ReadParameters(raw, parameters, end, number, &kept))
    return Reject(number, kNumberBadParameter, position);
  if (numberLength == 0) return Reject(number, kNumberEmpty, 0);
  if (!hasDigit) return Reject(number, kNumberWithoutDigit, 0);
  if (kept > kMaxNumberLength) return Reject(number, kNumberTooLong, 0);
  size_t international = 0;
  if (number->digits[0] == '+')
    while (international < kept - 1 && IsDigit(number->digits[1 + international])) international++;
  if (international > kMaxInternationalDigits) return Reject(number, kNumberTooManyDigits, 0);
  number->verdict = kNumberAccepted;
  number->length = kept;
  number->position = 0;
  number->digits[kept] = 0;
}

const char* DescribeNumberVerdict(NumberVerdict verdict) {
  static_assert(kMaxNumberLength == 128, "the phrase for kNumberTooLong names the limit");
  static_assert(kMaxInternationalDigits == 15, "the phrase for kNumberTooManyDigits names the limit");
  switch (verdict) {
    case kNumberAccepted:
      return "";
    case kNumberEmpty:
      return "no number";
    case kNumberWithoutDigit:
      return "no digit";
    case kNumberBadEscape:
      return "a percent sign without two hex digits";
    case kNumberBadCharacter:
      return "a character that has no place in a phone number";
    case kNumberLatePlus:
      return "a plus sign after the start";
    case kNumberTooLong:
      return "more than 128 characters";
    case kNumberBadParameter:
      return "a parameter that is not well formed";
    case kNumberWithoutUser:
      return "a SIP address without a user part";
    case kNumberTooManyDigits:
      return "more than 15 digits after the plus sign";
  }
  return "unknown";
}
