#pragma once
// The first phone number in a text a person selected or copied: an e-mail, a
// PDF, a CRM field, a chat. "Call +49 5555 0123-0 today" holds
// "+49 5555 0123-0".
//
// A number starts with a digit, "+", "(", "*" or "#" that does not follow a
// letter or digit (so "ID4711" holds none), and runs over digits, "*", "#",
// the separators "-", ".", "/", "(" and ")", and single blanks between them
// (the Unicode spaces and dashes read as phone_characters.h says). It ends
// before anything else: a letter, a comma, a line break, two blanks. What
// comes after its last digit, "*" or "#" is not part of it. It counts only
// when NormalizePhoneNumber accepts it and it holds at least kMinDigitsInText
// digits; otherwise the search goes on after it.
#include <stddef.h>

const size_t kMinDigitsInText = 3;  // emergency and short internal numbers have three

// True with the number's first byte and length in text (as written there, for
// NormalizePhoneNumber); false when the text holds none. Reads exactly length
// bytes.
bool FindPhoneNumberInText(const char* text, size_t length, size_t* start, size_t* size);
