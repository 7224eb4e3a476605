#pragma once
// Shared pieces of the libFuzzer targets over the portable core.
//
// StartFuzzedCore() runs once before the first input: it starts the string
// runtime and makes every error that the string allocator detects (a double
// or invalid free, a write past a block) end the run like a sanitizer report.
// The helpers build managed strings of each kind from fuzz data; every string
// they make is released by the caller, so the allocation counter ends where it
// started after each input.
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "runtime/strings/managed_strings.h"

void StartFuzzedCore();

// Fuzz bytes read as little-endian UTF-16 units; an odd last byte is dropped.
std::u16string UnitsFromBytes(const uint8_t* data, size_t size);

// The text up to its first 0 unit, as the runtime's walks see it.
std::u16string UpToTerminator(const std::u16string& text);

// Ways a caller can hold a string, each with its own disposal.
enum class Holding {
  kNull,         // null reference (empty)
  kSharedEmpty,  // the shared empty string, whatever the text
  kTemporary,    // a temporary of exactly the text
  kPermanent,    // a variable's own string
  kLiteral,      // static-style storage with its header on a 2-byte boundary
};
Holding HoldingFromByte(uint8_t byte);

// A string holding `text` in the given way. Release it with Dispose.
struct HeldString {
  String value;
  Holding holding;
  void* literalStorage;  // for kLiteral only
};
HeldString Hold(const std::u16string& text, Holding holding);
void Dispose(HeldString* held);

// What a reference holds: its header length's worth of units.
std::u16string TextOf(String s);

// Whether s holds exactly `text` followed by its terminator. Compares in place:
// the checks run after every step, and a copy per check costs more than the
// operations under test.
bool HoldsText(String s, const std::u16string& text);

// Ends the run with a message when the condition fails.
#define FUZZ_CHECK(condition) \
  ((condition) ? (void)0 : FuzzCheckFailed(#condition, __FILE__, __LINE__))
[[noreturn]] void FuzzCheckFailed(const char* condition, const char* file, int line);
