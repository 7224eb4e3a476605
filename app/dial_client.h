#pragma once
// Finds the dial service on UDP 127.0.0.1 ports 20000-20019 ("ping" answered by
// "pong") and sends it "dial " + the number. Always returns 0; the argument is
// not changed for the caller.
#include <stdint.h>

#include "../runtime/strings/managed_strings.h"

int32_t DialNumber(String number);
