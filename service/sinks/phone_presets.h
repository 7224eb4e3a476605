#pragma once
// Known phones and PBXs: --phone KIND with --phone-address builds the --http
// request for them, and the request that ends the current call. One table in
// phone_presets.cpp holds every preset, one row each. The expanded texts keep
// "{number}", "{call}" and "{password}" for the requester to fill per call, as
// a hand-written --http template would.
#include <stddef.h>

#include "service/sinks/sink_options.h"

enum PhoneKind { kPhoneNone, kPhoneYealink, kPhoneSnom, kPhoneGrandstream, kPhonePoly, kPhoneFritzbox,
                 kPhoneAsterisk, kPhoneBaresip };

struct PhoneOptions {
  PhoneKind kind;
  const char16_t* address;   // HOST[:PORT] (IPv6 in brackets)
  bool https;                // --phone-https
  const char16_t* line;      // --phone-line N (digits)
  const char16_t* account;   // --phone-account
  const char16_t* endpoint;  // --phone-endpoint (asterisk)
  const char16_t* context;   // --phone-context (asterisk, default from-internal)
};

const size_t kMaxPresetText = 2048;
const size_t kMaxPresetHeaders = 2;

// What an expanded preset's HttpOptions point into.
struct PresetTexts {
  char16_t url[kMaxPresetText];
  char16_t body[kMaxPresetText];
  char16_t headers[kMaxPresetHeaders][256];
  char16_t hangUpUrl[kMaxPresetText];
  char16_t hangUpBody[kMaxPresetText];
  char16_t hangUpHeaders[kMaxHangUpHeaders][256];
  char16_t statusPath[256];
};

const unsigned kMaxPhoneLine = 99;

PhoneKind PhoneKindOfName(const char16_t* name);  // u"yealink" ... in any case; kPhoneNone when unknown
const char* PhoneKindName(PhoneKind kind);         // "yealink" ...; "" for kPhoneNone

// Which of line/account/endpoint/context a kind uses (for option checks and
// the settings window).
// Address and https every kind has; they only name a part at fault.
enum PhoneField { kPhoneFieldLine = 1, kPhoneFieldAccount = 2, kPhoneFieldEndpoint = 4, kPhoneFieldContext = 8,
                  kPhoneFieldAddress = 16, kPhoneFieldHttps = 32 };
unsigned PhoneFieldsOfKind(PhoneKind kind);

// Fills http's url, target, post, body, headers (the preset's before any
// given ones) and hangUp, and its user when the kind has a default one, from
// the preset;
// http's credentials must be set before, since some kinds need a password.
// False with a one-line problem (UTF-8, no line end) when a part is missing,
// not used by the kind, or wrong, and *faultField (may be null) the
// PhoneField whose value is at fault, 0 when none alone is. http then points
// into texts.
bool ExpandPhonePreset(const PhoneOptions& phone, HttpOptions* http, PresetTexts* texts, char* problem, size_t size,
                       unsigned* faultField = nullptr);

// What an answer with this status means for this kind, for the log; null when
// the kind says nothing special about it.
const char* PresetFailureHint(PhoneKind kind, unsigned long status);
