#include "service/number/recent_numbers.h"

#include <string.h>

void NoteRecentNumber(RecentNumbers* recent, const char* number) {
  size_t end = recent->count < kRecentNumberLimit ? recent->count : kRecentNumberLimit - 1;
  for (size_t i = 0; i < recent->count; i++)
    if (strcmp(recent->numbers[i], number) == 0) end = i;
  // Everything before the slot that is given up moves one down.
  memmove(recent->numbers[1], recent->numbers[0], end * sizeof recent->numbers[0]);
  strncpy(recent->numbers[0], number, kMaxNumberLength);
  recent->numbers[0][kMaxNumberLength] = 0;
  if (end == recent->count) recent->count++;
}
