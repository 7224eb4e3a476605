#pragma once
// {user} and {computer} in phone-address, phone-account, phone-endpoint and
// http-user: one machine-wide settings file gives each desk its own phone,
// since the names are filled in when the options are read, from the user who
// runs the program and the computer it runs on (desk_names_win reads them).
// Pure text work.
#include <stddef.h>

const size_t kMaxDeskName = 257;  // a user name (UNLEN) and its end; a DNS host name is shorter

struct DeskNames {
  char16_t user[kMaxDeskName];      // "" when not known
  char16_t computer[kMaxDeskName];  // "" when not known
};

enum DeskNameError {
  kDeskNamesFilled,    // out holds the value with every field filled in
  kDeskNameUnknown,    // the name of *field is not known
  kDeskNameNotInHost,  // the name of *field holds what a host name cannot
  kDeskNamesTooLong,   // the filled value does not fit out
};

// Whether value holds {user} or {computer} (in any case).
bool HoldsDeskName(const char16_t* value);

// value with each {user} and {computer} (in any case) replaced by its name,
// into out (size characters). inHostName: value is HOST[:PORT], where a name
// may hold only the letters A to Z, digits and hyphens, so that it cannot
// take the request elsewhere (a dot into another domain, a colon to a port,
// a blank or a non-ASCII letter to a name nobody gave the phone). *field (may
// be null): "{user}" or "{computer}" when that name is at fault.
DeskNameError FillDeskNames(const char16_t* value, const DeskNames& names, bool inHostName, char16_t* out,
                            size_t size, const char** field);
