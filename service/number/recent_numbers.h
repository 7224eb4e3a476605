#pragma once
// The numbers dialled last, newest first and each once, for the background
// program's "Recent numbers" menu.
#include <stddef.h>

#include "service/number/phone_number.h"

const size_t kRecentNumberLimit = 10;

struct RecentNumbers {
  char numbers[kRecentNumberLimit][kMaxNumberLength + 1];  // newest first, 0-terminated
  size_t count;
};

// number (at most kMaxNumberLength characters) goes first; the same number
// further down is taken out, and beyond the limit the oldest falls off.
void NoteRecentNumber(RecentNumbers* recent, const char* number);
